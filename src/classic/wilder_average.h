#pragma once

#include <cstdint>

#include "../lanes.h"
#include "../nan.h"
#include "family.h"

namespace barworks::classic {

// Wilder's smoothing, the part that the relative strength index and the
// average true range share (not a class of its own): seeded with the mean of
// the first `period` values, then
//   average = (average * (period - 1) + x) * (1 / period)
// with 1 / period rounded once at construction: TA-Lib's relative strength
// index to the bit (a stochastic of it magnifies any ulp on a still
// stretch), and no division in the chain that carries one step into the
// next. NaN until seeded. A NaN value stays in the average until reset.
struct WilderAverage {
  std::uint32_t period;
  double lag;           // period - 1
  double weight;        // 1 / period
  double average;       // the running sum while seeding, then the average
  std::uint32_t count;  // values taken, up to `period`

  static WilderAverage create(std::uint32_t period) noexcept {
    WilderAverage made{period, 0.0, 0.0, 0.0, 0};
    made.lag = made.lag_factor();
    made.weight = made.weight_factor();
    return made;
  }
  double lag_factor() const noexcept { return static_cast<double>(period) - 1.0; }
  double weight_factor() const noexcept { return 1.0 / static_cast<double>(period); }
  // The value is made the one NaN, unfolded, before it meets the average,
  // which then holds only that NaN however the compiler orders the
  // operands (the invalid operations make no other), with nothing added
  // to the chain that carries one step into the next. Always inlined:
  // called out of line, the average goes through memory on every step.
  [[gnu::always_inline]] double update(double x) noexcept {
    x = prepared(x);
    if (count == period) [[likely]] return smooth_prepared(x, average);
    average += x;
    if (++count < period) return kNotYet;
    average *= weight;
    return average;
  }
  void reset() noexcept {
    average = 0.0;
    count = 0;
  }

  // The step once seeded, over a number type: `smoothed` is the average of
  // a lane or lanes, this record gives the factors.
  template <class Number>
  [[gnu::always_inline]] Number steady_update(Number x, Number& smoothed) const noexcept {
    return smooth_prepared(prepared(x), smoothed);
  }
  template <class Number>
  [[gnu::always_inline]] Number smooth_prepared(Number x, Number& smoothed) const noexcept {
    smoothed = (smoothed * splat<Number>(lag) + x) * splat<Number>(weight);
    return smoothed;
  }
  template <class Number>
  static Number prepared(Number x) noexcept {
    return unfolded(canonical(x));
  }
};

// Wilder's running sum, the form the directional movement keeps: seeded
// with the plain sum of the first `period` - 1 values, then for each value
//   sum = sum - sum / period + x
// in that order, as the batch libraries compute it. Unlike WilderAverage it
// answers sums, not means, and its seed is one value short, so that the
// first smoothed sum already weighs the seed by (period - 1) / period. With
// period 1 there is no seed and the sum is the latest value. A NaN value
// stays in the sum until reset.
struct WilderSum {
  std::uint32_t period;
  double sum;
  std::uint32_t count;  // values taken, up to `period`

  static WilderSum create(std::uint32_t period) noexcept { return WilderSum{period, 0.0, 0}; }
  // True once the seed's period - 1 values are in.
  bool seeded() const noexcept { return count >= period - 1; }
  // True once a value has been smoothed into the seed.
  bool smoothed() const noexcept { return count == period; }
  double update(double x) noexcept {
    if (count < period - 1) [[unlikely]] {
      sum += x;
      ++count;
      return sum;
    }
    sum = sum - sum / static_cast<double>(period) + x;
    count = period;
    return sum;
  }
  void reset() noexcept {
    sum = 0.0;
    count = 0;
  }
};

}  // namespace barworks::classic

namespace barworks {

// Before its first value the running sum is exactly 0; the count stops at
// the period, where the seed has been taken.
template <>
struct Checkpoint<classic::WilderAverage> {
  using R = classic::WilderAverage;
  static constexpr auto kFields = std::tuple{
      period<&R::period>("period", 0), derived<&R::lag, &R::lag_factor>(),
      derived<&R::weight, &R::weight_factor>(), number<&R::average>("average"),
      below<&R::count, &R::period>("count", 1),
      rule<R>([](const R& r) noexcept { return r.count != 0 || r.average == 0.0; },
              "the running sum must be 0 before the first value")};
};
static_assert(checkpoint_layout::lists_every_member<classic::WilderAverage>());

// Before its first value the sum is exactly 0.
template <>
struct Checkpoint<classic::WilderSum> {
  using R = classic::WilderSum;
  static constexpr auto kFields = std::tuple{
      period<&R::period>("period", 0), number<&R::sum>("sum"),
      below<&R::count, &R::period>("count", 1),
      rule<R>([](const R& r) noexcept { return r.count != 0 || r.sum == 0.0; },
              "the sum must be 0 before the first value")};
};
static_assert(checkpoint_layout::lists_every_member<classic::WilderSum>());

}  // namespace barworks
