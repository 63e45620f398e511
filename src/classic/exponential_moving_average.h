#pragma once

#include <cstdint>

#include "../error.h"
#include "family.h"

namespace barworks::classic {

// Exponential moving average with alpha = 2 / (period + 1), seeded with the
// simple average of the first `period` inputs:
//   seed = (x1 + ... + xN) / N;  current = (x - current) * alpha + current
// Lookback period - 1: the first `period` - 1 answers are NaN, the next is
// the seed. NaN inputs before the first number are skipped without counting
// (a series may start with missing values); any later NaN makes every answer
// NaN until reset. An infinite input makes the average infinite, and the
// next input then gives NaN (infinity minus infinity) until reset.
struct ExponentialMovingAverage {
  std::uint32_t period;
  double alpha;
  double current;       // the running sum while seeding, then the average
  std::uint32_t count;  // inputs taken, up to `period`

  static Expected<ExponentialMovingAverage> create(std::uint32_t period) noexcept;
  double update(double x) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return period; }
  // True once the seed has been taken.
  bool ready() const noexcept { return count == period; }
  std::uint32_t taken() const noexcept { return count; }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::ExponentialMovingAverage>
    : ClassicPeriodIndicator<classic::ExponentialMovingAverage> {
  static constexpr const char* kName = "ExponentialMovingAverage";
};

}  // namespace barworks
