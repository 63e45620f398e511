#pragma once

#include <cstdint>

#include "../describe.h"
#include "../error.h"
#include "../indicators/exponential_moving_average.h"
#include "../signal.h"

namespace barworks {

// Compares a short and a long exponential moving average of the same stream
// and answers the level, not the crossing: BUY while short > long, SELL while
// short < long, HOLD when equal or NaN. Both averages take the first input
// after construction or reset unchanged, so that answer is HOLD. A NaN or
// infinite input leaves the averages NaN or infinite, their gap NaN, and
// every answer HOLD until reset.
struct ExponentialMovingAverageCrossover {
  ExponentialMovingAverage short_average;
  ExponentialMovingAverage long_average;

  // Fails when short_period >= long_period, then for a zero short period.
  static Expected<ExponentialMovingAverageCrossover> create(std::uint32_t short_period,
                                                            std::uint32_t long_period) noexcept;
  Signal update(double x) noexcept;
  void reset() noexcept;
};

template <>
struct PythonClass<ExponentialMovingAverageCrossover> {
  using R = ExponentialMovingAverageCrossover;
  static constexpr const char* kName = "ExponentialMovingAverageCrossover";
  static constexpr auto kConstructor = constructor<&R::create>("short_period", "long_period");
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

}  // namespace barworks
