#pragma once

#include <cstdint>
#include <utility>

#include "../candle.h"
#include "../error.h"
#include "../nan.h"
#include "../warmup.h"
#include "family.h"
#include "sliding_extremes.h"

namespace barworks::classic {

// Williams %R of the last `period` bars:
// -100 * ((highest high - close) / (highest high - lowest low)), and 0 for
// a window whose highest high equals its lowest low, or is within 2e-14 of
// it relative to their level, as TA-Lib answers.
// Lookback period - 1. Bars before the first whose high, low and close are
// all numbers are skipped; a later NaN makes the answers NaN while it is in
// the window.
struct WilliamsR {
  BarRange range;

  static Expected<WilliamsR> create(std::uint32_t period) noexcept {
    auto range = BarRange::create(period);
    if (!range) return std::unexpected(range.error());
    return WilliamsR{std::move(*range)};
  }
  double update(const Candle& bar) noexcept {
    if (range.highs.count == 0 &&
        (bar.high != bar.high || bar.low != bar.low || bar.close != bar.close)) [[unlikely]] {
      return kNotYet;
    }
    const double answer = range.advance_on_fields(*this, bar.high, bar.low, bar.close);
    return range.full() ? answer : kNotYet;
  }
  // Once the window is full, the rule over a number type, for a lone
  // record or lanes side by side.
  bool steady() const noexcept { return range.full(); }
  template <class Number, class... Fields>
  [[gnu::always_inline]] static Number advance(const WilliamsR& shared, Number, Number high,
                                               Number low, Number close, Number,
                                               Fields&... range_fields) noexcept {
    return BarRange::answered(
        shared.range, high, low,
        [close](Number highest, Number lowest) { return of_range(highest, lowest, close); },
        range_fields...);
  }
  template <class Number>
  static Number of_range(Number highest, Number lowest, Number close) noexcept {
    const Number spread = BarRange::spread_of(highest, lowest);
    const Number share = canonical(splat<Number>(-100.0) * ((highest - close) / spread));
    return select(spread == 0.0, splat<Number>(0.0), share);
  }
  void reset() noexcept { range.clear(); }
  std::uint32_t length() const noexcept { return range.length(); }
};

// A batch of bars from columns, as that many updates would answer them.
// The window's extremes come a bar at a time; the answers, whose two
// divisions bound the loop, are taken two bars at a time.
template <class Column>
void answer_bars(WilliamsR& record, std::size_t size, const Column& highs, const Column& lows,
                 const Column& closes, double* answers) noexcept {
  PairedExtremes held;
  const auto answer = [&]<class Number>(Number highest, Number lowest, std::size_t i) {
    if constexpr (std::is_same_v<Number, double>) {
      answers[i] = WilliamsR::of_range(highest, lowest, closes[i]);
    } else {
      store_lanes(answers + i, WilliamsR::of_range(highest, lowest, closes.pair(i)));
    }
  };
  run_bar_range(
      record.range, size, highs, lows,
      [&](std::size_t i) {
        answers[i] = record.update(Candle{kNaN, highs[i], lows[i], closes[i], kNaN});
      },
      [&](double highest, double lowest, std::size_t i) { held.take(highest, lowest, i, answer); });
  held.flush(answer);
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::WilliamsR> : ClassicPeriodIndicator<classic::WilliamsR> {
  static constexpr const char* kName = "WilliamsR";
  static constexpr auto kConstructor =
      constructor<&classic::WilliamsR::create>(with_default("period", 14));
};

template <>
struct Checkpoint<classic::WilliamsR> {
  using R = classic::WilliamsR;
  static constexpr auto kFields = std::tuple{component<&R::range>("range")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::WilliamsR>());

template <>
struct LaneFields<classic::WilliamsR> {
  using List = classic::RangeFields<&classic::WilliamsR::range>;
};

template <>
struct Warmup<classic::WilliamsR> {
  static std::uint64_t lookback(const classic::WilliamsR& record) noexcept {
    return std::uint64_t{record.length()} - 1;
  }
  static std::uint64_t inputs_seen(const classic::WilliamsR& record) noexcept {
    return record.range.highs.count;
  }
};

}  // namespace barworks
