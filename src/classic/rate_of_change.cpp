#include "rate_of_change.h"
#include "../nan.h"

#include <cmath>

namespace barworks::classic {

Expected<RateOfChange> RateOfChange::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return RateOfChange{std::move(*window)};
}

double RateOfChange::update(double x) noexcept {
  x = canonical(x);
  const bool full = window.count == window.period;
  if (!full && window.count == 0 && std::isnan(x)) [[unlikely]] return kNotYet;
  // Once the window is full, the value the input replaces is the one
  // `period` steps back.
  const double reference = window.push(x);
  if (!full) [[unlikely]] return kNotYet;
  return change(x, reference);
}

}  // namespace barworks::classic
