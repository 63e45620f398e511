#include "sharpe_ratio.h"

#include <limits>

namespace barworks {

Expected<SharpeRatio> SharpeRatio::create(std::uint32_t period, double rf) noexcept {
  auto average = SimpleMovingAverage::create(period);
  if (!average) return std::unexpected(average.error());
  auto deviation = StandardDeviation::create(period);
  if (!deviation) return std::unexpected(deviation.error());
  return SharpeRatio{std::move(*average), std::move(*deviation), rf, 0};
}

double SharpeRatio::update(double x) noexcept {
  const double mean = average.update(x);
  const double spread = deviation.update(x);
  // Only "first input or not" matters, so the counter saturates instead of
  // wrapping back to a first input after 2^32 steps.
  if (steps != std::numeric_limits<std::uint32_t>::max()) ++steps;
  if (steps < 2) return 0.0;
  return (mean - rf) / spread;
}

void SharpeRatio::reset() noexcept {
  average.reset();
  deviation.reset();
  steps = 0;
}

}  // namespace barworks
