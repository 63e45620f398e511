// The one implementation behind Minimum and Maximum, which differ only in
// the order they keep: its fill value and its strict comparison.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
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

// a if it beats b, else b, lane by lane: one minsd or maxsd (minpd or maxpd
// for a pair), a NaN a never taken.
template <class Order, class Number>
inline Number more_extreme(Number a, Number b) noexcept {
  if constexpr (Order::beats(0.0, 1.0)) {
    return less_or_second(a, b);
  } else {
    return greater_or_second(a, b);
  }
}

// Extremum's batch path: the answers of `steps` steps of lanes of one
// extremum (one record, or a universe's lanes, which write the same slot),
// as that many calls of update would give, leaving each record as they
// would. Lane j's input of step t lies at rows + t * row_stride + j *
// sizeof(double), its answer at answers[t * count + j]: a lone record's
// dense column is one lane whose rows are its cells.
//
// Once the first full block of slots is reached (a block is `period` steps
// from one that writes slot 0), the answers are the window's extremes
// without following the remembered slot: once every slot has been written,
// a remembered value that is a number other than the fill is the window's
// extreme. Each step's extreme is the better of the block's inputs so far
// (a prefix) and the previous block's from the window's oldest on (a
// suffix, folded from its end while that block was answered and left in
// this block's answers until they are written). Only a zero (which sign)
// or a window without such a number (the fill or a NaN in slot 0, kept
// until slot 0 is written again, which starts a block) needs the slot. A
// lane's block with such an answer, and its last blocks (where its slot
// must come out right), are stepped by the rules themselves (the trail)
// from the latest input that beat the answer before it: that input beat
// its whole window, so the slot is its own however it was reached.
template <class Order, bool kOneColumn = false>
struct ExtremumRows {
  Extremum<Order>* lanes;
  std::size_t count;
  std::size_t steps;
  const char* rows;
  std::ptrdiff_t row_stride;
  double* answers;

  // A lane's steps by the rules: the time they have reached, and the time
  // and value of its remembered slot there.
  struct Trail {
    std::size_t settled;
    std::size_t extreme;
    double best;
  };
  // Whether run() can take the lanes: one write slot, and enough steps for
  // two blocks after the first full window.
  bool runs() const noexcept;
  // The doubles run() needs to copy a lane's inputs and answers into,
  // unless the lane is one dense column.
  std::size_t copy_cells() const noexcept { return in_place() ? 0 : 2 * steps; }
  // `trails` holds one per lane, `copies` copy_cells() doubles.
  void run(Trail* trails, double* copies) noexcept;

 private:
  // A lone record's column is one lane whose rows are its cells; the
  // counts and strides of it are constants to the compiler.
  std::size_t lane_count() const noexcept { return kOneColumn ? 1 : count; }
  std::ptrdiff_t stride() const noexcept {
    return kOneColumn ? static_cast<std::ptrdiff_t>(sizeof(double)) : row_stride;
  }
  bool in_place() const noexcept {
    return lane_count() == 1 && stride() == static_cast<std::ptrdiff_t>(sizeof(double));
  }
  std::size_t period() const noexcept { return lanes[0].period; }
  std::size_t first_block() const noexcept {
    const std::size_t n = period();
    return n + (n - lanes[0].index) % n;
  }
  const char* cell(std::size_t t, std::size_t lane) const noexcept {
    return rows + static_cast<std::ptrdiff_t>(t) * stride() +
           static_cast<std::ptrdiff_t>(lane * sizeof(double));
  }
  template <class Number>
  static Number load_cells(const char* at) noexcept {
    Number value;
    std::memcpy(&value, at, sizeof value);
    return value;
  }
  double input(std::size_t t, std::size_t lane) const noexcept {
    return load_cells<double>(cell(t, lane));
  }
  double& answer(std::size_t t, std::size_t lane) const noexcept {
    return answers[t * lane_count() + lane];
  }
  // visit.template operator()<Number>(lane) for each pair of lanes and
  // the odd lane.
  template <class Visit>
  void each_lane(Visit visit) const noexcept {
    std::size_t lane = 0;
    if constexpr (!kOneColumn) {
      for (; lane + 2 <= count; lane += 2) visit.template operator()<DoublePair>(lane);
    }
    if (lane < lane_count()) visit.template operator()<double>(lane);
  }
};

template <class Order, bool kOneColumn>
bool ExtremumRows<Order, kOneColumn>::runs() const noexcept {
  if (lane_count() == 0 || lanes[0].period < 2) return false;
  for (std::size_t j = 1; j < lane_count(); ++j) {
    if (lanes[j].index != lanes[0].index) return false;
  }
  return steps >= first_block() + 2 * period();
}

