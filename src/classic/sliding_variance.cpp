#include "sliding_variance.h"

#include <cmath>

namespace barworks::classic {

Expected<SlidingVariance> SlidingVariance::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  SlidingVariance made{std::move(*window), 0.0, 0.0, 0.0, 0.0, 0.0, 0, 0, 0.0, 0, 0};
  made.reciprocal = made.period_reciprocal();
  made.exact_every = made.slides_between_exact();
  return made;
}

SlidingVariance::Sums SlidingVariance::exact_sums(const double* values, std::uint32_t size,
                                                      double n) noexcept {
  // Each pass keeps four partial sums side by side, in locals the compiler
  // keeps in registers: one sum is a chain of additions, each waiting for
  // the last, and four chains take a quarter of the time. The order of the
  // additions does not matter to the accuracy wanted here, only that each
  // pass sums every value once.
  const std::uint32_t whole = size - size % 4;

  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  for (std::uint32_t i = 0; i < whole; i += 4) {
    s0 += values[i];
    s1 += values[i + 1];
    s2 += values[i + 2];
    s3 += values[i + 3];
  }
  for (std::uint32_t i = whole; i < size; ++i) s0 += values[i];
  // Any value near the window serves as the reference; the rounded mean
  // leaves the smallest deviations.
  const double k = ((s0 + s1) + (s2 + s3)) / n;

  // The deviations from the rounded mean sum to n times its rounding error;
  // taking that back out keeps a small spread around a large level exact.
  double d0 = 0.0, d1 = 0.0, d2 = 0.0, d3 = 0.0;
  double q0 = 0.0, q1 = 0.0, q2 = 0.0, q3 = 0.0;
  for (std::uint32_t i = 0; i < whole; i += 4) {
    const double e0 = values[i] - k, e1 = values[i + 1] - k;
    const double e2 = values[i + 2] - k, e3 = values[i + 3] - k;
    d0 += e0;
    d1 += e1;
    d2 += e2;
    d3 += e3;
    q0 += e0 * e0;
    q1 += e1 * e1;
    q2 += e2 * e2;
    q3 += e3 * e3;
  }
  for (std::uint32_t i = whole; i < size; ++i) {
    const double e = values[i] - k;
    d0 += e;
    q0 += e * e;
  }
  const double deviations = (d0 + d1) + (d2 + d3);
  return {k, deviations / n, ((q0 + q1) + (q2 + q3)) - deviations * deviations / n};
}

SlidingVariance SlidingVariance::rebuilt(CircularWindow&& window,
                                              std::uint32_t equal_run) noexcept {
  SlidingVariance made{std::move(window), 0.0, 0.0, 0.0, 0.0, 0.0, 0, 0, 0.0, 0, 0};
  made.reciprocal = made.period_reciprocal();
  made.exact_every = made.slides_between_exact();
  made.last = made.latest();
  made.nonfinite = made.count_nonfinite();
  const std::uint32_t count = made.window.count;
  made.equal_run = equal_run < count ? equal_run : count;
  // With a non-finite value in the window the sums wait for it to leave,
  // and are then recomputed whole.
  if (count == 0 || made.nonfinite != 0) return made;
  if (count < made.window.period) {
    // The inputs so far fill the first slots: take them again in order.
    for (std::uint32_t slot = 0; slot < count; ++slot) {
      made.window.count = slot + 1;
      made.take_while_filling(made.window.values[slot]);
    }
    return made;
  }
  made.recompute();
  if (made.equal_run == count) made.zero_spread(made.last);
  return made;
}

double SlidingVariance::latest() const noexcept {
  if (window.count == 0 || window.values.size() == 0) return 0.0;
  return window.values[window.index == 0 ? window.period - 1 : window.index - 1];
}

void SlidingVariance::reset() noexcept {
  window.clear();
  reference = 0.0;
  mean = 0.0;
  squares = 0.0;
  accrued = 0.0;
  last = 0.0;
  equal_run = 0;
  nonfinite = 0;
  since_exact = 0;
}

}  // namespace barworks::classic
