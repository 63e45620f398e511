#pragma once

#include <cmath>
#include <cstdint>

#include "../candle.h"
#include "../error.h"
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

// Two NaN may meet in the arithmetic (a NaN second bar), so each price is
// taken as the one NaN.
inline double ParabolicSar::update(const Candle& bar) noexcept {
  const double high = canonical(bar.high), low = canonical(bar.low);
  if (bars < 2) [[unlikely]] {
    if (bars == 0) {
      if (high != high || low != low) return kNotYet;
      previous_high = high;
      previous_low = low;
      bars = 1;
      return kNotYet;
    }
    start(high, low);
  }
  const double before_high = previous_high, before_low = previous_low;
  previous_high = high;
  previous_low = low;
  double answer;
  if (rising) {
    if (low <= sar) [[unlikely]] {
      rising = false;
      sar = extreme;
      if (sar < before_high) sar = before_high;
      if (sar < high) sar = high;
      answer = sar;
      factor = acceleration;
      extreme = low;
      sar += factor * (extreme - sar);
      if (sar < before_high) sar = before_high;
      if (sar < high) sar = high;
      return answer;
    }
    // A new extreme comes at random within a trend: no branches.
    answer = sar;
    factor = chosen_above(high, extreme, less_or_second(maximum, factor + acceleration), factor);
    extreme = greater_or_second(high, extreme);
    sar += factor * (extreme - sar);
    sar = less_or_second(low, less_or_second(before_low, sar));
    return answer;
  }
  if (high >= sar) [[unlikely]] {
    rising = true;
    sar = extreme;
    if (sar > before_low) sar = before_low;
    if (sar > low) sar = low;
    answer = sar;
    factor = acceleration;
    extreme = high;
    sar += factor * (extreme - sar);
    if (sar > before_low) sar = before_low;
    if (sar > low) sar = low;
    return answer;
  }
  answer = sar;
  factor = chosen_above(extreme, low, less_or_second(maximum, factor + acceleration), factor);
  extreme = less_or_second(low, extreme);
  sar += factor * (extreme - sar);
  sar = greater_or_second(high, greater_or_second(before_high, sar));
  return answer;
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
