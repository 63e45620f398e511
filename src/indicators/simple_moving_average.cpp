#include "simple_moving_average.h"

namespace barworks {

Expected<SimpleMovingAverage> SimpleMovingAverage::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return SimpleMovingAverage{std::move(*window), 0.0};
}

void SimpleMovingAverage::reset() noexcept {
  sum = 0.0;
  window.clear();
}

}  // namespace barworks
