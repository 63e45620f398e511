#pragma once

#include <cstdint>

#include "../candle.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../warmup.h"
#include "accumulation_distribution.h"
#include "family.h"
#include "moving_average_convergence_divergence.h"

namespace barworks::classic {

// Chaikin's oscillator: a fast less a slow exponential average of the
// accumulation/distribution line, alpha = 2 / (period + 1) each, both
// seeded with the line's first value (not a simple average):
//   fast = line * alpha_fast + fast * (1 - alpha_fast);  answer = fast - slow
// (one multiply and one add from bar to bar; TA-Lib agrees to a few ulps
// in any order). Lookback slow_period - 1. The fast period must be below the slow one.
// Leading bars are skipped as the line skips them.
struct ChaikinOscillator {
  static constexpr bool kReadsVolume = true;

  AccumulationDistribution line;
  double fast;
  double slow;
  double fast_alpha;
  double slow_alpha;
  double fast_decay;  // 1 - fast_alpha
  double slow_decay;  // 1 - slow_alpha
  std::uint32_t fast_period;
  std::uint32_t slow_period;
  std::uint32_t count;  // bars taken, up to slow_period

  static Expected<ChaikinOscillator> create(std::uint32_t fast_period,
                                            std::uint32_t slow_period) noexcept {
    if (fast_period == 0 || slow_period == 0) return std::unexpected(kPeriodZero);
    if (fast_period >= slow_period) return std::unexpected(kFastNotBelowSlow);
    ChaikinOscillator made{AccumulationDistribution::create(), 0.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                           fast_period, slow_period, 0};
    made.fast_alpha = made.fast_smoothing();
    made.slow_alpha = made.slow_smoothing();
    made.fast_decay = made.fast_remainder();
    made.slow_decay = made.slow_remainder();
    return made;
  }
  // Inlined: a batch's first bars and its last odd one come here, and
  // called out of line it would take the batch's copy of the record out
  // of registers for every bar.
  [[gnu::always_inline]] double update(const Candle& bar) noexcept {
    if (steady()) [[likely]] {
      return advance(*this, bar.open, bar.high, bar.low, bar.close, bar.volume, line.total, fast,
                     slow);
    }
    if (count == 0) {
      const double value = line.update(bar);
      if (!line.started) return kNotYet;  // a leading bar with a NaN field
      fast = value;
      slow = value;
      return counted(fast - slow);
    }
    return fold(of_bar(bar.open, bar.high, bar.low, bar.close, bar.volume));
  }
  // A batch takes the bars' money flows two at a time once started.
  bool folding() const noexcept { return count != 0; }
  template <class Number>
  static Number of_bar(Number open, Number high, Number low, Number close, Number volume) noexcept {
    return AccumulationDistribution::of_bar(open, high, low, close, volume);
  }
  double fold(double flow) noexcept { return counted(smooth(line.fold(flow), fast, slow)); }
  // Once the slow average answers, the rule over a number type, for a lone
  // oscillator or lanes side by side; `total`, `fast` and `slow` are the
  // lane's or lanes', this record gives the smoothing factors.
  bool steady() const noexcept { return count == slow_period; }
  template <class Number>
  static Number advance(const ChaikinOscillator& shared, Number open, Number high, Number low,
                        Number close, Number volume, Number& total, Number& fast,
                        Number& slow) noexcept {
    return shared.smooth(
        AccumulationDistribution::advance(shared.line, open, high, low, close, volume, total),
        fast, slow);
  }
  // The line holds only the one NaN, so both averages do too, in any
  // operand order, with nothing added to their chains.
  template <class Number>
  [[gnu::always_inline]] Number smooth(Number value, Number& fast_average,
                                       Number& slow_average) const noexcept {
    const Number fast = decaying_step(value, splat<Number>(fast_alpha),
                                      splat<Number>(fast_decay), fast_average);
    return fast - decaying_step(value, splat<Number>(slow_alpha), splat<Number>(slow_decay),
                                slow_average);
  }
  double counted(double answer) noexcept {
    if (count < slow_period) [[unlikely]] {
      if (++count < slow_period) return kNotYet;
    }
    return answer;
  }
  void reset() noexcept {
    line.reset();
    fast = slow = 0.0;
    count = 0;
  }
  double fast_smoothing() const noexcept { return 2.0 / (static_cast<double>(fast_period) + 1.0); }
  double slow_smoothing() const noexcept { return 2.0 / (static_cast<double>(slow_period) + 1.0); }
  double fast_remainder() const noexcept { return 1.0 - fast_smoothing(); }
  double slow_remainder() const noexcept { return 1.0 - slow_smoothing(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::ChaikinOscillator> : ClassicIndicator<classic::ChaikinOscillator> {
  static constexpr const char* kName = "ChaikinOscillator";
  static constexpr auto kConstructor = constructor<&classic::ChaikinOscillator::create>(
      with_default("fast_period", 3), with_default("slow_period", 10));
};

template <>
struct Checkpoint<classic::ChaikinOscillator> {
  using R = classic::ChaikinOscillator;
  static constexpr auto kFields = std::tuple{
      component<&R::line>("line"), number<&R::fast>("fast"), number<&R::slow>("slow"),
      derived<&R::fast_alpha, &R::fast_smoothing>(), derived<&R::slow_alpha, &R::slow_smoothing>(),
      derived<&R::fast_decay, &R::fast_remainder>(), derived<&R::slow_decay, &R::slow_remainder>(),
      tally<&R::fast_period>("fast_period"), tally<&R::slow_period>("slow_period"),
      tally<&R::count>("count"),
      rule<R>([](const R& r) noexcept {
                return r.fast_period != 0 && r.fast_period < r.slow_period;
              },
              "the fast period must be at least 1 and below the slow one"),
      rule<R>([](const R& r) noexcept { return r.count <= r.slow_period; },
              "the count must not pass the slow period"),
      rule<R>([](const R& r) noexcept {
                return r.count != 0 || (r.fast == 0.0 && r.slow == 0.0 && !r.line.started);
              },
              "nothing may be averaged before the first bar")};
};

template <>
struct LaneFields<classic::ChaikinOscillator> {
  using R = classic::ChaikinOscillator;
  using List = FieldList<within<&R::line, &classic::AccumulationDistribution::total>, &R::fast,
                         &R::slow>;
};

template <>
struct Warmup<classic::ChaikinOscillator> {
  using R = classic::ChaikinOscillator;
  static std::uint64_t lookback(const R& record) noexcept { return record.slow_period - 1; }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.count; }
};

}  // namespace barworks
