#include "relative_strength_index.h"

#include <bit>

#include "../lanes.h"
#include "../nan.h"

namespace barworks {

Expected<RelativeStrengthIndex> RelativeStrengthIndex::create(std::uint32_t period) noexcept {
  auto window = CircularWindow::create(period);
  if (!window) return std::unexpected(window.error());
  return RelativeStrengthIndex{std::move(*window), 0.0};
}

double RelativeStrengthIndex::update(double x) noexcept {
  x = canonical(x);
  const double change = x - previous;
  previous = x;
  changes.push(change);

  // Both sums take every slot, the one that does not own the change taking
  // an exact identity instead. The two sums run side by side in the lanes
  // of one pair, each step subtracting (-gain part, loss part): gain - -c is
  // gain + c bit for bit (gain never holds NaN, as it takes only positive
  // changes), and gain - +0.0 and loss - +0.0 return the sum unchanged,
  // signed zeros included. The parts are chosen on the bits, two slots at
  // a time, so random data meets no branch to mispredict; the subtractions
  // keep their slot order.
  const LaneMask sign = std::bit_cast<LaneMask>(DoublePair{-0.0, -0.0});
  const DoublePair zero{0.0, 0.0};
  const double* slots = changes.values.begin();
  const std::uint32_t period = changes.period;
  DoublePair sums{0.0, 0.0};
  std::uint32_t slot = 0;
  for (; slot + 2 <= period; slot += 2) {
    const DoublePair both{slots[slot], slots[slot + 1]};
    const LaneMask rose = both > zero;
    const DoublePair negated = std::bit_cast<DoublePair>(std::bit_cast<LaneMask>(both) ^ sign);
    const DoublePair gain_parts = select(rose, negated, zero);
    const DoublePair loss_parts = select(rose, zero, both);
    sums -= DoublePair{gain_parts[0], loss_parts[0]};
    sums -= DoublePair{gain_parts[1], loss_parts[1]};
  }
  if (slot < period) {
    const double c = slots[slot];
    const bool rose = c > 0.0;
    sums -= DoublePair{rose ? -c : 0.0, rose ? 0.0 : c};
  }
  // Both averages in one division.
  const DoublePair averages = sums / static_cast<double>(changes.count);
  const double average_gain = averages[0];
  const double average_loss = averages[1];
  const double rs = average_gain / average_loss;
  return 100.0 - 100.0 / (rs + 1.0);
}

void RelativeStrengthIndex::reset() noexcept {
  previous = 0.0;
  changes.clear();
}

}  // namespace barworks
