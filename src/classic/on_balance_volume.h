#pragma once

#include <cstdint>

#include "../branch_free.h"
#include "../candle.h"
#include "../lanes.h"
#include "../warmup.h"
#include "family.h"

namespace barworks::classic {

// On-balance volume: a running total of volume, added on a bar that closes
// above the previous close, taken away on one that closes below, and left
// on an equal (or NaN) close:
//   total = volume of the first bar;  total += volume * sign(close - previous close)
// Lookback 0: the first bar answers its own volume. Bars before the first
// whose close and volume are numbers are skipped (NaN); a later NaN volume
// makes the total NaN until reset.
struct OnBalanceVolume {
  static constexpr bool kReadsVolume = true;

  double total;
  double previous_close;
  bool started;

  static OnBalanceVolume create() noexcept { return OnBalanceVolume{0.0, 0.0, false}; }
  // The volume is made the one NaN, which the total then carries.
  double update(const Candle& bar) noexcept {
    if (started) [[likely]] {
      return advance(*this, bar.open, bar.high, bar.low, bar.close, bar.volume, total,
                     previous_close);
    }
    const double volume = canonical(bar.volume);
    if (any_nan(bar.close, volume)) return kNotYet;
    started = true;
    total = volume;
    previous_close = bar.close;
    return total;
  }
  // Once started, the rule over a number type, for a lone total or lanes
  // side by side.
  bool steady() const noexcept { return started; }
  template <class Number>
  static Number advance(const OnBalanceVolume&, Number, Number, Number, Number close,
                        Number volume, Number& total, Number& previous_close) noexcept {
    // Without a branch: whether a close rose follows the data.
    total += signed_by_move(close, previous_close, canonical(volume));
    previous_close = close;
    return total;
  }
  void reset() noexcept { *this = create(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::OnBalanceVolume> : ClassicIndicator<classic::OnBalanceVolume> {
  static constexpr const char* kName = "OnBalanceVolume";
  static constexpr auto kConstructor = constructor<&classic::OnBalanceVolume::create>();
};

template <>
struct Checkpoint<classic::OnBalanceVolume> {
  using R = classic::OnBalanceVolume;
  static constexpr auto kFields = std::tuple{
      number<&R::total>("total"), number<&R::previous_close>("previous_close"),
      choice<&R::started>("started", 1),
      rule<R>([](const R& r) noexcept {
                return r.started || (r.total == 0.0 && r.previous_close == 0.0);
              },
              "nothing may be remembered before the first bar")};
};

template <>
struct LaneFields<classic::OnBalanceVolume> {
  using R = classic::OnBalanceVolume;
  using List = FieldList<&R::total, &R::previous_close>;
};

template <>
struct Warmup<classic::OnBalanceVolume> : FromFirstInput<classic::OnBalanceVolume> {};

}  // namespace barworks
