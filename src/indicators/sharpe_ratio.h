#pragma once

#include <cstdint>

#include "../describe.h"
#include "../error.h"
#include "../lanes.h"
#include "simple_moving_average.h"
#include "standard_deviation.h"
#include "../warmup.h"

namespace barworks {

// Per-period Sharpe ratio of the last `period` inputs: (M - rf) / D, with M
// the simple moving average and D the population standard deviation of the
// same window, both fed every input. The first result after construction or
// reset is 0.0 whatever the input (which still enters both windows); from
// the second on the ratio covers the inputs so far. No guard on D: a zero
// deviation gives +inf or -inf, or NaN where M equals rf. A NaN rf makes
// every later result NaN; a NaN or infinite input does so until reset.
struct SharpeRatio {
  SimpleMovingAverage average;
  StandardDeviation deviation;
  double rf;
  std::uint32_t steps;

  static Expected<SharpeRatio> create(std::uint32_t period, double rf) noexcept;
  double update(double x) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return average.length(); }

  // From the second input on, each step is the rule over a number type
  // alone, for a lone ratio or lanes side by side. Only "first input or
  // not" matters, so the step counter saturates instead of wrapping back
  // to a first input after 2^32 steps.
  bool steady() const noexcept { return steps != 0; }
  template <class Number, class AverageWindow, class DeviationWindow, class Steps>
  static Number advance(const SharpeRatio& shared, Number x, AverageWindow& average_window,
                        Number& average_sum, DeviationWindow& deviation_window,
                        Number& deviation_sum, Number& deviation_sum_sq, Steps& steps) noexcept {
    const Number mean =
        SimpleMovingAverage::advance(shared.average, x, average_window, average_sum);
    const Number spread = StandardDeviation::advance(shared.deviation, x, deviation_window,
                                                     deviation_sum, deviation_sum_sq);
    count_up(steps);
    return (mean - splat<Number>(shared.rf)) / spread;
  }
};

template <>
struct PythonClass<SharpeRatio> {
  using R = SharpeRatio;
  static constexpr const char* kName = "SharpeRatio";
  static constexpr auto kConstructor = constructor<&R::create>("period", "rf");
  static constexpr auto kMethods =
      std::tuple{method<&R::length>("period", Access::kExclusive),
                 method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

// Both records take every input, so they share period, write slot and
// count, and the count is the step counter capped at the period.
template <>
struct Checkpoint<SharpeRatio> {
  using R = SharpeRatio;
  static constexpr auto kFields = std::tuple{
      component<&R::average>("average"), component<&R::deviation>("deviation"), number<&R::rf>("rf"),
      tally<&R::steps>("steps"),
      rule<R>(
          [](const R& r) noexcept {
            const CircularWindow& a = r.average.window;
            const CircularWindow& d = r.deviation.window;
            return a.period == d.period && a.index == d.index && a.count == d.count;
          },
          "the average and the deviation must cover the same window"),
      rule<R>(
          [](const R& r) noexcept {
            const CircularWindow& a = r.average.window;
            return a.count == (r.steps < a.period ? r.steps : a.period);
          },
          "the count must be the step counter capped at the period")};
};

template <>
struct LaneFields<SharpeRatio> {
  using R = SharpeRatio;
  using List =
      FieldList<within<&R::average, &SimpleMovingAverage::window>,
                within<&R::average, &SimpleMovingAverage::sum>,
                within<&R::deviation, &StandardDeviation::window>,
                within<&R::deviation, &StandardDeviation::sum>,
                within<&R::deviation, &StandardDeviation::sum_sq>, &R::steps>;
};

// The first answer is 0.0 by rule, so at least that one is blanked.
template <>
struct Warmup<SharpeRatio> {
  using R = SharpeRatio;
  static std::uint64_t lookback(const R& record) noexcept {
    return std::max<std::uint64_t>(record.length() - 1, 1);
  }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.average.window.count; }
};

}  // namespace barworks
