#include "standard_deviation.h"

#include <cmath>

namespace barworks::classic {

namespace {
// Windows this short are recomputed every step: it costs no more than a
// slide, and in them two neighbouring inputs can differ by little against
// their level, where a slide would lose digits to the rounded mean.
constexpr std::uint32_t kAlwaysExact = 4;
}  // namespace

Expected<StandardDeviation> StandardDeviation::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return StandardDeviation{std::move(*window), 0.0, 0.0, 0.0, 0.0, 0, 0, 0};
}

double StandardDeviation::update(double x) noexcept {
  const std::uint32_t period = window.period;
  const bool full = window.count == period;
  const double old = window.push(x);
  equal_run = x == last ? equal_run + 1 : 1;
  last = x;
  const bool old_finite = std::isfinite(old);
  nonfinite += !std::isfinite(x);
  nonfinite -= !old_finite;
  // The sliding state skips every step with a non-finite value in the
  // window and is rebuilt from the window once the last one has left.
  if (nonfinite != 0) [[unlikely]] return kNotYet;

  if (!full) [[unlikely]] {
    const double delta = x - mean;
    mean += delta / static_cast<double>(window.count);
    squares += delta * (x - mean);
    peak = squares;  // only grows while the window fills
    if (window.count < period) return kNotYet;
  } else if (period <= kAlwaysExact || !old_finite || ++since_exact == period) [[unlikely]] {
    recompute();
  } else {
    const double delta = x - old;
    const double moved = mean + delta / static_cast<double>(period);
    squares += delta * ((x - moved) + (old - mean));
    mean = moved;
    if (squares > peak) {
      peak = squares;
    } else if (squares * 16.0 < peak) [[unlikely]] {
      recompute();
    }
  }
  if (equal_run >= period) {
    // Exactly no spread; the state is exact again as well.
    mean = x;
    squares = 0.0;
    peak = 0.0;
    since_exact = 0;
    return 0.0;
  }
  return std::sqrt(squares / static_cast<double>(period));
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
