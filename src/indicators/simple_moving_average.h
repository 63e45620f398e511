#pragma once

#include <cstdint>

#include "../describe.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../window.h"
#include "../warmup.h"

namespace barworks {

// Mean of the last `period` inputs, kept as a running sum:
//   sum = (x - old) + sum;  result = sum / count
// where old is the value the input evicts (0.0 while the window fills) and
// count grows to `period`. During warm-up this is the mean of the inputs so
// far. The sum is never recomputed, so rounding error is carried along, a
// NaN poisons it until reset and an infinity leaving the window turns it NaN.
struct SimpleMovingAverage {
  CircularWindow window;
  double sum;

  static Expected<SimpleMovingAverage> create(std::uint32_t period) noexcept;
  double update(double x) noexcept { return advance(*this, x, window, sum); }
  void reset() noexcept;
  std::uint32_t length() const noexcept { return window.period; }

  // The rule over a number type, for a lone average or lanes side by side.
  template <class Number, class Window>
  static Number advance(const SimpleMovingAverage&, Number x, Window& window, Number& sum) noexcept {
    x = canonical(x);
    const Number old = window.push(x);
    sum = (x - old) + sum;
    return sum / window.filled();
  }
};

template <>
struct PythonClass<SimpleMovingAverage> : PeriodIndicator<SimpleMovingAverage> {
  static constexpr const char* kName = "SimpleMovingAverage";
};

template <>
struct Checkpoint<SimpleMovingAverage> {
  using R = SimpleMovingAverage;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), number<&R::sum>("sum"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period")};
};

template <>
struct LaneFields<SimpleMovingAverage> {
  using List = FieldList<&SimpleMovingAverage::window, &SimpleMovingAverage::sum>;
};

template <>
struct Warmup<SimpleMovingAverage> : WindowWarmup<SimpleMovingAverage> {};

}  // namespace barworks
