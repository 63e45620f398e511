#include "rate_of_change.h"
#include "../nan.h"

namespace barworks {

Expected<RateOfChange> RateOfChange::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return RateOfChange{std::move(*window)};
}

double RateOfChange::update(double x) noexcept {
  x = canonical(x);
  Window& values = window.values;
  const std::uint32_t period = window.period;
  std::uint32_t& index = window.index;
  std::uint32_t& count = window.count;
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
  window.clear();
}

}  // namespace barworks
