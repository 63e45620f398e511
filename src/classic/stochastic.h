#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "../candle.h"
#include "../error.h"
#include "../indicators/simple_moving_average.h"
#include "../nan.h"
#include "../warmup.h"
#include "family.h"
#include "stochastic_fast.h"

namespace barworks::classic {

// The slow stochastic: (slowk, slowd), where slowk is the fast stochastic's
// fastd with `slowk_period` (the simple average of the last `slowk_period`
// fastk over `fastk_period` bars, fastk 0 for a window whose highest high
// equals its lowest low, as TA-Lib answers) and slowd the simple average of
// the last `slowd_period` slowk. Lookback fastk_period - 1 + slowk_period -
// 1 + slowd_period - 1.
struct Stochastic {
  StochasticFast fast;
  SimpleMovingAverage slowd;

  static Expected<Stochastic> create(std::uint32_t fastk_period, std::uint32_t slowk_period,
                                     std::uint32_t slowd_period) noexcept {
    auto fast = StochasticFast::create(fastk_period, slowk_period);
    if (!fast) return std::unexpected(fast.error());
    auto average = SimpleMovingAverage::create(slowd_period);
    if (!average) return std::unexpected(average.error());
    return Stochastic{std::move(*fast), std::move(*average)};
  }
  std::array<double, 2> update(const Candle& bar) noexcept {
    if (steady()) [[likely]] {
      return fast.range.advance_on_fields(*this, bar.high, bar.low, bar.close, fast.fastd.window,
                                          fast.fastd.sum, slowd.window, slowd.sum);
    }
    return slow(fast.update(bar));
  }
  // Once both averages are full, the rule over a number type, for a lone
  // record or lanes side by side.
  bool steady() const noexcept {
    return fast.steady() && slowd.window.count == slowd.window.period;
  }
  template <class Number, class Values, class Suffixes, class Nans, class Averaged>
  [[gnu::always_inline]] static std::array<Number, 2> advance(
      const Stochastic& shared, Number open, Number high, Number low, Number close, Number volume,
      Values& highs, Values& lows, Suffixes& high_suffixes, Suffixes& low_suffixes,
      Number& high_prefix, Number& low_prefix, Nans& nans, Averaged& fastks, Number& fastk_sum,
      Averaged& slowks, Number& slowk_sum) noexcept {
    const Number slowk = StochasticFast::advance(shared.fast, open, high, low, close, volume, highs,
                                                 lows, high_suffixes, low_suffixes, high_prefix,
                                                 low_prefix, nans, fastks, fastk_sum)[1];
    return {slowk, SimpleMovingAverage::advance(shared.slowd, slowk, slowks, slowk_sum)};
  }
  // The answer from the fast stochastic's.
  std::array<double, 2> slow(const std::array<double, 2>& fast_answer) noexcept {
    const double slowk = fast_answer[1];
    if (slowk != slowk && slowd.window.count == 0) return {kNotYet, kNotYet};
    const double average = slowd.update(slowk);
    if (slowd.window.count < slowd.window.period) return {kNotYet, kNotYet};
    return {slowk, average};
  }
  void reset() noexcept {
    fast.reset();
    slowd.reset();
  }
};

// A batch of bars from columns, as that many updates would answer them.
template <class Column>
void answer_bars(Stochastic& record, std::size_t size, const Column& highs, const Column& lows,
                 const Column& closes, double* answers) noexcept {
  run_stochastic(record.fast, size, highs, lows, closes, answers,
                 [&](const std::array<double, 2>& fast) { return record.slow(fast); });
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::Stochastic> {
  using R = classic::Stochastic;
  static constexpr const char* kName = "Stochastic";
  static constexpr std::array kAnswers{"slowk", "slowd"};
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor =
      constructor<&R::create>(with_default("fastk_period", 5), with_default("slowk_period", 3),
                              with_default("slowd_period", 3));
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

template <>
struct LaneFields<classic::Stochastic> {
  using R = classic::Stochastic;
  using List = Joined<within_all<&R::fast, LaneFields<classic::StochasticFast>::List>,
                      within_all<&R::slowd, LaneFields<SimpleMovingAverage>::List>>;
};

template <>
struct Checkpoint<classic::Stochastic> {
  using R = classic::Stochastic;
  static constexpr auto kFields = std::tuple{
      component<&R::fast>("fast"), component<&R::slowd>("slowd"),
      rule<R>(
          [](const R& r) noexcept {
            return r.slowd.window.count == 0 ||
                   r.fast.fastd.window.count == r.fast.fastd.window.period;
          },
          "nothing may be averaged before the first slowk")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::Stochastic>());

template <>
struct Warmup<classic::Stochastic> {
  static std::uint64_t lookback(const classic::Stochastic& r) noexcept {
    return r.fast.lookback() + r.slowd.window.period - 1;
  }
  static std::uint64_t inputs_seen(const classic::Stochastic& r) noexcept {
    return r.fast.inputs_seen() + r.slowd.window.count - (r.slowd.window.count != 0);
  }
};

}  // namespace barworks
