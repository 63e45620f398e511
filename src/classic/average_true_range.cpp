#include "average_true_range.h"

#include <cmath>

namespace barworks::classic {

Expected<AverageTrueRange> AverageTrueRange::create(std::uint32_t period) noexcept {
  if (period == 0) return std::unexpected(kPeriodZero);
  return AverageTrueRange{TrueRange::create(), WilderAverage::create(period)};
}

double AverageTrueRange::update(const Candle& bar) noexcept {
  if (!range.has_previous) [[unlikely]] {
    if (std::isnan(bar.high) || std::isnan(bar.low) || std::isnan(bar.close)) return kNotYet;
    // Only the close is kept; this bar's own range is no true range.
    (void)range.update(bar.prices());
    return kNotYet;
  }
  const double true_range = range.update(bar.prices());
  // The module's true range passes over any NaN operand; the batch
  // libraries pass over only a NaN previous close, so a NaN high or low
  // reaches the answer.
  const bool unknown = std::isnan(bar.high) || std::isnan(bar.low);
  return average.update(unknown ? kNotYet : true_range);
}

void AverageTrueRange::reset() noexcept {
  range.reset();
  average.reset();
}

}  // namespace barworks::classic
