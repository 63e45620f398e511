#include "simple_moving_average.h"

namespace barworks {

Expected<SimpleMovingAverage> SimpleMovingAverage::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  auto window = Window::allocate(period, 0.0);
  if (!window) return std::unexpected(window.error());
  return SimpleMovingAverage{std::move(*window), period, 0, 0, 0.0};
}

double SimpleMovingAverage::update(double x) noexcept {
  const double old = values[index];
  values[index] = x;
  index = next_slot(index, period);
  if (count < period) ++count;
  sum = (x - old) + sum;
  return sum / static_cast<double>(count);
}

void SimpleMovingAverage::reset() noexcept {
  sum = 0.0;
  index = 0;
  count = 0;
  values.fill(0.0);
}

}  // namespace barworks
