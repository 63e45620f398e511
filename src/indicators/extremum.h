// The one implementation behind Minimum and Maximum, which differ only in
// the order they keep: its fill value and its strict comparison.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "../branch_free.h"
#include "../checkpoint.h"
#include "../describe.h"
#include "../error.h"
#include "../lanes.h"
#include "../window.h"
#include "../warmup.h"
#include "../nan.h"
#include "extreme_scan.h"

namespace barworks {

// The slot of a window's extreme as Extremum scans for it: the lowest slot
// that beats every earlier one, starting from Order::kFill; slot 0 when no
// slot beats the fill.
template <class Order>
std::uint32_t first_extreme_slot(const Window& values, std::uint32_t period) noexcept {
  const std::size_t found =
      first_extreme<Order>(reinterpret_cast<const char*>(values.begin()), period, Order::kFill);
  return found < period ? static_cast<std::uint32_t>(found) : 0;
}

// The most extreme of the last `period` inputs in the sense of `Order`
// (Order::kFill, the value no number can lose to, and Order::beats(a, b),
// true when a is strictly more extreme than b; Order also names the class
// and its index method). Unfilled slots hold kFill,
// so during warm-up the result is the extreme of the inputs so far.
//
// The slot of the current extreme is remembered: an input that beats it
// takes over, an input that merely ties does not, and overwriting the
// remembered slot without beating it rescans the window. A scan keeps the
// lowest-numbered slot that beats every earlier one, starting from kFill;
// NaN never beats anything, so a window of fill values and NaN scans to
// slot 0. Hence a NaN is returned only while it sits in the remembered slot.
//
// reset refills the window but keeps the write slot and the remembered
// slot: the input after a reset goes where it would have gone without it.
template <class Order>
struct Extremum {
  Window values;
  std::uint32_t period;
  std::size_t extreme_index;
  std::size_t index;

  static Expected<Extremum> create(std::uint32_t period) noexcept;
  double update(double x) noexcept { return advance(*this, x, values, extreme_index, index); }
  // The rule for a lone record or a universe's lane, one at a time:
  // `values` reads and writes a slot as values[slot] and is found afresh by
  // first_extreme_slot().
  template <class Values, class Slot>
  static double advance(const Extremum& shared, double x, Values& values, Slot& extreme_index,
                        Slot& index) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return period; }
  // The slot of the window's extreme, found afresh; unlike the remembered
  // slot it picks the lowest of equal extremes and never a NaN.
  std::uint32_t find_index() const noexcept { return scan(); }

 private:
  std::uint32_t scan() const noexcept;
};

// The remembered slot and the write slot both lie inside the window; reset
// keeps both, so nothing ties them to the window's contents.
template <class Order>
struct Checkpoint<Extremum<Order>> {
  using R = Extremum<Order>;
  static constexpr auto kFields =
      std::tuple{period<&R::period>("period", kWindowLimit),
                 below<&R::extreme_index, &R::period>("extreme_index"),
                 below<&R::index, &R::period>("index"), values<&R::values, &R::period, &R::index>("values")};
};

template <class Order>
Expected<Extremum<Order>> Extremum<Order>::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  auto window = Window::allocate(period, Order::kFill);
  if (!window) return std::unexpected(window.error());
  return Extremum{std::move(*window), period, 0, 0};
}

template <class Order>
template <class Values, class Slot>
double Extremum<Order>::advance(const Extremum& shared, double x, Values& values,
                                Slot& extreme_index, Slot& index) noexcept {
  x = canonical(x);
  const auto slot = static_cast<std::uint32_t>(index);
  values[slot] = x;
  const double extreme = values[static_cast<std::uint32_t>(extreme_index)];
  if (Order::beats(x, extreme)) {
    extreme_index = slot;
  } else if (extreme_index == slot) {
    extreme_index = first_extreme_slot<Order>(values, shared.period);
  }
  index = next_slot(slot, shared.period);
  return values[static_cast<std::uint32_t>(extreme_index)];
}

template <class Order>
void Extremum<Order>::reset() noexcept {
  values.fill(Order::kFill);
}

template <class Order>
std::uint32_t Extremum<Order>::scan() const noexcept {
  return first_extreme_slot<Order>(values, period);
}

template <class Order>
struct LaneFields<Extremum<Order>> {
  using R = Extremum<Order>;
  using List = FieldList<&R::values, &R::extreme_index, &R::index>;
  static constexpr bool kOneLaneAtATime = true;
};

