#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <utility>

#include <cmath>

#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "family.h"
#include "../warmup.h"

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
  double update(double x) noexcept { return take(canonical(x)); }
  // The update of an input that is already canonical(): another average's
  // answer, whose NaNs are all kNaN (arithmetic on kNaN and the invalid
  // operations make no other), so a chain checks its input once.
  [[gnu::always_inline]] double take(double x) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return period; }
  // True once the seed has been taken.
  bool ready() const noexcept { return count == period; }
  std::uint32_t taken() const noexcept { return count; }
  // 2 / (period + 1), widened first so that the largest period does not
  // wrap to 0.
  double smoothing() const noexcept { return 2.0 / (static_cast<double>(period) + 1.0); }

  // Once seeded, each step is the rule over a number type alone, for a
  // lone average or lanes side by side; `current` is the average of the
  // lane or lanes, this record gives the parameters.
  bool steady() const noexcept { return ready(); }
  template <class Number>
  static Number advance(const ExponentialMovingAverage& shared, Number x,
                        Number& current) noexcept {
    return shared.steady_take(canonical(x), current);
  }
  template <class Number>
  Number steady_take(Number x, Number& current) const noexcept {
    current = (x - current) * splat<Number>(alpha) + current;
    return current;
  }
};

// Defined here so that the batch loop and the records that embed this one
// inline it: called out of line, the average goes through memory on every
// step.
inline double ExponentialMovingAverage::take(double x) noexcept {
  if (count == period) [[likely]] return steady_take(x, current);
  if (count == 0 && std::isnan(x)) return kNotYet;
  current += x;
  if (++count < period) return kNotYet;
  current /= static_cast<double>(period);
  return current;
}

// An exponential step as average = x * alpha + average * decay, decay
// being 1 - alpha: one multiply and one add from step to step, against a
// subtract, a multiply and an add in the form above. For the records that
// TA-Lib matches only to a few ulps in any order (its T3 and Chaikin
// oscillator), not for the average itself, which it matches to the bit.
template <class Number>
[[gnu::always_inline]] inline Number decaying_step(Number x, Number alpha, Number decay,
                                                   Number& average) noexcept {
  average = x * alpha + average * decay;
  return average;
}

// Feeds `x` through averages chained one into the next, each taking the
// answers of the one before once that one has its seed. False while any
// of them is still seeding; else `answers` holds each one's answer.
template <class... Averages>
[[gnu::always_inline]] inline bool update_chain(double x, std::array<double, sizeof...(Averages)>& answers,
                         Averages&... averages) noexcept {
  const auto chained = std::tie(averages...);
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    double value = canonical(x);
    return ((value = std::get<I>(chained).take(value), answers[I] = value,
             std::get<I>(chained).ready()) &&
            ...);
  }(std::index_sequence_for<Averages...>{});
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::ExponentialMovingAverage>
    : ClassicPeriodIndicator<classic::ExponentialMovingAverage> {
  static constexpr const char* kName = "ExponentialMovingAverage";
};

// The smoothing factor follows from the period and is recomputed on load.
// Before the first input the running sum is exactly 0.
template <>
struct Checkpoint<classic::ExponentialMovingAverage> {
  using R = classic::ExponentialMovingAverage;
  static constexpr auto kFields = std::tuple{
      period<&R::period>("period", 0), derived<&R::alpha, &R::smoothing>(),
      number<&R::current>("current"), below<&R::count, &R::period>("count", 1),
      rule<R>([](const R& r) noexcept { return r.count != 0 || r.current == 0.0; },
              "the running sum must be 0 before the first input")};
};
static_assert(checkpoint_layout::lists_every_member<classic::ExponentialMovingAverage>());

template <>
struct LaneFields<classic::ExponentialMovingAverage> {
  using List = FieldList<&classic::ExponentialMovingAverage::current>;
};

// Counts what it has taken up to its seed; skipped leading NaN inputs are
// not counted.
template <>
struct Warmup<classic::ExponentialMovingAverage> {
  using R = classic::ExponentialMovingAverage;
  static std::uint64_t lookback(const R& record) noexcept { return std::uint64_t{record.period} - 1; }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.taken(); }
};

}  // namespace barworks
