#include "rate_of_change.h"
#include "../nan.h"

namespace barworks {

Expected<RateOfChange> RateOfChange::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return RateOfChange{std::move(*window)};
}

double RateOfChange::update(double x) noexcept {
  if (steady()) [[likely]] return advance(*this, x, window);
  x = canonical(x);
  // Slot 0 keeps the first input until the window wraps around to it.
  const double reference = window.count == 0 ? x : window.values[0];
  window.values[window.index] = x;
  window.index = next_slot(window.index, window.period);
  ++window.count;
  return relative_change(x, reference);
}

void RateOfChange::reset() noexcept {
  window.clear();
}

}  // namespace barworks