template <class Record>
inline constexpr bool kIsExtremum = false;
template <class Order>
inline constexpr bool kIsExtremum<Extremum<Order>> = true;

// The exact steps of a batch over inputs lying one after another, from a
// known remembered extreme: update's rules with the window read in place.
// Times count inputs from the batch's first; `block` is a time written to
// slot 0, so the window's slot order runs from the latest such time to the
// newest input, then from the oldest on.
template <class Order>
struct ExtremumTrail {
  const char* cells;
  std::size_t period;
  std::size_t block;
  std::size_t extreme;  // the time of the remembered slot's input
  double best;          // its value

  const char* from(std::size_t time) const noexcept { return cells + time * sizeof(double); }

  // The remembered slot once the input at `time` is its only candidate.
  void settle_on(std::size_t time) noexcept {
    extreme = time;
    best = canonical(cell_at(cells, time));
  }

  // Steps the inputs at times [begin, end) into answers.
  void run(std::size_t begin, std::size_t end, double* answers) noexcept {
    std::size_t first = block + (begin - block) / period * period;
    for (std::size_t i = begin; i < end; ++i) {
      const double x = canonical(cell_at(cells, i));
      if (extreme + period == i) {
        // The extreme's slot takes x: rescan, as update does. The extreme's
        // value does not depend on the order; which of equal values is
        // kept does.
        while (first + period <= i) first += period;
        const std::size_t oldest = i + 1 - period;
        const double found = fold_extreme<Order>(from(oldest), period, Order::kFill);
        if (!Order::beats(found, Order::kFill)) {
          extreme = first;
        } else {
          extreme = first + first_equal(from(first), i + 1 - first, found);
          if (extreme > i) extreme = oldest + first_equal(from(oldest), first - oldest, found);
        }
        best = canonical(cell_at(cells, extreme));
      } else if (Order::beats(x, best)) {
        extreme = i;
        best = x;
      }
      answers[i] = best;
    }
  }
};

// a if it beats b, else b: one minsd or maxsd, a NaN a never taken.
template <class Order>
inline double more_extreme(double a, double b) noexcept {
  if constexpr (Order::beats(0.0, 1.0)) {
    return less_or_second(a, b);
  } else {
    return greater_or_second(a, b);
  }
}

// The suffixes of the block starting at `block` that a window can hold,
// left where extremes_of_block reads them.
template <class Order>
void fold_block(const char* cells, std::size_t period, std::size_t block,
                double* answers) noexcept {
  double suffix = Order::kFill;
  for (std::size_t t = block + period - 1; t > block; --t) {
    suffix = more_extreme<Order>(cell_at(cells, t), suffix);
    answers[t + period - 1] = suffix;
  }
}

// The window's extreme over the blocks of `period` times that start where
// slot 0 is written, for the block starting at `block`: each time's extreme
// is the better of the block's inputs so far and the previous block's
// inputs from the window's oldest on. Those suffixes were left in
// answers[block .. block + period - 2] (the suffix from the previous block's
// time t at answers[t + period - 1], the answer read just before it is
// written); this block's are left the same way for the next, folded from its
// end as the block is stepped. The values only: false when an answer is one
// whose bits the remembered slot decides, a zero (of which sign the slot
// holds) or the fill.
template <class Order>
bool extremes_of_block(const char* cells, std::size_t period, std::size_t block,
                       double* answers) noexcept {
  const auto pick = more_extreme<Order>;
  // The answers are never NaN. One is the fill only while the block's
  // inputs so far are all the fill or NaN, so only if its first is; one is a
  // zero only if the least magnitude is.
  double least_magnitude = std::numeric_limits<double>::infinity();
  const auto note = [&](double answer) {
    const double magnitude = std::fabs(answer);
    least_magnitude = less_or_second(magnitude, least_magnitude);
  };
  double prefix = Order::kFill, suffix = Order::kFill;
  const std::size_t last = block + period - 1;
  for (std::size_t j = 0; j + 1 < period; ++j) {
    suffix = pick(cell_at(cells, last - j), suffix);
    answers[last - j + period - 1] = suffix;
    prefix = pick(cell_at(cells, block + j), prefix);
    const double answer = pick(answers[block + j], prefix);
    answers[block + j] = answer;
    note(answer);
  }
  // The last step's window is the block.
  prefix = pick(cell_at(cells, last), prefix);
  answers[last] = prefix;
  note(prefix);
  return least_magnitude != 0.0 && Order::beats(cell_at(cells, block), Order::kFill);
}

