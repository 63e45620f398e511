#include "moving_average_convergence_divergence.h"

namespace barworks {

Expected<MovingAverageConvergenceDivergence> MovingAverageConvergenceDivergence::create(
    std::uint32_t long_period, std::uint32_t short_period, std::uint32_t signal_period) noexcept {
  auto long_average = ExponentialMovingAverage::create(long_period);
  if (!long_average) return std::unexpected(long_average.error());
  auto short_average = ExponentialMovingAverage::create(short_period);
  if (!short_average) return std::unexpected(short_average.error());
  auto signal_average = ExponentialMovingAverage::create(signal_period);
  if (!signal_average) return std::unexpected(signal_average.error());
  return MovingAverageConvergenceDivergence{*long_average, *short_average, *signal_average};
}

std::array<double, 3> MovingAverageConvergenceDivergence::update(double x) noexcept {
  if (steady()) [[likely]] {
    return advance(*this, x, long_average.current, short_average.current, signal_average.current);
  }
  const double long_mean = long_average.update(x);
  const double short_mean = short_average.update(x);
  const double macd = short_mean - long_mean;
  return of_line(macd, signal_average.update(macd));
}

void MovingAverageConvergenceDivergence::reset() noexcept {
  long_average.reset();
  short_average.reset();
  signal_average.reset();
}

}  // namespace barworks
