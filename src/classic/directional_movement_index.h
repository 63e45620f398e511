#pragma once

#include <cstdint>

#include "../candle.h"
#include "../error.h"
#include "../warmup.h"
#include "directional_movement.h"
#include "family.h"

namespace barworks::classic {

// Wilder's directional movement index from the two directional indicators
// (DirectionalIndicators, directional_index):
//   DX = 100 * (|(-DI) - (+DI)| / ((+DI) + (-DI)))
// Lookback `period`. Both indicators 0 (a true range sum of 0, or bars that
// never reach outside the previous one) answers 0.0, as TA-Lib does.
struct DirectionalMovementIndex {
  DirectionalIndicators indicators;

  static Expected<DirectionalMovementIndex> create(std::uint32_t period) noexcept {
    auto indicators = DirectionalIndicators::create(period);
    if (!indicators) return std::unexpected(indicators.error());
    return DirectionalMovementIndex{*indicators};
  }
  // The indicators are NaN during their lookback, and so is the index.
  double update(const Candle& bar) noexcept {
    if (steady()) [[likely]] {
      return indicators.advance_on_fields(*this, bar);
    }
    return directional_index(indicators.update(bar));
  }
  // Once the indicators are steady, their rule and the index over a number
  // type, for a lone bar or lanes side by side.
  bool steady() const noexcept { return indicators.steady(); }
  template <class Number>
  [[gnu::always_inline]] static Number advance(const DirectionalMovementIndex& shared, Number,
                                               Number high, Number low, Number close, Number,
                                               Number& previous_high, Number& previous_low,
                                               Number& plus_sum, Number& minus_sum,
                                               Number& previous_close, Number& range_sum) noexcept {
    return DirectionalIndicators::index(shared.indicators, high, low, close, previous_high,
                                        previous_low, plus_sum, minus_sum, previous_close,
                                        range_sum);
  }
  void reset() noexcept { indicators.reset(); }
  std::uint32_t length() const noexcept { return indicators.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::DirectionalMovementIndex>
    : ClassicPeriodIndicator<classic::DirectionalMovementIndex> {
  using R = classic::DirectionalMovementIndex;
  static constexpr const char* kName = "DirectionalMovementIndex";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 14));
};

template <>
struct Checkpoint<classic::DirectionalMovementIndex> {
  using R = classic::DirectionalMovementIndex;
  static constexpr auto kFields = std::tuple{component<&R::indicators>("indicators")};
};
static_assert(checkpoint_layout::lists_every_member<classic::DirectionalMovementIndex>());

template <>
struct LaneFields<classic::DirectionalMovementIndex> {
  using List = IndicatorFields<&classic::DirectionalMovementIndex::indicators>;
};

template <>
struct Warmup<classic::DirectionalMovementIndex> {
  using R = classic::DirectionalMovementIndex;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return record.indicators.movement.bars();
  }
};

}  // namespace barworks
