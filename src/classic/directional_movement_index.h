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
  double update(const Candle& bar) noexcept { return directional_index(indicators.update(bar)); }
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
struct Warmup<classic::DirectionalMovementIndex> {
  using R = classic::DirectionalMovementIndex;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return record.indicators.movement.bars();
  }
};

}  // namespace barworks
