#pragma once

#include <cstdint>

#include "../checkpoint.h"
#include "../describe.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../warmup.h"

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
  double update(double x) noexcept { return take(canonical(x)); }
  // update() of an input already made the one NaN, as a true range is.
  double take(double x) noexcept {
    if (first) {
      first = false;
      // x may be the NaN constant here; unfolded, so that an inlined
      // caller's arithmetic on this answer is never folded into a NaN of
      // the compiler's sign.
      current = unfolded(x);
      return current;
    }
    return smooth(alpha, x, current);
  }
  void reset() noexcept;
  std::uint32_t length() const noexcept { return period; }
  // 2 / (period + 1), widened first so that the largest period does not
  // wrap to 0.
  double smoothing() const noexcept { return 2.0 / (static_cast<double>(period) + 1.0); }

  // Once started, each step is the rule over a number type alone, for a
  // lone average or lanes side by side.
  bool steady() const noexcept { return !first; }
  template <class Number>
  static Number advance(const ExponentialMovingAverage& shared, Number x, Number& current) noexcept {
    return smooth(splat<Number>(shared.alpha), canonical(x), current);
  }
  template <class Number>
  static Number smooth(Number alpha, Number x, Number& current) noexcept {
    const Number t1 = x * alpha;
    const Number t2 = splat<Number>(1.0) - alpha;
    const Number t3 = t2 * current;
    current = t1 + t3;
    return current;
  }
};

template <>
struct PythonClass<ExponentialMovingAverage> : PeriodIndicator<ExponentialMovingAverage> {
  static constexpr const char* kName = "ExponentialMovingAverage";
};

// The smoothing factor follows from the period, so it is recomputed rather
// than stored: a checkpoint cannot disagree with its own period.
template <>
struct Checkpoint<ExponentialMovingAverage> {
  using R = ExponentialMovingAverage;
  static constexpr auto kFields =
      std::tuple{period<&R::period>("period", 0), derived<&R::alpha, &R::smoothing>(),
                 number<&R::current>("current"), choice<&R::first>("first", 1)};
};

// It keeps no count: once started it counts as warmed up.
template <>
struct LaneFields<ExponentialMovingAverage> {
  using List = FieldList<&ExponentialMovingAverage::current>;
};

template <>
struct Warmup<ExponentialMovingAverage> {
  using R = ExponentialMovingAverage;
  static std::uint64_t lookback(const R& record) noexcept { return std::uint64_t{record.period} - 1; }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.first ? 0 : kWarmedUp; }
};

}  // namespace barworks
