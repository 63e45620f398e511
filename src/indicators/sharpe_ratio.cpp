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
  const double ratio = advance(*this, x, average.window, average.sum, deviation.window,
                               deviation.sum, deviation.sum_sq, steps);
  // The first input, counted now, answers 0.0 whatever it is.
  return steps < 2 ? 0.0 : ratio;
}

void SharpeRatio::reset() noexcept {
  average.reset();
  deviation.reset();
  steps = 0;
}

}  // namespace barworks
