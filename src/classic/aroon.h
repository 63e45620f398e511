#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "../candle.h"
#include "../error.h"
#include "../lanes.h"
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
  static constexpr bool kReadsClose = false;

  AgedBarRange range;

  static Expected<Aroon> create(std::uint32_t period) noexcept {
    if (period == 0) return std::unexpected(kPeriodZero);
    if (period >= kWindowLimit - 1) return std::unexpected(Error{ErrorKind::kPanic, "capacity overflow"});
    auto range = AgedBarRange::create(period + 1);
    if (!range) return std::unexpected(range.error());
    return Aroon{std::move(*range)};
  }
  std::array<double, 2> update(const Candle& bar) noexcept {
    if (skipped(bar)) [[unlikely]] return {kNotYet, kNotYet};
    const auto aged = range.push_aged(bar.high, bar.low);
    if (!range.full()) return {kNotYet, kNotYet};
    return lines(length(), aged);
  }
  // up - down, as (100 / period) * (bars since the lowest low - bars since
  // the highest high).
  double oscillator(const Candle& bar) noexcept {
    if (skipped(bar)) [[unlikely]] return kNotYet;
    const auto aged = range.push_aged(bar.high, bar.low);
    if (!range.full()) return kNotYet;
    return oscillation(length(), aged);
  }
  // Once the window is full, the rule over a number type: a lone record's,
  // a universe's lane's, or a pair of lanes' (whose windows write the same
  // slot), which takes the same steps on any input.
  bool steady() const noexcept { return range.full(); }
  template <class Number, class... Fields>
  [[gnu::always_inline]] static std::array<Number, 2> advance(const Aroon& shared, Number,
                                                              Number high, Number low, Number,
                                                              Number, Fields&... fields) noexcept {
    return lines(shared.length(), AgedBarRange::advance(shared.range, high, low, fields...));
  }
  // The answers from the bars since the extremes, for one bar or two side
  // by side: NaN while a NaN is in the window.
  template <class Number, class Blank>
  static std::array<Number, 2> lines(std::uint32_t period,
                                     const AgedExtremes<Number, Blank>& aged) noexcept {
    const double bars = static_cast<double>(period), factor = 100.0 / bars;
    const Number none = splat<Number>(kNaN);
    return {select(aged.blank, none, factor * (bars - aged.since_lowest)),
            select(aged.blank, none, factor * (bars - aged.since_highest))};
  }
  template <class Number, class Blank>
  static Number oscillation(std::uint32_t period,
                            const AgedExtremes<Number, Blank>& aged) noexcept {
    const double factor = 100.0 / static_cast<double>(period);
    return select(aged.blank, splat<Number>(kNaN),
                  factor * (aged.since_lowest - aged.since_highest));
  }
  void reset() noexcept { range.clear(); }
  std::uint32_t length() const noexcept { return range.length() - 1; }

 private:
  // A bar before the first whose high and low are both numbers.
  bool skipped(const Candle& bar) const noexcept {
    return range.highs.count == 0 && (bar.high != bar.high || bar.low != bar.low);
  }
};

// The Aroon oscillator, up - down of Aroon over the same bars. Lookback
// period.
struct AroonOscillator {
  static constexpr bool kReadsClose = false;

  Aroon aroon;

  static Expected<AroonOscillator> create(std::uint32_t period) noexcept {
    auto aroon = Aroon::create(period);
    if (!aroon) return std::unexpected(aroon.error());
    return AroonOscillator{std::move(*aroon)};
  }
  double update(const Candle& bar) noexcept { return aroon.oscillator(bar); }
  bool steady() const noexcept { return aroon.steady(); }
  template <class Number, class... Fields>
  [[gnu::always_inline]] static Number advance(const AroonOscillator& shared, Number,
                                               Number high, Number low, Number, Number,
                                               Fields&... fields) noexcept {
    return Aroon::oscillation(shared.length(),
                              AgedBarRange::advance(shared.aroon.range, high, low, fields...));
  }
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
struct LaneFields<classic::Aroon> {
  using List = within_all<&classic::Aroon::range, LaneFields<classic::AgedBarRange>::List>;
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
struct LaneFields<classic::AroonOscillator> {
  using List = within_all<&classic::AroonOscillator::aroon, LaneFields<classic::Aroon>::List>;
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
