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
#include "sliding_extremes.h"

namespace barworks::classic {

// The fast stochastic: (fastk, fastd), where
// fastk = 100 * ((close - lowest low) / (highest high - lowest low)) over
// the last `fastk_period` bars, 0 for a window whose highest high equals its
// lowest low, or is within 2e-14 of it relative to their level (as TA-Lib
// answers), and fastd the simple average of the last
// `fastd_period` fastk. Lookback fastk_period - 1 + fastd_period - 1. Bars
// before the first whose high, low and close are all numbers are skipped.
struct StochasticFast {
  BarRange range;
  SimpleMovingAverage fastd;

  static Expected<StochasticFast> create(std::uint32_t fastk_period,
                                         std::uint32_t fastd_period) noexcept {
    auto range = BarRange::create(fastk_period);
    if (!range) return std::unexpected(range.error());
    auto average = SimpleMovingAverage::create(fastd_period);
    if (!average) return std::unexpected(average.error());
    return StochasticFast{std::move(*range), std::move(*average)};
  }
  std::array<double, 2> update(const Candle& bar) noexcept {
    return step(bar.high, bar.low, bar.close);
  }
  std::array<double, 2> step(double high, double low, double close) noexcept {
    if (steady()) [[likely]] {
      return range.advance_on_fields(*this, high, low, close, fastd.window, fastd.sum);
    }
    if (range.highs.count == 0 && (high != high || low != low || close != close)) [[unlikely]] {
      return {kNotYet, kNotYet};
    }
    range.push(high, low);
    if (!range.full()) return {kNotYet, kNotYet};
    return of_range(range.highest_high(), range.lowest_low(), close);
  }
  // The answer once the range is full, from its extremes.
  std::array<double, 2> of_range(double highest, double lowest, double close) noexcept {
    const double fastk = fastk_of(highest, lowest, close);
    const double average = fastd.update(fastk);
    if (fastd.window.count < fastd.window.period) return {kNotYet, kNotYet};
    return {fastk, average};
  }
  template <class Number>
  static Number fastk_of(Number highest, Number lowest, Number close) noexcept {
    const Number spread = BarRange::spread_of(highest, lowest);
    const Number share = canonical(splat<Number>(100.0) * ((close - lowest) / spread));
    return select(spread == 0.0, splat<Number>(0.0), share);
  }
  // Once the range and the average are full, the rule over a number type,
  // for a lone record or lanes side by side.
  bool steady() const noexcept {
    return range.full() && fastd.window.count == fastd.window.period;
  }
  template <class Number, class Values, class Suffixes, class Nans, class Averaged>
  [[gnu::always_inline]] static std::array<Number, 2> advance(
      const StochasticFast& shared, Number, Number high, Number low, Number close, Number,
      Values& highs, Values& lows, Suffixes& high_suffixes, Suffixes& low_suffixes,
      Number& high_prefix, Number& low_prefix, Nans& nans, Averaged& fastks,
      Number& fastk_sum) noexcept {
    const Number fastk = BarRange::answered(
        shared.range, high, low,
        [close](Number highest, Number lowest) { return fastk_of(highest, lowest, close); },
        highs, lows, high_suffixes, low_suffixes, high_prefix, low_prefix, nans);
    return {fastk, SimpleMovingAverage::advance(shared.fastd, fastk, fastks, fastk_sum)};
  }
  void reset() noexcept {
    range.clear();
    fastd.reset();
  }
  std::uint64_t lookback() const noexcept {
    return std::uint64_t{range.length()} - 1 + fastd.window.period - 1;
  }
  std::uint64_t inputs_seen() const noexcept {
    return std::uint64_t{range.highs.count} + fastd.window.count - (fastd.window.count != 0);
  }
};

// Bars from columns through a fast stochastic as that many updates would
// take them, each answer through `finish` (the slow stochastic smooths it
// there) into its row of two.
template <class Column, class Finish>
[[gnu::always_inline]] inline void run_stochastic(StochasticFast& record, std::size_t size,
                                                  const Column& highs, const Column& lows,
                                                  const Column& closes, double* answers,
                                                  Finish finish) noexcept {
  const auto store = [answers](std::size_t i, const std::array<double, 2>& answer) {
    answers[2 * i] = answer[0];
    answers[2 * i + 1] = answer[1];
  };
  run_bar_range(
      record.range, size, highs, lows,
      [&](std::size_t i) { store(i, finish(record.step(highs[i], lows[i], closes[i]))); },
      [&](double highest, double lowest, std::size_t i) {
        store(i, finish(record.of_range(highest, lowest, closes[i])));
      });
}

// A batch of bars from columns, as that many updates would answer them.
template <class Column>
void answer_bars(StochasticFast& record, std::size_t size, const Column& highs,
                 const Column& lows, const Column& closes, double* answers) noexcept {
  run_stochastic(record, size, highs, lows, closes, answers,
                 [](const std::array<double, 2>& answer) { return answer; });
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::StochasticFast> {
  using R = classic::StochasticFast;
  static constexpr const char* kName = "StochasticFast";
  static constexpr std::array kAnswers{"fastk", "fastd"};
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor =
      constructor<&R::create>(with_default("fastk_period", 5), with_default("fastd_period", 3));
  static constexpr auto kMethods = std::tuple{
      method<&R::update>("next", Access::kExclusive, "input"),
      method<&R::reset>("reset", Access::kExclusive)};
};

template <>
struct Checkpoint<classic::StochasticFast> {
  using R = classic::StochasticFast;
  static constexpr auto kFields = std::tuple{
      component<&R::range>("range"), component<&R::fastd>("fastd"),
      rule<R>([](const R& r) noexcept { return r.fastd.window.count == 0 || r.range.full(); },
              "nothing may be averaged before the first full window")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::StochasticFast>());

template <>
struct LaneFields<classic::StochasticFast> {
  using R = classic::StochasticFast;
  using List = Joined<classic::RangeFields<&R::range>,
                      within_all<&R::fastd, LaneFields<SimpleMovingAverage>::List>>;
};

template <>
struct Warmup<classic::StochasticFast> {
  static std::uint64_t lookback(const classic::StochasticFast& r) noexcept { return r.lookback(); }
  static std::uint64_t inputs_seen(const classic::StochasticFast& r) noexcept {
    return r.inputs_seen();
  }
};

}  // namespace barworks
