#pragma once

#include <array>
#include <cstdint>

#include "../describe.h"
#include "../error.h"
#include "exponential_moving_average.h"
#include "../warmup.h"

namespace barworks {

// Three exponential moving averages: of the inputs over the long and the
// short period, and of the MACD line over the signal period. Each input x
// gives
//   macd = short(x) - long(x);  signal = signal_average(macd);
//   histogram = macd - signal
// returned as (macd, signal, histogram). The first result after
// construction or reset is (0.0, 0.0, 0.0) for any finite x; later ones
// start the signal line from that 0.0. A NaN or infinite input turns all
// three into NaN until reset. The periods are not related to one another.
struct MovingAverageConvergenceDivergence {
  ExponentialMovingAverage long_average;
  ExponentialMovingAverage short_average;
  ExponentialMovingAverage signal_average;

  // A zero period fails, the first in the order long, short, signal.
  static Expected<MovingAverageConvergenceDivergence> create(std::uint32_t long_period,
                                                             std::uint32_t short_period,
                                                             std::uint32_t signal_period) noexcept;
  std::array<double, 3> update(double x) noexcept;
  void reset() noexcept;

  // Once the averages have started, the rule over a number type alone.
  bool steady() const noexcept { return signal_average.steady(); }
  template <class Number>
  static std::array<Number, 3> advance(const MovingAverageConvergenceDivergence& shared, Number x,
                                       Number& long_mean, Number& short_mean,
                                       Number& signal) noexcept {
    const Number slow = ExponentialMovingAverage::advance(shared.long_average, x, long_mean);
    const Number macd = ExponentialMovingAverage::advance(shared.short_average, x, short_mean) - slow;
    return of_line(macd, ExponentialMovingAverage::advance(shared.signal_average, macd, signal));
  }
  template <class Number>
  static std::array<Number, 3> of_line(Number macd, Number signal) noexcept {
    return {macd, signal, macd - signal};
  }
};

template <>
struct PythonClass<MovingAverageConvergenceDivergence> {
  using R = MovingAverageConvergenceDivergence;
  static constexpr const char* kName = "MovingAverageConvergenceDivergence";
  static constexpr std::array kAnswers{"macd", "signal", "histogram"};
  static constexpr auto kConstructor =
      constructor<&R::create>("long_period", "short_period", "signal_period");
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

template <>
struct LaneFields<MovingAverageConvergenceDivergence> {
  using R = MovingAverageConvergenceDivergence;
  using E = ExponentialMovingAverage;
  using List = FieldList<within<&R::long_average, &E::current>, within<&R::short_average, &E::current>,
                         within<&R::signal_average, &E::current>>;
};

template <>
struct Checkpoint<MovingAverageConvergenceDivergence> {
  using R = MovingAverageConvergenceDivergence;
  static constexpr auto kFields =
      std::tuple{component<&R::long_average>("long_average"), component<&R::short_average>("short_average"),
                 component<&R::signal_average>("signal_average")};
};

// The slower average's warm-up, then the signal line's over the MACD line.
template <>
struct Warmup<MovingAverageConvergenceDivergence> {
  using R = MovingAverageConvergenceDivergence;
  static std::uint64_t lookback(const R& record) noexcept {
    const std::uint64_t slower = std::max(record.long_average.period, record.short_average.period);
    return (slower - 1) + (std::uint64_t{record.signal_average.period} - 1);
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return Warmup<ExponentialMovingAverage>::inputs_seen(record.long_average);
  }
};

}  // namespace barworks
