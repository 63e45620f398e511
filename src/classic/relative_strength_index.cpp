#include "relative_strength_index.h"
#include "../nan.h"

#include <cmath>

namespace barworks::classic {

Expected<RelativeStrengthIndex> RelativeStrengthIndex::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  return RelativeStrengthIndex{WilderAverage::create(period), WilderAverage::create(period), 0.0,
                               false};
}

std::array<double, 2> RelativeStrengthIndex::smooth(double x) noexcept {
  x = canonical(x);
  if (!has_previous) [[unlikely]] {
    if (!std::isnan(x)) {
      previous = x;
      has_previous = true;
    }
    return {kNotYet, kNotYet};
  }
  const double change = x - previous;
  previous = x;
  // A NaN change goes into both, so that it is never mistaken for no change.
  const double gain = positive_part(change);
  const double loss = positive_part(negated(change));
  return {gains.update(gain), losses.update(loss)};
}

double RelativeStrengthIndex::update(double x) noexcept {
  const auto [average_gain, average_loss] = smooth(x);
  const double total = average_gain + average_loss;
  const double strength = 100.0 * (average_gain / total);
  // No movement at all over the smoothing reads as 0, as the batch
  // libraries answer; NaN totals fail the comparison and stay NaN. Both
  // sides are computed, so the choice is a select rather than a branch.
  // A NaN answer is the one NaN, however the compiler orders the operands.
  return total == 0.0 ? 0.0 : canonical(strength);
}

void RelativeStrengthIndex::reset() noexcept {
  previous = 0.0;
  gains.reset();
  losses.reset();
  has_previous = false;
}

}  // namespace barworks::classic
