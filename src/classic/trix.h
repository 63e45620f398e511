#pragma once

#include <array>
#include <cstdint>

#include "../error.h"
#include "../lanes.h"
#include "../warmup.h"
#include "exponential_moving_average.h"
#include "family.h"
#include "triple_exponential_moving_average.h"

namespace barworks::classic {

// TRIX: the one-step rate of change, in percent, of a triple exponential
// average, e3 = ema(ema(ema(x))) over three chained seeded averages (the
// chain of TripleExponentialMovingAverage):
//   result = (e3 / previous e3 - 1) * 100
// Lookback 3 * (period - 1) + 1. A previous e3 of 0 answers 0.0, as TA-Lib
// does. NaN inputs before the first number are skipped without counting; a
// later NaN or infinite input makes the answers NaN until reset.
struct Trix {
  TripleExponentialMovingAverage averages;

  static Expected<Trix> create(std::uint32_t period) noexcept {
    auto averages = TripleExponentialMovingAverage::create(period);
    if (!averages) return std::unexpected(averages.error());
    return Trix{*averages};
  }
  double update(double x) noexcept {
    if (steady()) [[likely]] {
      return advance(*this, x, averages.first.current, averages.second.current,
                     averages.third.current);
    }
    std::array<double, 3> e;
    update_chain(x, e, averages.first, averages.second, averages.third);
    return kNotYet;
  }
  // Once the chain is seeded, its last average holds the previous e3 until
  // it takes x, and each step is the rule over a number type alone.
  bool steady() const noexcept { return averages.third.ready(); }
  template <class Number>
  static Number advance(const Trix& shared, Number x, Number& first, Number& second,
                        Number& third) noexcept {
    const Number previous = third;
    const Number e3 = shared.averages.steady_chain(x, first, second, third)[2];
    const Number rate = (e3 / previous - splat<Number>(1.0)) * splat<Number>(100.0);
    return select(previous == 0.0, splat<Number>(0.0), rate);
  }
  void reset() noexcept { averages.reset(); }
  std::uint32_t length() const noexcept { return averages.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::Trix> : ClassicPeriodIndicator<classic::Trix> {
  using R = classic::Trix;
  static constexpr const char* kName = "Trix";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 30));
};

template <>
struct Checkpoint<classic::Trix> {
  using R = classic::Trix;
  static constexpr auto kFields = std::tuple{component<&R::averages>("averages")};
};
static_assert(checkpoint_layout::lists_every_member<classic::Trix>());

template <>
struct LaneFields<classic::Trix> {
  using R = classic::Trix;
  using T = classic::TripleExponentialMovingAverage;
  using E = classic::ExponentialMovingAverage;
  using List = FieldList<within<&R::averages, within<&T::first, &E::current>>,
                         within<&R::averages, within<&T::second, &E::current>>,
                         within<&R::averages, within<&T::third, &E::current>>>;
};

// The averages count up to the last one's seed, which is the lookback less
// the one input that gives the first rate.
template <>
struct Warmup<classic::Trix> {
  using R = classic::Trix;
  static std::uint64_t lookback(const R& record) noexcept {
    return Warmup<classic::TripleExponentialMovingAverage>::lookback(record.averages) + 1;
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return Warmup<classic::TripleExponentialMovingAverage>::inputs_seen(record.averages);
  }
};

}  // namespace barworks
