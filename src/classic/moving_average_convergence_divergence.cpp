#include "moving_average_convergence_divergence.h"

namespace barworks::classic {

Expected<MovingAverageConvergenceDivergence> MovingAverageConvergenceDivergence::create(
    std::uint32_t fast_period, std::uint32_t slow_period, std::uint32_t signal_period) noexcept {
  auto fast_average = ExponentialMovingAverage::create(fast_period);
  if (!fast_average) return std::unexpected(fast_average.error());
  auto slow_average = ExponentialMovingAverage::create(slow_period);
  if (!slow_average) return std::unexpected(slow_average.error());
  auto signal_average = ExponentialMovingAverage::create(signal_period);
  if (!signal_average) return std::unexpected(signal_average.error());
  if (fast_period >= slow_period) return std::unexpected(kFastNotBelowSlow);
  return MovingAverageConvergenceDivergence{*fast_average, *slow_average, *signal_average};
}

std::array<double, 3> MovingAverageConvergenceDivergence::update(double x) noexcept {
  if (steady()) [[likely]] {
    return advance(*this, x, fast_average.current, slow_average.current, signal_average.current);
  }
  constexpr std::array<double, 3> kNone{kNotYet, kNotYet, kNotYet};
  const double slow = slow_average.update(x);
  // The slow average skips leading NaNs itself; the fast one is fed only the
  // last fast_period of the inputs the slow one seeds from, and all after.
  const std::uint32_t delay = slow_average.period - fast_average.period;
  if (slow_average.taken() <= delay) [[unlikely]] return kNone;
  const double fast = fast_average.update(x);
  if (!slow_average.ready()) [[unlikely]] return kNone;
  const double macd = fast - slow;
  const double signal = signal_average.update(macd);
  if (!signal_average.ready()) return kNone;
  return of_line(macd, signal);
}

void MovingAverageConvergenceDivergence::reset() noexcept {
  fast_average.reset();
  slow_average.reset();
  signal_average.reset();
}

}  // namespace barworks::classic
