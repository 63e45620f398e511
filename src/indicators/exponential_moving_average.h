#pragma once

#include <cstdint>

#include "../describe.h"
#include "../error.h"

namespace barworks {

// Exponential smoothing with alpha = 2 / (period + 1). The first input is
// taken as the average itself; each later one gives
//   current = x * alpha + (1 - alpha) * current
// evaluated exactly as t1 = x * alpha, t2 = 1 - alpha, t3 = t2 * current,
// t1 + t3, never fused and never as current + alpha * (x - current): the
// rounding of that order is part of the result. NaN and infinities flow
// through; an infinity followed by any input gives NaN once alpha < 1.
struct ExponentialMovingAverage {
  std::uint32_t period;
  double alpha;
  double current;
  bool first;

  static Expected<ExponentialMovingAverage> create(std::uint32_t period) noexcept;
  double update(double x) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return period; }
};

template <>
struct PythonClass<ExponentialMovingAverage> : PeriodIndicator<ExponentialMovingAverage> {
  static constexpr const char* kName = "ExponentialMovingAverage";
};

}  // namespace barworks