template <class Order, bool kOneColumn>
void ExtremumRows<Order, kOneColumn>::run(Trail* trails, double* copies) noexcept {
  const std::size_t n = period();
  const std::size_t start = lanes[0].index;
  const std::size_t first = first_block();
  // A lone dense column is read and answered in place, with no copies.
  double* own_inputs = copies;
  double* own_answers = in_place() ? nullptr : copies + steps;
  const auto pick = [](auto a, auto b) { return more_extreme<Order>(a, b); };

  for (std::size_t t = 0; t < first; ++t) {
    for (std::size_t j = 0; j < lane_count(); ++j) answer(t, j) = lanes[j].update(input(t, j));
  }
  for (std::size_t j = 0; j < lane_count(); ++j) {
    const auto slot = static_cast<std::uint32_t>(lanes[j].extreme_index);
    trails[j] = Trail{first, first - n + slot, lanes[j].values[slot]};
  }
  // Lane j's steps by the rules up to `end`, from the latest input after
  // its settled time and before `before` that beat the answer before it,
  // or else from its settled time; over its own inputs from the block
  // before the first step's window, copied unless they lie in place.
  const auto settle = [&](std::size_t j, std::size_t before, std::size_t end) {
    Trail& lane = trails[j];
    std::size_t from = lane.settled;
    for (std::size_t t = before; t-- > lane.settled + 1;) {
      if (Order::beats(input(t, j), answer(t - 1, j))) {
        lane.extreme = t;
        lane.best = canonical(input(t, j));
        from = t + 1;
        break;
      }
    }
    const std::size_t origin = first - n + (from - first) / n * n;
    const char* inputs = cell(origin, j);
    double* trail_answers = &answer(origin, j);
    if (!in_place()) {
      for (std::size_t t = origin; t < end; ++t) own_inputs[t - origin] = input(t, j);
      inputs = reinterpret_cast<const char*>(own_inputs);
      trail_answers = own_answers;
    }
    ExtremumTrail<Order> trail{inputs, n, 0, lane.extreme - origin, lane.best};
    trail.run(from - origin, end - origin, trail_answers);
    if (!in_place()) {
      for (std::size_t t = from; t < end; ++t) answer(t, j) = own_answers[t - origin];
    }
    lane = Trail{end, trail.extreme + origin, trail.best};
  };

  // The suffixes of the block before the first.
  each_lane([&]<class Number>(std::size_t j) {
    Number suffix = splat<Number>(Order::kFill);
    for (std::size_t t = first - 1; t > first - n; --t) {
      suffix = pick(load_cells<Number>(cell(t, j)), suffix);
      store_lanes(&answer(t + n - 1, j), suffix);
    }
  });
  // Each block two lanes at a time: a pair's folds stay in registers down
  // the block's rows, whose lines the next pairs read while at hand.
  std::size_t block = first;
  for (; block + 2 * n <= steps; block += n) {
    const std::size_t last = block + n - 1;
    each_lane([&]<class Number>(std::size_t j) {
      Number prefix = splat<Number>(Order::kFill), suffix = prefix;
      Number least = splat<Number>(std::numeric_limits<double>::infinity());
      // Row by row: down from the block's last input, up from its first.
      const char* older = cell(last, j);
      const char* newer = cell(block, j);
      double* folded = &answer(last + n - 1, j);
      double* answered = &answer(block, j);
      for (std::size_t k = 0; k + 1 < n; ++k) {
        suffix = pick(load_cells<Number>(older), suffix);
        store_lanes(folded, suffix);
        prefix = pick(load_cells<Number>(newer), prefix);
        const Number extreme_now = pick(load_lanes<Number>(answered), prefix);
        store_lanes(answered, extreme_now);
        least = less_or_second(absolute(extreme_now), least);
        older -= stride();
        newer += stride();
        folded -= lane_count();
        answered += lane_count();
      }
      // The last step's window is the block.
      prefix = pick(load_cells<Number>(newer), prefix);
      store_lanes(answered, prefix);
      least = less_or_second(absolute(prefix), least);
      // The answers are never NaN. One is the fill only while the block's
      // inputs so far are all the fill or NaN, so only if its first is;
      // one is a zero only if the least magnitude is.
      double leasts[sizeof(Number) / sizeof(double)];
      std::memcpy(leasts, &least, sizeof least);
      for (std::size_t i = 0; i < std::size(leasts); ++i) {
        if (leasts[i] == 0.0 || !Order::beats(input(block, j + i), Order::kFill)) {
          settle(j + i, block, block + n);
        }
      }
    });
  }
  for (std::size_t j = 0; j < lane_count(); ++j) {
    settle(j, block, steps);
    // The window as the steps would leave it: the last `period` inputs in
    // their slots.
    Extremum<Order>& lane = lanes[j];
    for (std::size_t t = steps - n; t < steps; ++t) {
      lane.values[static_cast<std::uint32_t>((start + t) % n)] = canonical(input(t, j));
    }
    lane.index = (start + steps) % n;
    lane.extreme_index = (start + trails[j].extreme) % n;
  }
}

// Answers read(0) .. read(size - 1) into answers[0 .. size), as that many
// calls of update would, and leaves the record as they would: over dense
// inputs by the block path, one lane in place.
template <class Order, class Read>
void run_extremum(Extremum<Order>& record, std::size_t size, Read read, double* answers) noexcept {
  if constexpr (requires { read.dense(); }) {
    if (const auto dense = read.dense()) {
      ExtremumRows<Order, true> lane{&record, 1, size, dense->data, sizeof(double), answers};
      if (lane.runs()) {
        typename ExtremumRows<Order, true>::Trail trail;
        lane.run(&trail, nullptr);
        return;
      }
    }
  }
  for (std::size_t i = 0; i < size; ++i) answers[i] = record.update(read(i));
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
