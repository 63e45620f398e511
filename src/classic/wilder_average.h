#pragma once

#include <cstdint>

#include "../lanes.h"
#include "../nan.h"
#include "family.h"

namespace barworks::classic {

// How a Wilder average takes a value once seeded. kToTheBit keeps
//   average = (average * (period - 1) + x) * (1 / period)
// TA-Lib's relative strength index to the bit (a stochastic of it magnifies
// any ulp on a still stretch). kDecaying takes
//   average = average * ((period - 1) / period) + x * (1 / period)
// whose chain from one step to the next is a multiply and an add, not two
// multiplies around an add, for the averages that TA-Lib matches only to an
// ulp or two in any order. Either way 1 / period is rounded once, at
// construction, and no division sits in that chain.
enum class WilderStep { kToTheBit, kDecaying };

// Wilder's smoothing, the part that the relative strength index and the
// average true range share (not a class of its own): seeded with the mean of
// the first `period` values, then smoothed with 1/period as `Step` says.
// NaN until seeded. A NaN value stays in the average until reset.
template <WilderStep Step>
struct WilderSmoothing {
  std::uint32_t period;
  double lag;           // what the average is multiplied by: period - 1, or that / period
  double weight;        // 1 / period
  double average;       // the running sum while seeding, then the average
  std::uint32_t count;  // values taken, up to `period`

  static WilderSmoothing create(std::uint32_t period) noexcept {
    WilderSmoothing made{period, 0.0, 0.0, 0.0, 0};
    made.lag = made.lag_factor();
    made.weight = made.weight_factor();
    return made;
  }
  double lag_factor() const noexcept {
    const double lag = static_cast<double>(period) - 1.0;
    return Step == WilderStep::kToTheBit ? lag : lag / static_cast<double>(period);
  }
  double weight_factor() const noexcept { return 1.0 / static_cast<double>(period); }
  // The value is made the one NaN, unfolded, before it meets the average,
  // which then holds only that NaN however the compiler orders the
  // operands (the invalid operations make no other), with nothing added
  // to the chain that carries one step into the next. Always inlined:
  // called out of line, the average goes through memory on every step.
  [[gnu::always_inline]] double update(double x) noexcept {
    x = unfolded(canonical(x));
    if (seeded()) [[likely]] return smooth(*this, x, average);
    average += x;
    if (++count < period) return kNotYet;
    average *= weight;
    return average;
  }
  void reset() noexcept {
    average = 0.0;
    count = 0;
  }
  // Once seeded, the rule over a number type, for a lone average or lanes
  // side by side; `average` is the lane's or lanes'.
  bool seeded() const noexcept { return count == period; }
  template <class Number>
  [[gnu::always_inline]] static Number advance(const WilderSmoothing& shared, Number x,
                                               Number& average) noexcept {
    return smooth(shared, unfolded(canonical(x)), average);
  }
  // The step of a value made the one NaN and unfolded, as update() makes it
  // before it looks at the count: the batch loops then select the value
  // once with the NaN price check before them.
  template <class Number>
  [[gnu::always_inline]] static Number smooth(const WilderSmoothing& shared, Number x,
                                              Number& average) noexcept {
    if constexpr (Step == WilderStep::kToTheBit) {
      average = (average * splat<Number>(shared.lag) + x) * splat<Number>(shared.weight);
    } else {
      average = average * splat<Number>(shared.lag) + x * splat<Number>(shared.weight);
    }
    return average;
  }
};

using WilderAverage = WilderSmoothing<WilderStep::kToTheBit>;
using DecayingWilderAverage = WilderSmoothing<WilderStep::kDecaying>;

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
    count = period;
    return advance(*this, x, sum);
  }
  // Once seeded, the rule over a number type, for a lone sum or lanes side
  // by side; `sum` is the lane's or lanes'. The value is unfolded, so that a
  // NaN constant put in its place (a movement made unknown) is not folded
  // into a NaN of the compiler's sign.
  template <class Number>
  [[gnu::always_inline]] static Number advance(const WilderSum& shared, Number x,
                                               Number& sum) noexcept {
    sum = sum - sum / splat<Number>(static_cast<double>(shared.period)) + unfolded(x);
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
template <classic::WilderStep Step>
struct Checkpoint<classic::WilderSmoothing<Step>> {
  using R = classic::WilderSmoothing<Step>;
  static constexpr auto kFields = std::tuple{
      period<&R::period>("period", 0), derived<&R::lag, &R::lag_factor>(),
      derived<&R::weight, &R::weight_factor>(), number<&R::average>("average"),
      below<&R::count, &R::period>("count", 1),
      rule<R>([](const R& r) noexcept { return r.count != 0 || r.average == 0.0; },
              "the running sum must be 0 before the first value")};
};
static_assert(checkpoint_layout::lists_every_member<classic::WilderAverage>());
static_assert(checkpoint_layout::lists_every_member<classic::DecayingWilderAverage>());

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
