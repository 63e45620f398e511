#include "standard_deviation.h"

#include <cmath>

namespace barworks {

Expected<StandardDeviation> StandardDeviation::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  auto window = Window::allocate(period, 0.0);
  if (!window) return std::unexpected(window.error());
  return StandardDeviation{std::move(*window), period, 0, 0, 0.0, 0.0};
}

double StandardDeviation::update(double x) noexcept {
  const double old = values[index];
  values[index] = x;
  index = next_slot(index, period);
  if (count < period) ++count;
  const double d1 = x - old;
  const double d2 = (x * x) - (old * old);
  sum = sum + d1;
  sum_sq = sum_sq + d2;
  const double n = static_cast<double>(count);
  const double mean = sum / n;
  const double mean_sq = sum_sq / n;
  const double variance = mean_sq - (mean * mean);
  // Cancellation in the running sums can leave a variance just below zero
  // for a window of equal values; the deviation is then zero. The comparison
  // is false for NaN, which keeps propagating.
  return std::sqrt(variance < 0.0 ? 0.0 : variance);
}

void StandardDeviation::reset() noexcept {
  sum = 0.0;
  sum_sq = 0.0;
  index = 0;
  count = 0;
  values.fill(0.0);
}

}  // namespace barworks
