#pragma once

#include <cstdint>

#include "../describe.h"
#include "../error.h"
#include "../indicators/simple_moving_average.h"
#include "../signal.h"

namespace barworks {

// Compares a short and a long simple moving average of the same stream and
// answers the level, not the crossing: BUY while short > long, SELL while
// short < long, HOLD when equal or NaN. For the first short-period inputs
// both windows hold the same values with the same running sums, so the
// answer is HOLD whatever they are. Constant inputs need not answer HOLD
// afterwards: the two running sums round differently. A NaN, or an infinity
// that leaves a window, makes a sum NaN and every answer HOLD until reset.
struct SimpleMovingAverageCrossover {
  SimpleMovingAverage short_average;
  SimpleMovingAverage long_average;

  // Fails when short_period >= long_period, then for a zero short period,
  // then when a window cannot be had.
  static Expected<SimpleMovingAverageCrossover> create(std::uint32_t short_period,
                                                       std::uint32_t long_period) noexcept;
  Signal update(double x) noexcept;
  void reset() noexcept;
};

template <>
struct PythonClass<SimpleMovingAverageCrossover> {
  using R = SimpleMovingAverageCrossover;
  static constexpr const char* kName = "SimpleMovingAverageCrossover";
  static constexpr auto kConstructor = constructor<&R::create>("short_period", "long_period");
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

}  // namespace barworks
