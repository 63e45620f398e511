#include "exponential_moving_average.h"
#include "../nan.h"

namespace barworks {

Expected<ExponentialMovingAverage> ExponentialMovingAverage::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  ExponentialMovingAverage average{period, 0.0, 0.0, true};
  average.alpha = average.smoothing();
  return average;
}

double ExponentialMovingAverage::update(double x) noexcept {
  x = canonical(x);
  if (first) {
    first = false;
    current = x;
    return current;
  }
  const double t1 = x * alpha;
  const double t2 = 1.0 - alpha;
  const double t3 = t2 * current;
  current = t1 + t3;
  return current;
}

void ExponentialMovingAverage::reset() noexcept {
  current = 0.0;
  first = true;
}

}  // namespace barworks
