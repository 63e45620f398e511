#pragma once

#include <array>
#include <cstdint>

#include "../error.h"
#include "exponential_moving_average.h"
#include "family.h"
#include "../warmup.h"

namespace barworks::classic {

// MACD from three seeded exponential moving averages:
//   macd = fast(x) - slow(x);  signal = signal_average(macd)
//   histogram = macd - signal
// answered as (macd, signal, histogram). The fast average starts late, with
// the input slow_period - fast_period, so that both averages take their
// seeds from windows ending at the same input; the signal average takes the
// MACD line from then on. Lookback slow_period - 1 + signal_period - 1: all
// three are NaN until then. NaN inputs before the first number are skipped
// without counting; a later NaN or infinity makes the answers NaN until reset.
struct MovingAverageConvergenceDivergence {
  ExponentialMovingAverage fast_average;
  ExponentialMovingAverage slow_average;
  ExponentialMovingAverage signal_average;

  // A zero period fails first, in the order fast, slow, signal; then a fast
  // period not below the slow one.
  static Expected<MovingAverageConvergenceDivergence> create(std::uint32_t fast_period,
                                                             std::uint32_t slow_period,
                                                             std::uint32_t signal_period) noexcept;
  std::array<double, 3> update(double x) noexcept;
  void reset() noexcept;

  // Once the signal average is seeded, the rule over a number type alone.
  bool steady() const noexcept { return signal_average.ready(); }
  template <class Number>
  static std::array<Number, 3> advance(const MovingAverageConvergenceDivergence& shared, Number x,
                                       Number& fast, Number& slow, Number& signal) noexcept {
    const Number slow_mean = ExponentialMovingAverage::advance(shared.slow_average, x, slow);
    const Number macd = ExponentialMovingAverage::advance(shared.fast_average, x, fast) - slow_mean;
    return of_line(macd, ExponentialMovingAverage::advance(shared.signal_average, macd, signal));
  }
  template <class Number>
  static std::array<Number, 3> of_line(Number macd, Number signal) noexcept {
    return {macd, signal, macd - signal};
  }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::MovingAverageConvergenceDivergence> {
  using R = classic::MovingAverageConvergenceDivergence;
  static constexpr const char* kName = "MovingAverageConvergenceDivergence";
  static constexpr std::array kAnswers{"macd", "signal", "histogram"};
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor =
      constructor<&R::create>(with_default("fast_period", 12), with_default("slow_period", 26),
                              with_default("signal_period", 9));
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

// The fast average is fed only once the slow one has taken more than
// slow_period - fast_period inputs, one input for each the slow one takes
// after that, and the signal average only once the slow one is seeded: the
// counts of a stored MACD must be ones that feeding can reach.
template <>
struct Checkpoint<classic::MovingAverageConvergenceDivergence> {
  using R = classic::MovingAverageConvergenceDivergence;
  static constexpr auto kFields = std::tuple{
      component<&R::fast_average>("fast_average"), component<&R::slow_average>("slow_average"),
      component<&R::signal_average>("signal_average"),
      rule<R>([](const R& r) noexcept { return r.fast_average.period < r.slow_average.period; },
              "the fast period must be less than the slow period"),
      rule<R>(
          [](const R& r) noexcept {
            const std::uint32_t delay = r.slow_average.period - r.fast_average.period;
            return r.fast_average.count == 0 ||
                   std::uint64_t{r.fast_average.count} + delay <= r.slow_average.count;
          },
          "the fast average must not have taken inputs the slow one has not passed on"),
      rule<R>([](const R& r) noexcept { return r.signal_average.count == 0 || r.slow_average.ready(); },
              "the signal average must not have taken inputs before the slow one is seeded")};
};
static_assert(
    checkpoint_layout::lists_every_member<classic::MovingAverageConvergenceDivergence>());

template <>
struct LaneFields<classic::MovingAverageConvergenceDivergence> {
  using R = classic::MovingAverageConvergenceDivergence;
  using E = classic::ExponentialMovingAverage;
  using List = FieldList<within<&R::fast_average, &E::current>,
                         within<&R::slow_average, &E::current>,
                         within<&R::signal_average, &E::current>>;
};

// The slow average counts up to its seed, the signal average from there on.
template <>
struct Warmup<classic::MovingAverageConvergenceDivergence> {
  using R = classic::MovingAverageConvergenceDivergence;
  static std::uint64_t lookback(const R& record) noexcept {
    return (std::uint64_t{record.slow_average.period} - 1) +
           (std::uint64_t{record.signal_average.period} - 1);
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    if (!record.slow_average.ready()) return record.slow_average.taken();
    return std::uint64_t{record.slow_average.period} - 1 + record.signal_average.taken();
  }
};

}  // namespace barworks
