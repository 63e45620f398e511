#include "relative_strength_index.h"

#include <cmath>

namespace barworks::classic {

Expected<RelativeStrengthIndex> RelativeStrengthIndex::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  return RelativeStrengthIndex{WilderAverage::create(period), WilderAverage::create(period), 0.0,
                               false};
}

double RelativeStrengthIndex::update(double x) noexcept {
  if (!has_previous) [[unlikely]] {
    if (std::isnan(x)) return kNotYet;
    previous = x;
    has_previous = true;
    return kNotYet;
  }
  const double change = x - previous;
  previous = x;
  // A NaN change goes into both, so that it is never mistaken for no change.
  const double gain = change > 0.0 || std::isnan(change) ? change : 0.0;
  const double loss = change < 0.0 || std::isnan(change) ? -change : 0.0;
  const double average_gain = gains.update(gain);
  const double average_loss = losses.update(loss);
  const double total = average_gain + average_loss;
  // No movement at all over the smoothing reads as 0, as the batch
  // libraries answer; NaN totals fail the comparison and stay NaN.
  if (total == 0.0) return 0.0;
  return 100.0 * average_gain / total;
}

void RelativeStrengthIndex::reset() noexcept {
  previous = 0.0;
  gains.reset();
  losses.reset();
  has_previous = false;
}

}  // namespace barworks::classic
