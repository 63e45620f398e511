#include "sharpe_ratio.h"

namespace barworks {

Expected<SharpeRatio> SharpeRatio::create(std::uint32_t period, double rf) noexcept {
  auto average = SimpleMovingAverage::create(period);
  if (!average) return std::unexpected(average.error());
  auto deviation = StandardDeviation::create(period);
  if (!deviation) return std::unexpected(deviation.error());
  return SharpeRatio{std::move(*average), std::move(*deviation), rf, 0};
}

double SharpeRatio::update(double x) noexcept {
  if (steady()) [[likely]] {
    return advance(*this, x, average.window, average.sum, deviation.window, deviation.sum,
                   deviation.sum_sq, steps);
  }
  average.update(x);
  deviation.update(x);
  steps = 1;
  return 0.0;
}

void SharpeRatio::reset() noexcept {
  average.reset();
  deviation.reset();
  steps = 0;
}

}  // namespace barworks
