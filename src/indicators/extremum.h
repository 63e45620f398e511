// The one implementation behind Minimum and Maximum, which differ only in
// the order they keep: its fill value and its strict comparison.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "../checkpoint.h"
#include "../describe.h"
#include "../error.h"
#include "../window.h"
#include "../warmup.h"
#include "../nan.h"
#include "extreme_scan.h"

namespace barworks {

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
  double update(double x) noexcept;
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
double Extremum<Order>::update(double x) noexcept {
  x = canonical(x);
  const auto slot = static_cast<std::uint32_t>(index);
  values[slot] = x;
  const double extreme = values[static_cast<std::uint32_t>(extreme_index)];
  if (Order::beats(x, extreme)) {
    extreme_index = slot;
  } else if (extreme_index == slot) {
    extreme_index = scan();
  }
  index = next_slot(slot, period);
  return values[static_cast<std::uint32_t>(extreme_index)];
}

template <class Order>
void Extremum<Order>::reset() noexcept {
  values.fill(Order::kFill);
}

template <class Order>
std::uint32_t Extremum<Order>::scan() const noexcept {
  const std::size_t found =
      first_extreme<Order>(reinterpret_cast<const char*>(values.begin()), period, Order::kFill);
  return found < period ? static_cast<std::uint32_t>(found) : 0;
}

template <class Record>
inline constexpr bool kIsExtremum = false;
template <class Order>
inline constexpr bool kIsExtremum<Extremum<Order>> = true;

// Answers read(0) .. read(size - 1) into answers[0 .. size), as that many
// calls of update would, and leaves the record as they would. Once the
// first `period` inputs have filled every slot, the extreme is followed by
// its position among the inputs, which a reader whose inputs lie one after
// another lets a rescan read in place: in the window's slot order, that is
// from the input in slot 0 to the newest, then from the oldest on.
template <class Order, class Read>
void run_extremum(Extremum<Order>& record, std::size_t size, Read read, double* answers) noexcept {
  const std::size_t period = record.period;
  const std::size_t start = record.index;  // the slot of input 0
  std::size_t i = 0;
  for (; i < size && i < period; ++i) answers[i] = record.update(read(i));
  const char* cells = nullptr;
  if constexpr (requires { read.dense(); }) {
    if (const auto dense = read.dense()) cells = dense->data;
  }
  if (cells == nullptr) {
    for (; i < size; ++i) answers[i] = record.update(read(i));
    return;
  }
  const auto from = [cells](std::size_t position) { return cells + position * sizeof(double); };
  std::size_t extreme = (record.extreme_index + period - start) % period;
  double best = record.values[static_cast<std::uint32_t>(record.extreme_index)];
  // The latest input written to slot 0.
  std::size_t first = (period - start) % period;
  for (; i < size; ++i) {
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
  // The window as the steps would leave it: the last `period` inputs in
  // their slots, those before `period` already there.
  for (std::size_t k = std::max(period, size - period); k < size; ++k) {
    record.values[static_cast<std::uint32_t>((start + k) % period)] = canonical(cell_at(cells, k));
  }
  record.index = (start + size) % period;
  record.extreme_index = (start + extreme) % period;
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
