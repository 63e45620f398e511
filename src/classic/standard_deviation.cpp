#include "standard_deviation.h"

#include <array>
#include <cmath>

namespace barworks::classic {

Expected<StandardDeviation> StandardDeviation::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  StandardDeviation made{std::move(*window), 0.0, 0.0, 0.0, 0.0, 0.0, 0, 0, 0};
  made.reciprocal = made.period_reciprocal();
  return made;
}

void StandardDeviation::recompute() noexcept {
  // Each pass keeps four partial sums side by side: one sum is a chain of
  // additions, each waiting for the last, and four chains take a quarter of
  // the time. The order of the additions does not matter to the accuracy
  // wanted here, only that each pass sums every value once.
  constexpr std::uint32_t kLanes = 4;
  const double* values = window.values.begin();
  const std::uint32_t size = window.values.size();
  const std::uint32_t whole = size - size % kLanes;
  const double n = static_cast<double>(window.period);

  std::array<double, kLanes> sums{};
  for (std::uint32_t i = 0; i < whole; i += kLanes) {
    for (std::uint32_t lane = 0; lane < kLanes; ++lane) sums[lane] += values[i + lane];
  }
  for (std::uint32_t i = whole; i < size; ++i) sums[i - whole] += values[i];
  mean = ((sums[0] + sums[1]) + (sums[2] + sums[3])) / n;

  // The deviations from the rounded mean sum to n times its rounding error;
  // taking that back out keeps a small spread around a large level exact.
  std::array<double, kLanes> squares_sums{};
  std::array<double, kLanes> deviation_sums{};
  auto take = [&](std::uint32_t lane, double value) {
    const double deviation = value - mean;
    deviation_sums[lane] += deviation;
    squares_sums[lane] += deviation * deviation;
  };
  for (std::uint32_t i = 0; i < whole; i += kLanes) {
    for (std::uint32_t lane = 0; lane < kLanes; ++lane) take(lane, values[i + lane]);
  }
  for (std::uint32_t i = whole; i < size; ++i) take(i - whole, values[i]);
  const double squares_sum =
      (squares_sums[0] + squares_sums[1]) + (squares_sums[2] + squares_sums[3]);
  const double deviations =
      (deviation_sums[0] + deviation_sums[1]) + (deviation_sums[2] + deviation_sums[3]);
  squares = squares_sum - deviations * deviations / n;
  mean += deviations / n;
  peak = squares;
  since_exact = 0;
}

double StandardDeviation::latest() const noexcept {
  if (window.count == 0 || window.values.size() == 0) return 0.0;
  return window.values[window.index == 0 ? window.period - 1 : window.index - 1];
}

std::uint32_t StandardDeviation::count_nonfinite() const noexcept {
  std::uint32_t found = 0;
  for (const double value : window.values) found += !std::isfinite(value);
  return found;
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
