#include "simple_moving_average.h"
#include "../nan.h"

namespace barworks {

Expected<SimpleMovingAverage> SimpleMovingAverage::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return SimpleMovingAverage{std::move(*window), 0.0};
}

double SimpleMovingAverage::update(double x) noexcept {
  x = canonical(x);
  const double old = window.push(x);
  sum = (x - old) + sum;
  return sum / static_cast<double>(window.count);
}

void SimpleMovingAverage::reset() noexcept {
  sum = 0.0;
  window.clear();
}

}  // namespace barworks
