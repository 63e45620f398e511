#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "../candle.h"
#include "../error.h"
#include "../nan.h"
#include "../warmup.h"
#include "family.h"
#include "sliding_extremes.h"

namespace barworks::classic {

// Aroon over the last period + 1 bars: (down, up), where
// up = (100 / period) * (period - bars since the highest high) and down the
// same of the lowest low; of equal extremes the latest counts, so a flat
// window answers (100, 100). Lookback period. Bars before the first whose
// high and low are both numbers are skipped; a later NaN high or low makes
// the answers NaN while it is in the window.
struct Aroon {
  AgedBarRange range;

  static Expected<Aroon> create(std::uint32_t period) noexcept {
    if (period == 0) return std::unexpected(kPeriodZero);
    if (period >= kWindowLimit - 1) return std::unexpected(Error{ErrorKind::kPanic, "capacity overflow"});
    auto range = AgedBarRange::create(period + 1);
    if (!range) return std::unexpected(range.error());
    return Aroon{std::move(*range)};
  }
  std::array<double, 2> update(const Candle& bar) noexcept {
    if (range.highs.count == 0 && (bar.high != bar.high || bar.low != bar.low)) [[unlikely]] {
      return {kNotYet, kNotYet};
    }
    range.push(canonical(bar.high), canonical(bar.low));
    if (!range.full()) return {kNotYet, kNotYet};
    const double factor = 100.0 / static_cast<double>(length());
    const double highest = range.highest_high(), lowest = range.lowest_low();
    if (highest != highest || lowest != lowest) return {kNaN, kNaN};
    return {factor * static_cast<double>(length() - range.since_lowest()),
            factor * static_cast<double>(length() - range.since_highest())};
  }
  // up - down, as (100 / period) * (bars since the lowest low - bars since
  // the highest high).
  double oscillator(const Candle& bar) noexcept {
    const std::array<double, 2> answers = update(bar);
    if (answers[0] != answers[0]) return answers[0];
    const double factor = 100.0 / static_cast<double>(length());
    return factor * (static_cast<double>(range.since_lowest()) -
                     static_cast<double>(range.since_highest()));
  }
  void reset() noexcept { range.clear(); }
  std::uint32_t length() const noexcept { return range.length() - 1; }
};

// The Aroon oscillator, up - down of Aroon over the same bars. Lookback
// period.
struct AroonOscillator {
  Aroon aroon;

  static Expected<AroonOscillator> create(std::uint32_t period) noexcept {
    auto aroon = Aroon::create(period);
    if (!aroon) return std::unexpected(aroon.error());
    return AroonOscillator{std::move(*aroon)};
  }
  double update(const Candle& bar) noexcept { return aroon.oscillator(bar); }
  void reset() noexcept { aroon.reset(); }
  std::uint32_t length() const noexcept { return aroon.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::Aroon> : ClassicPeriodIndicator<classic::Aroon> {
  static constexpr const char* kName = "Aroon";
  static constexpr std::array kAnswers{"down", "up"};
  static constexpr auto kConstructor =
      constructor<&classic::Aroon::create>(with_default("period", 14));
};

template <>
struct Checkpoint<classic::Aroon> {
  using R = classic::Aroon;
  static constexpr auto kFields = std::tuple{
      component<&R::range>("range"),
      rule<R>([](const R& r) noexcept { return r.range.length() >= 2; },
              "the window must be longer than one bar")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::Aroon>());

template <>
struct Warmup<classic::Aroon> {
  static std::uint64_t lookback(const classic::Aroon& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const classic::Aroon& record) noexcept {
    return record.range.highs.count;
  }
};

template <>
struct PythonClass<classic::AroonOscillator> : ClassicPeriodIndicator<classic::AroonOscillator> {
  static constexpr const char* kName = "AroonOscillator";
  static constexpr auto kConstructor =
      constructor<&classic::AroonOscillator::create>(with_default("period", 14));
};

template <>
struct Checkpoint<classic::AroonOscillator> {
  using R = classic::AroonOscillator;
  static constexpr auto kFields = std::tuple{component<&R::aroon>("aroon")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::AroonOscillator>());

template <>
struct Warmup<classic::AroonOscillator> {
  static std::uint64_t lookback(const classic::AroonOscillator& record) noexcept {
    return record.length();
  }
  static std::uint64_t inputs_seen(const classic::AroonOscillator& record) noexcept {
    return Warmup<classic::Aroon>::inputs_seen(record.aroon);
  }
};

}  // namespace barworks
