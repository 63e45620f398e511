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
