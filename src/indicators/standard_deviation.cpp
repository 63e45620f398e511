#include "standard_deviation.h"

namespace barworks {

Expected<StandardDeviation> StandardDeviation::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return StandardDeviation{std::move(*window), 0.0, 0.0};
}

void StandardDeviation::reset() noexcept {
  sum = 0.0;
  sum_sq = 0.0;
  window.clear();
}

}  // namespace barworks
