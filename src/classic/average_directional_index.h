#pragma once

#include <cstdint>

#include "../candle.h"
#include "../error.h"
#include "../warmup.h"
#include "directional_movement.h"
#include "family.h"
#include "wilder_average.h"

namespace barworks::classic {

// Wilder's average directional index: the directional movement index (as
// DirectionalMovementIndex computes it) smoothed by WilderAverage over the
// same period, seeded with the mean of the first `period` indices:
//   ADX = (ADX * (period - 1) + DX) / period
// Lookback 2 * period - 1. Bars that never move answer 0.0, as TA-Lib does.
struct AverageDirectionalIndex {
  DirectionalIndicators indicators;
  WilderAverage average;

  static Expected<AverageDirectionalIndex> create(std::uint32_t period) noexcept {
    auto indicators = DirectionalIndicators::create(period);
    if (!indicators) return std::unexpected(indicators.error());
    return AverageDirectionalIndex{*indicators, WilderAverage::create(period)};
  }
  // Inlined where it is called, so that the bar reaches it in registers:
  // passed in memory, its high and low were read as one load across two
  // stores, which stalls. The warm-up stays out of line, and takes the bar
  // by value, so that only its call puts the bar in memory.
  [[gnu::always_inline]] double update(const Candle& bar) noexcept {
    if (steady()) [[likely]] {
      return indicators.advance_on_fields(*this, bar, average.average);
    }
    return warm_up(bar);
  }
  [[gnu::noinline]] double warm_up(Candle bar) noexcept {
    const auto both = indicators.update(bar);
    if (!indicators.ranges.smoothed()) [[unlikely]] return kNotYet;
    return average.update(directional_index(both));
  }
  void reset() noexcept {
    indicators.reset();
    average.reset();
  }
  std::uint32_t length() const noexcept { return indicators.length(); }
  bool ready() const noexcept { return average.seeded(); }
  // Once the average is seeded, the indicators' rule, the index and the
  // average over a number type, for a lone bar or lanes side by side.
  bool steady() const noexcept { return indicators.steady() && ready(); }
  template <class Number>
  [[gnu::always_inline]] static Number advance(const AverageDirectionalIndex& shared, Number,
                                               Number high, Number low, Number close, Number,
                                               Number& previous_high, Number& previous_low,
                                               Number& plus_sum, Number& minus_sum,
                                               Number& previous_close, Number& range_sum,
                                               Number& smoothed) noexcept {
    const Number index =
        DirectionalIndicators::index(shared.indicators, high, low, close, previous_high,
                                     previous_low, plus_sum, minus_sum, previous_close,
                                     range_sum);
    return WilderAverage::advance(shared.average, index, smoothed);
  }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::AverageDirectionalIndex>
    : ClassicPeriodIndicator<classic::AverageDirectionalIndex> {
  using R = classic::AverageDirectionalIndex;
  static constexpr const char* kName = "AverageDirectionalIndex";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 14));
};

// The average takes an index for each bar once the indicators answer.
template <>
struct Checkpoint<classic::AverageDirectionalIndex> {
  using R = classic::AverageDirectionalIndex;
  static constexpr auto kFields = std::tuple{
      component<&R::indicators>("indicators"), component<&R::average>("average"),
      rule<R>([](const R& r) noexcept { return r.average.period == r.indicators.length(); },
              "the average must be over the indicators' period"),
      rule<R>([](const R& r) noexcept {
                return r.average.count == 0 || r.indicators.ranges.smoothed();
              },
              "the average must not have taken an index before the indicators answer")};
};
static_assert(checkpoint_layout::lists_every_member<classic::AverageDirectionalIndex>());

template <>
struct LaneFields<classic::AverageDirectionalIndex> {
  using R = classic::AverageDirectionalIndex;
  using List =
      IndicatorFields<&R::indicators, within<&R::average, &classic::WilderAverage::average>>;
};

// The indicators count the bars up to their first answer, the average from
// there on.
template <>
struct Warmup<classic::AverageDirectionalIndex> {
  using R = classic::AverageDirectionalIndex;
  static std::uint64_t lookback(const R& record) noexcept {
    return 2 * std::uint64_t{record.length()} - 1;
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    if (record.average.count == 0) return record.indicators.movement.bars();
    return std::uint64_t{record.length()} + record.average.count;
  }
};

}  // namespace barworks
