#pragma once

#include <cmath>
#include <cstdint>

#include "../branch_free.h"
#include "../candle.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../warmup.h"
#include "family.h"

namespace barworks::classic {

inline constexpr Error kAccelerationNotFinite{ErrorKind::kValue,
                                              "Acceleration must be a finite number."};
inline constexpr Error kMaximumNotFinite{ErrorKind::kValue, "Maximum must be a finite number."};
inline constexpr Error kAccelerationNegative{ErrorKind::kValue,
                                             "Acceleration cannot be negative."};
inline constexpr Error kMaximumNegative{ErrorKind::kValue, "Maximum cannot be negative."};
inline constexpr Error kAccelerationAboveMaximum{
    ErrorKind::kValue, "Acceleration must not be greater than maximum."};

// Wilder's parabolic stop and reverse. The first bar only supplies its high
// and low. The second sets the direction: short when its low fell below the
// first's by more than its high rose above the first's (a positive minus
// directional move), long otherwise; a long starts with the SAR at the first
// low and the extreme point at the second high, a short at the first high
// and the second low. Then every bar, the second included (taking itself as
// the previous bar):
//   long:  a low at or below the SAR reverses to short, the SAR becoming the
//          extreme point raised to the previous and current highs, the
//          extreme point the current low; else the answer is the SAR, a new
//          high becomes the extreme point and raises the factor by
//          `acceleration` up to `maximum`;
//   then   SAR += factor * (extreme - SAR), kept at or below the previous and
//          current lows (at or above the highs when short);
// a short mirrors it. The factor starts at `acceleration` and restarts there
// at each reversal. Lookback 1. Bars before the first whose high and low are
// both numbers are skipped without counting. A later NaN high or low moves
// nothing (every comparison with it fails), as in the batch libraries; NaN
// in the second bar leaves every answer NaN until reset.
struct ParabolicSar {
  static constexpr bool kReadsClose = false;

  double acceleration;
  double maximum;
  double sar;
  double extreme;        // the extreme point of the current trend
  double factor;         // the acceleration factor
  double previous_high;  // the previous bar's
  double previous_low;
  std::uint8_t bars;     // bars taken, up to 2
  bool rising;           // long: the SAR is below the prices

  static Expected<ParabolicSar> create(double acceleration, double maximum) noexcept {
    if (!std::isfinite(acceleration)) return std::unexpected(kAccelerationNotFinite);
    if (!std::isfinite(maximum)) return std::unexpected(kMaximumNotFinite);
    if (acceleration < 0.0) return std::unexpected(kAccelerationNegative);
    if (maximum < 0.0) return std::unexpected(kMaximumNegative);
    if (acceleration > maximum) return std::unexpected(kAccelerationAboveMaximum);
    return ParabolicSar{acceleration, maximum, 0.0, 0.0, 0.0, 0.0, 0.0, 0, false};
  }
  double update(const Candle& bar) noexcept;
  // Once the second bar is taken, the rule over a number type: a lone
  // record's, a universe's lane's, or a pair of lanes' side by side, whose
  // `rising` is then a mask.
  bool steady() const noexcept { return bars == 2; }
  template <class Number, class Direction>
  [[gnu::always_inline]] static Number advance(const ParabolicSar& shared, Number, Number high,
                                               Number low, Number, Number, Number& sar,
                                               Number& extreme, Number& factor,
                                               Number& previous_high, Number& previous_low,
                                               Direction& rising) noexcept;
  void reset() noexcept {
    sar = 0.0;
    extreme = 0.0;
    factor = 0.0;
    previous_high = 0.0;
    previous_low = 0.0;
    bars = 0;
    rising = false;
  }
  bool sane_parameters() const noexcept {
    return std::isfinite(acceleration) && std::isfinite(maximum) && acceleration >= 0.0 &&
           acceleration <= maximum;
  }

 private:
  [[gnu::cold]] void start(double high, double low) noexcept {
    const double rise = high - previous_high;
    const double fall = previous_low - low;
    rising = !(fall > 0.0 && fall > rise);
    sar = rising ? previous_low : previous_high;
    extreme = rising ? high : low;
    factor = acceleration;
    previous_high = high;
    previous_low = low;
    bars = 2;
  }
};

}  // namespace barworks::classic

namespace barworks {

// The fields of the record's step, in the order advance() takes them.
template <>
struct LaneFields<classic::ParabolicSar> {
  using R = classic::ParabolicSar;
  using List = FieldList<&R::sar, &R::extreme, &R::factor, &R::previous_high, &R::previous_low,
                         &R::rising>;
};

}  // namespace barworks

