#pragma once

#include <cstdint>

#include "family.h"

namespace barworks::classic {

// Wilder's smoothing, the part that the relative strength index and the
// average true range share (not a class of its own): seeded with the mean of
// the first `period` values, then
//   average = (average * (period - 1) + x) / period
// NaN until seeded. A NaN value stays in the average until reset.
struct WilderAverage {
  std::uint32_t period;
  double average;       // the running sum while seeding, then the average
  std::uint32_t count;  // values taken, up to `period`

  static WilderAverage create(std::uint32_t period) noexcept { return {period, 0.0, 0}; }
  double update(double x) noexcept {
    if (count == period) [[likely]] {
      average = (average * static_cast<double>(period - 1) + x) / static_cast<double>(period);
      return average;
    }
    average += x;
    if (++count < period) return kNotYet;
    average /= static_cast<double>(period);
    return average;
  }
  void reset() noexcept {
    average = 0.0;
    count = 0;
  }
};

}  // namespace barworks::classic
