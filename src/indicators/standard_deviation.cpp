#include "standard_deviation.h"

#include <cmath>

#include "../lanes.h"
#include "../nan.h"

namespace barworks {

Expected<StandardDeviation> StandardDeviation::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return StandardDeviation{std::move(*window), 0.0, 0.0};
}

double StandardDeviation::update(double x) noexcept {
  x = canonical(x);
  const double old = window.push(x);
  const double d1 = x - old;
  const double d2 = (x * x) - (old * old);
  sum = sum + d1;
  sum_sq = sum_sq + d2;
  const double n = static_cast<double>(window.count);
  // Both means in one division: the divider, not the additions, bounds a
  // run of updates.
  const DoublePair means = DoublePair{sum, sum_sq} / n;
  const double mean = means[0];
  const double mean_sq = means[1];
  const double variance = mean_sq - (mean * mean);
  // Cancellation in the running sums can leave a variance just below zero
  // for a window of equal values, or a negative zero when tiny products
  // underflow; the deviation is then +0.0 (sqrt(-0.0) would be -0.0). The
  // comparison is false for NaN, which keeps propagating.
  return std::sqrt(variance <= 0.0 ? 0.0 : variance);
}

void StandardDeviation::reset() noexcept {
  sum = 0.0;
  sum_sq = 0.0;
  window.clear();
}

}  // namespace barworks
