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
#include "window_extremes.h"

namespace barworks::classic {

// The middle of the last `period` inputs' range: (highest + lowest) / 2.
// The slots of the highest and the lowest input are remembered and found
// again only when an input leaves from one of them, amortised O(1) a step.
// Lookback period - 1: NaN until the window is full. NaN inputs before the
// first number are skipped without counting; a later NaN makes the answers
// NaN while it is in the window.
struct Midpoint {
  CircularWindow window;
  std::uint32_t highest;  // slot of a highest input
  std::uint32_t lowest;   // slot of a lowest input

  static Expected<Midpoint> create(std::uint32_t period) noexcept {
    auto window = CircularWindow::create(period);
    if (!window) return std::unexpected(window.error());
    return Midpoint{std::move(*window), 0, 0};
  }
  // Highest and lowest may both be NaN, and their sum must be the one NaN.
  double update(double x) noexcept {
    if (window.count == 0 && x != x) [[unlikely]] return kNotYet;
    x = canonical(x);
    const std::uint32_t slot = window.index;
    const double high_before = window.values[highest];
    const double low_before = window.values[lowest];
    window.push(x);
    highest = follow_extreme<Highest>(window, highest, high_before, slot, x);
    lowest = follow_extreme<Lowest>(window, lowest, low_before, slot, x);
    if (window.count < window.period) return kNotYet;
    return (window.values[highest] + window.values[lowest]) * 0.5;
  }
  void reset() noexcept {
    window.clear();
    highest = 0;
    lowest = 0;
  }
  std::uint32_t length() const noexcept { return window.period; }
  std::uint32_t find_highest() const noexcept { return scan_extreme<Highest>(window); }
  std::uint32_t find_lowest() const noexcept { return scan_extreme<Lowest>(window); }
};

// The middle of the range of the last `period` bars: (highest high + lowest
// low) / 2, the highs and the lows kept in windows of their own. Lookback
// period - 1. Bars before the first whose high and low are both numbers are
// skipped without counting; a later NaN high or low makes the answers NaN
// while it is in the window.
struct Midprice {
  CircularWindow highs;
  CircularWindow lows;
  std::uint32_t highest;  // slot of a highest high
  std::uint32_t lowest;   // slot of a lowest low

  static Expected<Midprice> create(std::uint32_t period) noexcept {
    auto highs = CircularWindow::create(period);
    if (!highs) return std::unexpected(highs.error());
    auto lows = CircularWindow::create(period);
    if (!lows) return std::unexpected(lows.error());
    return Midprice{std::move(*highs), std::move(*lows), 0, 0};
  }
  double update(const Candle& bar) noexcept {
    if (highs.count == 0 && (bar.high != bar.high || bar.low != bar.low)) [[unlikely]] {
      return kNotYet;
    }
    const double high = canonical(bar.high), low = canonical(bar.low);
    const std::uint32_t slot = highs.index;
    const double high_before = highs.values[highest];
    const double low_before = lows.values[lowest];
    highs.push(high);
    lows.push(low);
    highest = follow_extreme<Highest>(highs, highest, high_before, slot, high);
    lowest = follow_extreme<Lowest>(lows, lowest, low_before, slot, low);
    if (highs.count < highs.period) return kNotYet;
    return (highs.values[highest] + lows.values[lowest]) * 0.5;
  }
  void reset() noexcept {
    highs.clear();
    lows.clear();
    highest = 0;
    lowest = 0;
  }
  std::uint32_t length() const noexcept { return highs.period; }
  std::uint32_t find_highest() const noexcept { return scan_extreme<Highest>(highs); }
  std::uint32_t find_lowest() const noexcept { return scan_extreme<Lowest>(lows); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::Midpoint> : ClassicPeriodIndicator<classic::Midpoint> {
  static constexpr const char* kName = "Midpoint";
  static constexpr auto kConstructor =
      constructor<&classic::Midpoint::create>(with_default("period", 14));
};

// The extremes' slots follow from the window and are found again on load.
template <>
struct Checkpoint<classic::Midpoint> {
  using R = classic::Midpoint;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), derived<&R::highest, &R::find_highest>(),
      derived<&R::lowest, &R::find_lowest>(),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period")};
};
static_assert(checkpoint_layout::lists_every_member<classic::Midpoint>());

template <>
struct Warmup<classic::Midpoint> : WindowWarmup<classic::Midpoint> {};

template <>
struct PythonClass<classic::Midprice> : ClassicPeriodIndicator<classic::Midprice> {
  static constexpr const char* kName = "Midprice";
  static constexpr auto kConstructor =
      constructor<&classic::Midprice::create>(with_default("period", 14));
};

template <>
struct Checkpoint<classic::Midprice> {
  using R = classic::Midprice;
  static constexpr auto kFields = std::tuple{
      component<&R::highs>("highs"), component<&R::lows>("lows"),
      derived<&R::highest, &R::find_highest>(), derived<&R::lowest, &R::find_lowest>(),
      rule<R>([](const R& r) noexcept { return count_within_period(r.highs); },
              "the count must not pass the period"),
      rule<R>(
          [](const R& r) noexcept {
            return r.lows.period == r.highs.period && r.lows.index == r.highs.index &&
                   r.lows.count == r.highs.count;
          },
          "the highs and the lows must share their period, write slot and count")};
};
static_assert(checkpoint_layout::lists_every_member<classic::Midprice>());

template <>
struct Warmup<classic::Midprice> {
  using R = classic::Midprice;
  static std::uint64_t lookback(const R& record) noexcept {
    return std::uint64_t{record.length()} - 1;
  }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.highs.count; }
};

}  // namespace barworks
