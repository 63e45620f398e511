#include "simple_moving_average_crossover.h"

#include <utility>

#include "crossover.h"

namespace barworks {

Expected<SimpleMovingAverageCrossover> SimpleMovingAverageCrossover::create(
    std::uint32_t short_period, std::uint32_t long_period) noexcept {
  if (short_period >= long_period) return std::unexpected(kShortNotBelowLong);
  // The short average refuses a zero period before the long window is allocated.
  auto short_average = SimpleMovingAverage::create(short_period);
  if (!short_average) return std::unexpected(short_average.error());
  auto long_average = SimpleMovingAverage::create(long_period);
  if (!long_average) return std::unexpected(long_average.error());
  return SimpleMovingAverageCrossover{std::move(*short_average), std::move(*long_average)};
}

Signal SimpleMovingAverageCrossover::update(double x) noexcept {
  const double short_mean = short_average.update(x);
  const double long_mean = long_average.update(x);
  return signal_for_gap(short_mean - long_mean);
}

void SimpleMovingAverageCrossover::reset() noexcept {
  short_average.reset();
  long_average.reset();
}

}  // namespace barworks
