#include "average_true_range.h"

namespace barworks::classic {

Expected<AverageTrueRange> AverageTrueRange::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  return AverageTrueRange{TrueRange::create(), DecayingWilderAverage::create(period)};
}

void AverageTrueRange::reset() noexcept {
  range.reset();
  average.reset();
}

}  // namespace barworks::classic
