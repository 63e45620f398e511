#pragma once

#include <cstdint>

#include "family.h"

namespace barworks::classic {

// Wilder's smoothing, the part that the relative strength index and the
// average true range share (not a class of its own): seeded with the mean of
// the first `period` values, then
//   average = average * ((period - 1) / period) + x * (1 / period)
// with both factors rounded once at construction. This is the batch
// libraries' (average * (period - 1) + x) / period up to a few ulps, without
// a division in the chain that carries one step into the next; the factors
// sum to one and the old average is scaled down every step, so the rounding
// does not build up over a long stream. NaN until seeded. A NaN value stays
// in the average until reset.
struct WilderAverage {
  std::uint32_t period;
  double decay;         // (period - 1) / period
  double weight;        // 1 / period
  double average;       // the running sum while seeding, then the average
  std::uint32_t count;  // values taken, up to `period`

  static WilderAverage create(std::uint32_t period) noexcept {
    const double n = static_cast<double>(period);
    return {period, (n - 1.0) / n, 1.0 / n, 0.0, 0};
  }
  double update(double x) noexcept {
    if (count == period) [[likely]] {
      average = average * decay + x * weight;
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
