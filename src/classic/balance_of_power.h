#pragma once

#include <cstdint>

#include "../candle.h"
#include "../warmup.h"
#include "family.h"

namespace barworks::classic {

// Balance of power: how far the bar moved from open to close, as a share
// of its range:
//   (close - open) / (high - low)
// Lookback 0; no state. A bar whose high is not above its low answers 0.0,
// as TA-Lib does; a bar with a NaN price answers NaN.
struct BalanceOfPower {
  static constexpr bool kReadsOpen = true;

  static BalanceOfPower create() noexcept { return BalanceOfPower{}; }
  double update(const Candle& bar) noexcept {
    const double range = bar.high - bar.low;
    if (range <= 0.0) [[unlikely]] return any_nan(bar.open, bar.close) ? kNaN : 0.0;
    return canonical((bar.close - bar.open) / range);
  }
  void reset() noexcept {}
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::BalanceOfPower> : ClassicIndicator<classic::BalanceOfPower> {
  static constexpr const char* kName = "BalanceOfPower";
  static constexpr auto kConstructor = constructor<&classic::BalanceOfPower::create>();
};

template <>
struct Checkpoint<classic::BalanceOfPower> {
  static constexpr auto kFields = std::tuple{};
};

template <>
struct Warmup<classic::BalanceOfPower> {
  static std::uint64_t lookback(const classic::BalanceOfPower&) noexcept { return 0; }
  static std::uint64_t inputs_seen(const classic::BalanceOfPower&) noexcept { return kWarmedUp; }
};

}  // namespace barworks
