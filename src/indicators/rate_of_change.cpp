#include "rate_of_change.h"

namespace barworks {

Expected<RateOfChange> RateOfChange::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  auto window = Window::allocate(period, 0.0);
  if (!window) return std::unexpected(window.error());
  return RateOfChange{std::move(*window), period, 0, 0};
}

double RateOfChange::update(double x) noexcept {
  double reference;
  if (count > period) {
    // The window is full: the slot about to be overwritten holds the input
    // taken `period` steps back.
    reference = values[index];
  } else {
    // Slot 0 keeps the first input until the window wraps around to it.
    reference = count == 0 ? x : values[0];
    ++count;
  }
  values[index] = x;
  index = next_slot(index, period);
  return (x - reference) / reference;
}

void RateOfChange::reset() noexcept {
  index = 0;
  count = 0;
  values.fill(0.0);
}

}  // namespace barworks