// Answers read(0) .. read(size - 1) into answers[0 .. size), as that many
// calls of update would, and leaves the record as they would.
//
// Over dense inputs, once the first full block of slots is reached, the
// answers are the window's extremes (extremes_of_block) without following
// the remembered slot: once every slot has been written, a remembered value
// that is a number other than the fill is the window's extreme. Only a
// zero (which sign) or a window without such a number (the fill or a NaN in
// slot 0, kept until slot 0 is written again, which starts a block) needs
// the slot. A block with such an answer, and the batch's end (where the
// record's slot must come out right), are stepped by the rules themselves
// from the latest input that beat the answer before it: that input beat its
// whole window, so the slot is its own however it was reached.
template <class Order, class Read>
void run_extremum(Extremum<Order>& record, std::size_t size, Read read, double* answers) noexcept {
  const std::size_t period = record.period;
  const std::size_t start = record.index;  // the slot of input 0
  const char* cells = nullptr;
  if constexpr (requires { read.dense(); }) {
    if (const auto dense = read.dense()) cells = dense->data;
  }
  // The first time after a full window that writes slot 0.
  const std::size_t first_block = period + (period - start) % period;
  if (cells == nullptr || period < 2 || size < first_block + 2 * period) {
    for (std::size_t i = 0; i < size; ++i) answers[i] = record.update(read(i));
    return;
  }
  for (std::size_t i = 0; i < first_block; ++i) answers[i] = record.update(read(i));
  ExtremumTrail<Order> trail{cells, period, first_block,
                             first_block - period + record.extreme_index,
                             record.values[static_cast<std::uint32_t>(record.extreme_index)]};
  std::size_t settled = first_block;  // answers before it are final, the trail's state at it
  fold_block<Order>(cells, period, first_block - period, answers);
  // Steps the trail to `end` from the latest input after `settled` and
  // before `before` that beat the answer before it, or else from `settled`.
  const auto settle = [&](std::size_t before, std::size_t end) {
    std::size_t from = settled;
    for (std::size_t t = before; t-- > settled + 1;) {
      if (Order::beats(cell_at(cells, t), answers[t - 1])) {
        trail.settle_on(t);
        from = t + 1;
        break;
      }
    }
    trail.run(from, end, answers);
    settled = end;
  };
  std::size_t block = first_block;
  for (; block + 2 * period <= size; block += period) {
    if (!extremes_of_block<Order>(cells, period, block, answers)) settle(block, block + period);
  }
  settle(block, size);
  // The window as the steps would leave it: the last `period` inputs in
  // their slots, those before `period` already there.
  for (std::size_t k = std::max(period, size - period); k < size; ++k) {
    record.values[static_cast<std::uint32_t>((start + k) % period)] = canonical(cell_at(cells, k));
  }
  record.index = (start + size) % period;
  record.extreme_index = (start + trail.extreme) % period;
}

// next, period and reset hold the instance exclusively; the index method
// only reads the window and shares it.
template <class Order>
struct PythonClass<Extremum<Order>> {
  using R = Extremum<Order>;
  static constexpr const char* kName = Order::kClassName;
  static constexpr auto kConstructor = constructor<&R::create>("period");
  static constexpr auto kMethods =
      std::tuple{method<&R::length>("period", Access::kExclusive),
                 method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive),
                 method<&R::find_index>(Order::kIndexMethod, Access::kShared)};
};

// Minimum and Maximum keep no count and reset keeps their write slot: the
// slots written since are those no longer holding the fill value, bit for
// bit. An input equal to the fill (+inf for Minimum, -inf for Maximum) is
// therefore counted as not yet seen.
template <class Order>
struct Warmup<Extremum<Order>> {
  using R = Extremum<Order>;
  static std::uint64_t lookback(const R& record) noexcept { return std::uint64_t{record.period} - 1; }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    const auto fill = std::bit_cast<std::uint64_t>(Order::kFill);
    return static_cast<std::uint64_t>(
        std::count_if(record.values.begin(), record.values.end(),
                      [&](double value) { return std::bit_cast<std::uint64_t>(value) != fill; }));
  }
};

}  // namespace barworks
