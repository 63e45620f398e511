#pragma once

#include <cstdint>

#include "../candle.h"
#include "../lanes.h"
#include "../warmup.h"
#include "family.h"

namespace barworks::classic {

// Where a bar closed within its range, from -1 at the low to +1 at the
// high, times its volume: the close location value's money flow, for one
// bar or two side by side. A bar whose high is not above its low adds 0.0,
// as the batch libraries do. Made the one NaN, so that the running total
// stays one NaN.
template <class Number>
inline Number money_flow_volume(Number high, Number low, Number close, Number volume) noexcept {
  const Number range = high - low;
  const Number flow = canonical(((close - low) - (high - close)) / range * volume);
  return select(range <= 0.0, splat<Number>(0.0), flow);
}

// Chaikin's accumulation/distribution line, the running total of each
// bar's money flow volume:
//   total += ((close - low) - (high - close)) / (high - low) * volume
// Lookback 0. A bar whose high is not above its low (flat, or inverted)
// adds 0.0, as TA-Lib does. Bars before the first whose four fields are
// numbers are skipped (NaN); a later NaN makes the total NaN until reset.
struct AccumulationDistribution {
  static constexpr bool kReadsVolume = true;

  double total;
  bool started;

  static AccumulationDistribution create() noexcept { return AccumulationDistribution{0.0, false}; }
  double update(const Candle& bar) noexcept {
    if (!started) [[unlikely]] {
      if (any_nan(bar.high, bar.low, bar.close, bar.volume)) return kNotYet;
      started = true;
    }
    return advance(*this, bar.open, bar.high, bar.low, bar.close, bar.volume, total);
  }
  // A batch takes the bars' money flows two at a time once started.
  bool folding() const noexcept { return started; }
  template <class Number>
  static Number of_bar(Number, Number high, Number low, Number close, Number volume) noexcept {
    return money_flow_volume(high, low, close, volume);
  }
  double fold(double flow) noexcept { return accumulate(flow, total); }
  // Once started, the rule over a number type, for a lone line or lanes
  // side by side; `total` is the lane's or lanes'.
  bool steady() const noexcept { return started; }
  template <class Number>
  static Number advance(const AccumulationDistribution&, Number open, Number high, Number low,
                        Number close, Number volume, Number& total) noexcept {
    return accumulate(of_bar(open, high, low, close, volume), total);
  }
  // Both operands are numbers or the one NaN, so the sum is too, in either
  // order: nothing is added to the chain from bar to bar.
  template <class Number>
  static Number accumulate(Number flow, Number& total) noexcept {
    total += unfolded(flow);
    return total;
  }
  void reset() noexcept { *this = create(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::AccumulationDistribution>
    : ClassicIndicator<classic::AccumulationDistribution> {
  static constexpr const char* kName = "AccumulationDistribution";
  static constexpr auto kConstructor = constructor<&classic::AccumulationDistribution::create>();
};

template <>
struct Checkpoint<classic::AccumulationDistribution> {
  using R = classic::AccumulationDistribution;
  static constexpr auto kFields = std::tuple{
      number<&R::total>("total"), choice<&R::started>("started", 1),
      rule<R>([](const R& r) noexcept { return r.started || r.total == 0.0; },
              "the total must be 0 before the first bar")};
};

template <>
struct LaneFields<classic::AccumulationDistribution> {
  using List = FieldList<&classic::AccumulationDistribution::total>;
};

template <>
struct Warmup<classic::AccumulationDistribution>
    : FromFirstInput<classic::AccumulationDistribution> {};

}  // namespace barworks
