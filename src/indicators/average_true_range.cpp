#include "average_true_range.h"

namespace barworks {

Expected<AverageTrueRange> AverageTrueRange::create(std::uint32_t period) noexcept {
  auto average = ExponentialMovingAverage::create(period);
  if (!average) return std::unexpected(average.error());
  return AverageTrueRange{TrueRange::create(), *average};
}

}  // namespace barworks
