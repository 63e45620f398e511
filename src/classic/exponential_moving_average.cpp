#include "exponential_moving_average.h"

namespace barworks::classic {

Expected<ExponentialMovingAverage> ExponentialMovingAverage::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  ExponentialMovingAverage average{period, 0.0, 0.0, 0};
  average.alpha = average.smoothing();
  return average;
}

void ExponentialMovingAverage::reset() noexcept {
  current = 0.0;
  count = 0;
}

}  // namespace barworks::classic