namespace barworks::classic {

inline double ParabolicSar::update(const Candle& bar) noexcept {
  if (!steady()) [[unlikely]] {
    const double high = canonical(bar.high), low = canonical(bar.low);
    if (bars == 0) {
      if (high != high || low != low) return kNotYet;
      previous_high = high;
      previous_low = low;
      bars = 1;
      return kNotYet;
    }
    // The second bar then steps as its own previous bar.
    start(high, low);
  }
  return with_lane_fields(*this, [&](auto&... fields) __attribute__((always_inline)) {
    return advance(*this, bar.open, bar.high, bar.low, bar.close, bar.volume, fields...);
  });
}

// Both directions in one form, so that lanes going opposite ways step side
// by side without a branch. A bar that reverses the trend (its low at or
// below the SAR when long, its high at or above when short) starts the new
// one from the old extreme point, held beyond this and the previous bar's
// prices on the new side; the answer is that start, the new extreme point
// the bar's price on the new side and the factor restarts. Any other bar
// answers the SAR, and a new extreme raises the factor.
template <class Number, class Direction>
inline Number ParabolicSar::advance(const ParabolicSar& shared, Number, Number high, Number low,
                                    Number, Number, Number& sar, Number& extreme, Number& factor,
                                    Number& previous_high, Number& previous_low,
                                    Direction& rising) noexcept {
  // Two NaN may meet in the arithmetic (a NaN second bar), so each price is
  // taken as the one NaN.
  high = canonical(high);
  low = canonical(low);
  const Number before_high = previous_high, before_low = previous_low;
  previous_high = high;
  previous_low = low;
  const auto reverses = select_mask(rising, low <= sar, high >= sar);
  const auto long_after = rising != reverses;
  // The SAR kept at or below this and the previous bar's lows when long,
  // at or above their highs when short.
  const auto held = [&](Number x) __attribute__((always_inline)) {
    return select(long_after, less_or_second(low, less_or_second(before_low, x)),
                  greater_or_second(high, greater_or_second(before_high, x)));
  };
  // A new extreme (a high above it when long, a low below it when short)
  // comes at random within a trend: chosen without a branch.
  const Number above = select(rising, high, extreme);
  const Number below = select(rising, extreme, low);
  const Number raised = less_or_second(splat<Number>(shared.maximum),
                                       factor + splat<Number>(shared.acceleration));
  const Number trend_extreme =
      select(rising, greater_or_second(high, extreme), less_or_second(low, extreme));
  const Number start = select(reverses, held(extreme), sar);
  factor = select(reverses, splat<Number>(shared.acceleration),
                  chosen_above(above, below, raised, factor));
  extreme = select(reverses, select(long_after, high, low), trend_extreme);
  sar = held(start + factor * (extreme - start));
  rising = long_after;
  return start;
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::ParabolicSar> {
  using R = classic::ParabolicSar;
  static constexpr const char* kName = "ParabolicSar";
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor = constructor<&R::create>(
      with_default("acceleration", "0.02"), with_default("maximum", "0.2"));
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

// Before the second bar nothing is running; before the first nothing is
// remembered. Once running, the factor lies between its start and its cap.
template <>
struct Checkpoint<classic::ParabolicSar> {
  using R = classic::ParabolicSar;
  static constexpr auto kFields = std::tuple{
      number<&R::acceleration>("acceleration"), number<&R::maximum>("maximum"),
      number<&R::sar>("sar"), number<&R::extreme>("extreme"), number<&R::factor>("factor"),
      number<&R::previous_high>("previous_high"), number<&R::previous_low>("previous_low"),
      choice<&R::bars>("bars", 2), choice<&R::rising>("rising", 1),
      rule<R>([](const R& r) noexcept { return r.sane_parameters(); },
              "the acceleration must be finite, at least 0 and at most the maximum"),
      rule<R>(
          [](const R& r) noexcept {
            return r.bars == 2 ? r.factor >= r.acceleration && r.factor <= r.maximum
                               : r.sar == 0.0 && r.extreme == 0.0 && r.factor == 0.0 && !r.rising;
          },
          "the factor must lie between the acceleration and the maximum once running, and "
          "nothing may run before the second bar"),
      rule<R>(
          [](const R& r) noexcept {
            return r.bars != 0 || (r.previous_high == 0.0 && r.previous_low == 0.0);
          },
          "nothing may be remembered before the first bar")};
};
static_assert(checkpoint_layout::lists_every_member<classic::ParabolicSar>());

template <>
struct Warmup<classic::ParabolicSar> {
  using R = classic::ParabolicSar;
  static std::uint64_t lookback(const R&) noexcept { return 1; }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.bars; }
};

}  // namespace barworks
