#include "relative_strength_index.h"

namespace barworks {

Expected<RelativeStrengthIndex> RelativeStrengthIndex::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return RelativeStrengthIndex{std::move(*window), 0.0};
}

void RelativeStrengthIndex::reset() noexcept {
  previous = 0.0;
  changes.clear();
}

}  // namespace barworks
