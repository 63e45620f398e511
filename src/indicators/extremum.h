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
  double candidate = Order::kFill;
  std::uint32_t found = 0;
  for (std::uint32_t slot = 0; slot < period; ++slot) {
    if (Order::beats(values[slot], candidate)) {
      candidate = values[slot];
      found = slot;
    }
  }
  return found;
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
