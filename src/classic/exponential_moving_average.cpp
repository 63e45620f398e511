#include "exponential_moving_average.h"
#include "../nan.h"

#include <cmath>

namespace barworks::classic {

Expected<ExponentialMovingAverage> ExponentialMovingAverage::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  ExponentialMovingAverage average{period, 0.0, 0.0, 0};
  average.alpha = average.smoothing();
  return average;
}

double ExponentialMovingAverage::update(double x) noexcept {
  x = canonical(x);
  if (count == period) [[likely]] {
    current = (x - current) * alpha + current;
    return current;
  }
  if (count == 0 && std::isnan(x)) return kNotYet;
  current += x;
  if (++count < period) return kNotYet;
  current /= static_cast<double>(period);
  return current;
}

void ExponentialMovingAverage::reset() noexcept {
  current = 0.0;
  count = 0;
}

}  // namespace barworks::classic
