#pragma once

#include <array>
#include <cstdint>

#include "../error.h"
#include "../lanes.h"
#include "../warmup.h"
#include "exponential_moving_average.h"
#include "family.h"

namespace barworks::classic {

// Triple exponential moving average from three seeded exponential averages
// of one period, each taking the answers of the one before once they are
// numbers:
//   result = 3 * e1 - 3 * e2 + e3,  e1 = ema(x), e2 = ema(e1), e3 = ema(e2)
// Lookback 3 * (period - 1). NaN inputs before the first number are skipped
// without counting; a later NaN or infinite input makes the answers NaN
// until reset.
struct TripleExponentialMovingAverage {
  ExponentialMovingAverage first;
  ExponentialMovingAverage second;
  ExponentialMovingAverage third;

  static Expected<TripleExponentialMovingAverage> create(std::uint32_t period) noexcept {
    auto average = ExponentialMovingAverage::create(period);
    if (!average) return std::unexpected(average.error());
    return TripleExponentialMovingAverage{*average, *average, *average};
  }
  double update(double x) noexcept {
    if (steady()) [[likely]] return advance(*this, x, first.current, second.current, third.current);
    std::array<double, 3> e;
    if (!update_chain(x, e, first, second, third)) return kNotYet;
    return of_averages(e[0], e[1], e[2]);
  }
  // Once all three are seeded, the rule over a number type alone.
  bool steady() const noexcept { return third.ready(); }
  template <class Number>
  static Number advance(const TripleExponentialMovingAverage& shared, Number x, Number& first,
                        Number& second, Number& third) noexcept {
    const auto e = shared.steady_chain(x, first, second, third);
    return of_averages(e[0], e[1], e[2]);
  }
  // The three averages of a seeded chain, on their running averages.
  template <class Number>
  std::array<Number, 3> steady_chain(Number x, Number& e1, Number& e2, Number& e3) const noexcept {
    const Number a1 = first.steady_take(canonical(x), e1);
    const Number a2 = second.steady_take(a1, e2);
    return {a1, a2, third.steady_take(a2, e3)};
  }
  template <class Number>
  static Number of_averages(Number e1, Number e2, Number e3) noexcept {
    return splat<Number>(3.0) * (e1 - e2) + e3;
  }
  void reset() noexcept {
    first.reset();
    second.reset();
    third.reset();
  }
  std::uint32_t length() const noexcept { return first.period; }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::TripleExponentialMovingAverage>
    : ClassicPeriodIndicator<classic::TripleExponentialMovingAverage> {
  using R = classic::TripleExponentialMovingAverage;
  static constexpr const char* kName = "TripleExponentialMovingAverage";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 30));
};

template <>
struct Checkpoint<classic::TripleExponentialMovingAverage> {
  using R = classic::TripleExponentialMovingAverage;
  static constexpr auto kFields = std::tuple{
      component<&R::first>("first"), component<&R::second>("second"),
      component<&R::third>("third"),
      rule<R>(
          [](const R& r) noexcept {
            return r.first.period == r.second.period && r.second.period == r.third.period;
          },
          "the three averages must have the same period"),
      rule<R>(
          [](const R& r) noexcept {
            return (r.second.count == 0 || r.first.ready()) &&
                   (r.third.count == 0 || r.second.ready());
          },
          "an average must not have taken inputs before the one feeding it is seeded")};
};
static_assert(checkpoint_layout::lists_every_member<classic::TripleExponentialMovingAverage>());

template <>
struct LaneFields<classic::TripleExponentialMovingAverage> {
  using R = classic::TripleExponentialMovingAverage;
  using E = classic::ExponentialMovingAverage;
  using List = FieldList<within<&R::first, &E::current>, within<&R::second, &E::current>,
                         within<&R::third, &E::current>>;
};

// Each average counts up to its seed, the next from there on.
template <>
struct Warmup<classic::TripleExponentialMovingAverage> {
  using R = classic::TripleExponentialMovingAverage;
  static std::uint64_t lookback(const R& record) noexcept {
    return 3 * (std::uint64_t{record.first.period} - 1);
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    const std::uint64_t step = std::uint64_t{record.first.period} - 1;
    if (!record.first.ready()) return record.first.taken();
    if (!record.second.ready()) return step + record.second.taken();
    return 2 * step + record.third.taken();
  }
};

}  // namespace barworks
