#include "rate_of_change.h"
#include "../nan.h"

#include <cmath>

namespace barworks::classic {

Expected<RateOfChange> RateOfChange::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return RateOfChange{std::move(*window)};
}

double RateOfChange::update(double x) noexcept { return update_lagged(*this, x); }

}  // namespace barworks::classic
