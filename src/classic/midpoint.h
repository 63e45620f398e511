#pragma once

#include <cmath>
#include <cstdint>
#include <utility>

#include "../candle.h"
#include "../error.h"
#include "../nan.h"
#include "../warmup.h"
#include "../window.h"
#include "family.h"
#include "sliding_extremes.h"

namespace barworks::classic {

// The middle of the last `period` inputs' range: (highest + lowest) / 2,
// each extreme kept block by block, amortised O(1) a step.
// Lookback period - 1: NaN until the window is full. NaN inputs before the
// first number are skipped without counting; a later NaN makes the answers
// NaN while it is in the window.
struct Midpoint {
  CircularWindow window;
  SlidingExtreme<Highest> highest;
  SlidingExtreme<Lowest> lowest;
  NanWatch nans;

  static Expected<Midpoint> create(std::uint32_t period) noexcept {
    auto window = CircularWindow::create(period);
    if (!window) return std::unexpected(window.error());
    auto highest = SlidingExtreme<Highest>::create(period);
    if (!highest) return std::unexpected(highest.error());
    auto lowest = SlidingExtreme<Lowest>::create(period);
    if (!lowest) return std::unexpected(lowest.error());
    return Midpoint{std::move(*window), std::move(*highest), std::move(*lowest), NanWatch{0}};
  }
  double update(double x) noexcept {
    if (window.count == 0 && x != x) [[unlikely]] return kNotYet;
    const double answer = advance(*this, x, window, highest.suffixes, lowest.suffixes,
                                  highest.prefix, lowest.prefix, nans);
    return window.count < window.period ? kNotYet : answer;
  }
  // Once the window is full, the rule over a number type, for a lone
  // record or lanes side by side.
  bool steady() const noexcept { return window.count == window.period; }
  template <class Number, class Values, class Suffixes, class Nans>
  [[gnu::always_inline]] static Number advance(const Midpoint& shared, Number x, Values& window,
                                               Suffixes& high_suffixes, Suffixes& low_suffixes,
                                               Number& high_prefix, Number& low_prefix,
                                               Nans& nans) noexcept {
    const std::uint32_t slot = window.write_slot();
    const auto nan = x != x;
    x = canonical(x);
    window.push(x);
    const auto taken = take_extremes(shared.length(), slot, x, x, nan, window, window,
                                     high_suffixes, low_suffixes, high_prefix, low_prefix, nans);
    return select(taken.blank, splat<Number>(kNaN), of_range(taken.highest, taken.lowest));
  }
  template <class Number>
  static Number of_range(Number highest, Number lowest) noexcept {
    return (highest + lowest) * 0.5;
  }
  void reset() noexcept {
    window.clear();
    highest.clear();
    lowest.clear();
    nans.clear();
  }
  std::uint32_t length() const noexcept { return window.period; }
  bool rebuild_highest() noexcept { return highest.rebuild(window); }
  bool rebuild_lowest() noexcept { return lowest.rebuild(window); }
  bool rebuild_nans() noexcept {
    nans.rebuild(window);
    return true;
  }
};

// The middle of the range of the last `period` bars: (highest high + lowest
// low) / 2. Lookback period - 1. Bars before the first whose high and low
// are both numbers are skipped without counting; a later NaN high or low
// makes the answers NaN while it is in the window.
struct Midprice {
  static constexpr bool kReadsClose = false;

  BarRange range;

  static Expected<Midprice> create(std::uint32_t period) noexcept {
    auto range = BarRange::create(period);
    if (!range) return std::unexpected(range.error());
    return Midprice{std::move(*range)};
  }
  double update(const Candle& bar) noexcept {
    if (range.highs.count == 0 && (bar.high != bar.high || bar.low != bar.low)) [[unlikely]] {
      return kNotYet;
    }
    const double answer = range.advance_on_fields(*this, bar.high, bar.low, bar.close);
    return range.full() ? answer : kNotYet;
  }
  // Once the window is full, the rule over a number type, for a lone
  // record or lanes side by side.
  bool steady() const noexcept { return range.full(); }
  template <class Number, class... Fields>
  [[gnu::always_inline]] static Number advance(const Midprice& shared, Number, Number high,
                                               Number low, Number, Number,
                                               Fields&... range_fields) noexcept {
    return BarRange::answered(
        shared.range, high, low,
        [](Number highest, Number lowest) { return Midpoint::of_range(highest, lowest); },
        range_fields...);
  }
  void reset() noexcept { range.clear(); }
  std::uint32_t length() const noexcept { return range.length(); }
};

// A batch of inputs from a column, as that many updates would answer them.
template <class Column>
void answer_values(Midpoint& record, std::size_t size, const Column& values,
                   double* answers) noexcept {
  run_window_extremes(
      record.window, record.window, record.highest, record.lowest, record.nans, size, values,
      values, [&](std::size_t i) { answers[i] = record.update(values[i]); },
      [&](double highest, double lowest, std::size_t i) {
        answers[i] = Midpoint::of_range(highest, lowest);
      });
}

// A batch of bars from columns, as that many updates would answer them.
template <class Column>
void answer_bars(Midprice& record, std::size_t size, const Column& highs, const Column& lows,
                 const Column&, double* answers) noexcept {
  run_bar_range(
      record.range, size, highs, lows,
      [&](std::size_t i) {
        answers[i] = record.update(Candle{kNaN, highs[i], lows[i], kNaN, kNaN});
      },
      [&](double highest, double lowest, std::size_t i) {
        answers[i] = Midpoint::of_range(highest, lowest);
      });
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::Midpoint> : ClassicPeriodIndicator<classic::Midpoint> {
  static constexpr const char* kName = "Midpoint";
  static constexpr auto kConstructor =
      constructor<&classic::Midpoint::create>(with_default("period", 14));
};

// The extremes follow from the window and are rebuilt on load.
template <>
struct Checkpoint<classic::Midpoint> {
  using R = classic::Midpoint;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), rebuilt<&R::highest, &R::rebuild_highest>(),
      rebuilt<&R::lowest, &R::rebuild_lowest>(), rebuilt<&R::nans, &R::rebuild_nans>(),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period")};
};
static_assert(checkpoint_layout::lists_every_member<classic::Midpoint>());

template <>
struct Warmup<classic::Midpoint> : WindowWarmup<classic::Midpoint> {};

template <>
struct LaneFields<classic::Midpoint> {
  using R = classic::Midpoint;
  using Highest = classic::SlidingExtreme<classic::Highest>;
  using Lowest = classic::SlidingExtreme<classic::Lowest>;
  using List =
      FieldList<&R::window, within<&R::highest, &Highest::suffixes>,
                within<&R::lowest, &Lowest::suffixes>, within<&R::highest, &Highest::prefix>,
                within<&R::lowest, &Lowest::prefix>, &R::nans>;
};

template <>
struct LaneFields<classic::Midprice> {
  using List = classic::RangeFields<&classic::Midprice::range>;
};

template <>
struct PythonClass<classic::Midprice> : ClassicPeriodIndicator<classic::Midprice> {
  static constexpr const char* kName = "Midprice";
  static constexpr auto kConstructor =
      constructor<&classic::Midprice::create>(with_default("period", 14));
};

template <>
struct Checkpoint<classic::Midprice> {
  using R = classic::Midprice;
  static constexpr auto kFields = std::tuple{component<&R::range>("range")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::Midprice>());

template <>
struct Warmup<classic::Midprice> {
  using R = classic::Midprice;
  static std::uint64_t lookback(const R& record) noexcept {
    return std::uint64_t{record.length()} - 1;
  }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.range.highs.count; }
};

}  // namespace barworks
