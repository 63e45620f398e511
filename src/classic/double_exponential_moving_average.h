#pragma once

#include <array>
#include <cstdint>

#include "../error.h"
#include "../lanes.h"
#include "../warmup.h"
#include "exponential_moving_average.h"
#include "family.h"

namespace barworks::classic {

// Double exponential moving average from two seeded exponential averages
// of one period, the second taking the first's answers once they are
// numbers:
//   result = 2 * ema(x) - ema(ema(x))
// Lookback 2 * (period - 1): the second average takes its seed from the
// first `period` answers of the first. NaN inputs before the first number
// are skipped without counting; a later NaN or infinite input makes the
// answers NaN until reset.
struct DoubleExponentialMovingAverage {
  ExponentialMovingAverage first;
  ExponentialMovingAverage second;

  static Expected<DoubleExponentialMovingAverage> create(std::uint32_t period) noexcept {
    auto average = ExponentialMovingAverage::create(period);
    if (!average) return std::unexpected(average.error());
    return DoubleExponentialMovingAverage{*average, *average};
  }
  double update(double x) noexcept {
    if (steady()) [[likely]] return advance(*this, x, first.current, second.current);
    std::array<double, 2> e;
    if (!update_chain(x, e, first, second)) return kNotYet;
    return of_averages(e[0], e[1]);
  }
  // Once both are seeded, the rule over a number type alone.
  bool steady() const noexcept { return second.ready(); }
  template <class Number>
  static Number advance(const DoubleExponentialMovingAverage& shared, Number x, Number& first,
                        Number& second) noexcept {
    const Number e1 = shared.first.steady_take(canonical(x), first);
    return of_averages(e1, shared.second.steady_take(e1, second));
  }
  template <class Number>
  static Number of_averages(Number e1, Number e2) noexcept {
    return splat<Number>(2.0) * e1 - e2;
  }
  void reset() noexcept {
    first.reset();
    second.reset();
  }
  std::uint32_t length() const noexcept { return first.period; }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::DoubleExponentialMovingAverage>
    : ClassicPeriodIndicator<classic::DoubleExponentialMovingAverage> {
  using R = classic::DoubleExponentialMovingAverage;
  static constexpr const char* kName = "DoubleExponentialMovingAverage";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 30));
};

template <>
struct Checkpoint<classic::DoubleExponentialMovingAverage> {
  using R = classic::DoubleExponentialMovingAverage;
  static constexpr auto kFields = std::tuple{
      component<&R::first>("first"), component<&R::second>("second"),
      rule<R>([](const R& r) noexcept { return r.first.period == r.second.period; },
              "both averages must have the same period"),
      rule<R>([](const R& r) noexcept { return r.second.count == 0 || r.first.ready(); },
              "the second average must not have taken inputs before the first is seeded")};
};
static_assert(checkpoint_layout::lists_every_member<classic::DoubleExponentialMovingAverage>());

template <>
struct LaneFields<classic::DoubleExponentialMovingAverage> {
  using R = classic::DoubleExponentialMovingAverage;
  using E = classic::ExponentialMovingAverage;
  using List = FieldList<within<&R::first, &E::current>, within<&R::second, &E::current>>;
};

// The first average counts up to its seed, the second from there on.
template <>
struct Warmup<classic::DoubleExponentialMovingAverage> {
  using R = classic::DoubleExponentialMovingAverage;
  static std::uint64_t lookback(const R& record) noexcept {
    return 2 * (std::uint64_t{record.first.period} - 1);
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    if (!record.first.ready()) return record.first.taken();
    return std::uint64_t{record.first.period} - 1 + record.second.taken();
  }
};

}  // namespace barworks
