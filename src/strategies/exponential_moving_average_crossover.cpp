#include "exponential_moving_average_crossover.h"

#include "crossover.h"

namespace barworks {

Expected<ExponentialMovingAverageCrossover> ExponentialMovingAverageCrossover::create(
    std::uint32_t short_period, std::uint32_t long_period) noexcept {
  if (short_period >= long_period) return std::unexpected(kShortNotBelowLong);
  auto short_average = ExponentialMovingAverage::create(short_period);
  if (!short_average) return std::unexpected(short_average.error());
  auto long_average = ExponentialMovingAverage::create(long_period);
  if (!long_average) return std::unexpected(long_average.error());
  return ExponentialMovingAverageCrossover{*short_average, *long_average};
}

Signal ExponentialMovingAverageCrossover::update(double x) noexcept {
  const double short_mean = short_average.update(x);
  const double long_mean = long_average.update(x);
  return signal_for_gap(short_mean - long_mean);
}

void ExponentialMovingAverageCrossover::reset() noexcept {
  short_average.reset();
  long_average.reset();
}

}  // namespace barworks
