#include "standard_deviation.h"

#include <cmath>

namespace barworks::classic {

Expected<StandardDeviation> StandardDeviation::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  const double reciprocal = 1.0 / static_cast<double>(period);
  return StandardDeviation{std::move(*window), reciprocal, 0.0, 0.0, 0.0, 0.0, 0, 0, 0};
}

void StandardDeviation::recompute() noexcept {
  const double n = static_cast<double>(window.period);
  double sum = 0.0;
  for (const double value : window.values) sum += value;
  mean = sum / n;
  // The deviations from the rounded mean sum to n times its rounding error;
  // taking that back out keeps a small spread around a large level exact.
  double squares_sum = 0.0;
  double deviations = 0.0;
  for (const double value : window.values) {
    const double deviation = value - mean;
    deviations += deviation;
    squares_sum += deviation * deviation;
  }
  squares = squares_sum - deviations * deviations / n;
  mean += deviations / n;
  peak = squares;
  since_exact = 0;
}

void StandardDeviation::reset() noexcept {
  window.clear();
  mean = 0.0;
  squares = 0.0;
  peak = 0.0;
  last = 0.0;
  equal_run = 0;
  nonfinite = 0;
  since_exact = 0;
}

}  // namespace barworks::classic
