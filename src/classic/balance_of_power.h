#pragma once

#include <cstdint>
#include <type_traits>

#include "../candle.h"
#include "../lanes.h"
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
    return advance(*this, bar.open, bar.high, bar.low, bar.close, bar.volume);
  }
  // The rule over a number type, for a lone bar or lanes side by side.
  template <class Number>
  static Number advance(const BalanceOfPower&, Number open, Number high, Number low, Number close,
                        Number volume) noexcept {
    return of_bar(open, high, low, close, volume);
  }
  // No state: a batch answers bars two at a time from the first.
  bool folding() const noexcept { return true; }
  double fold(double answer) const noexcept { return answer; }
  template <class Number>
  static Number of_bar(Number open, Number high, Number low, Number close, Number) noexcept {
    const Number range = high - low;
    const Number share = (close - open) / range;
    if constexpr (std::is_same_v<Number, DoublePair>) {
      // Two bars with ranges and shares that are numbers, the common case,
      // answer their shares: nothing to choose and no NaN to make.
      if (every_lane((range > 0.0) & (share == share))) [[likely]] return share;
    }
    const Number flat = select(open != open, splat<Number>(kNaN),
                               select(close != close, splat<Number>(kNaN), splat<Number>(0.0)));
    return select(range <= 0.0, flat, canonical(share));
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

// Nothing is carried from bar to bar.
template <>
struct LaneFields<classic::BalanceOfPower> {
  using List = FieldList<>;
};

template <>
struct Warmup<classic::BalanceOfPower> {
  static std::uint64_t lookback(const classic::BalanceOfPower&) noexcept { return 0; }
  static std::uint64_t inputs_seen(const classic::BalanceOfPower&) noexcept { return kWarmedUp; }
};

}  // namespace barworks
