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
  if (steady()) [[likely]] return steady_smooth(x, previous, gains.average, losses.average);
  x = canonical(x);
  if (!has_previous) [[unlikely]] {
    if (!std::isnan(x)) {
      previous = x;
      has_previous = true;
    }
    return {kNotYet, kNotYet};
  }
  const auto [gain, loss] = moves(x, previous);
  return {gains.update(gain), losses.update(loss)};
}

void RelativeStrengthIndex::reset() noexcept {
  previous = 0.0;
  gains.reset();
  losses.reset();
  has_previous = false;
}

}  // namespace barworks::classic
