#include "exponential_moving_average.h"

namespace barworks {

Expected<ExponentialMovingAverage> ExponentialMovingAverage::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  ExponentialMovingAverage average{period, 0.0, 0.0, true};
  average.alpha = average.smoothing();
  return average;
}

void ExponentialMovingAverage::reset() noexcept {
  current = 0.0;
  first = true;
}

}  // namespace barworks
