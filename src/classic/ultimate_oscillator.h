#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "../branch_free.h"
#include "../candle.h"
#include "../error.h"
#include "../nan.h"
#include "../warmup.h"
#include "family.h"
#include "trailing_sums.h"

namespace barworks::classic {

// Williams' ultimate oscillator. Against the previous close p, a bar's
// buying pressure is close - min(low, p) and its true range
// max(high, p) - min(low, p); over the last n bars,
//   a(n) = (sum of buying pressure) / (sum of true range), 0 where the
//          true ranges sum to 0, as TA-Lib answers
//   answer = 100 * ((4 * a(shortest) + 2 * a(middle) + a(longest)) / 7)
// The three periods are taken in order whatever order they are given in,
// and may be equal, as TA-Lib takes them. Lookback the longest period: the
// first bar only gives a close; bars before the first whose high, low and
// close are all numbers are skipped. A NaN or infinite price later makes
// the answers NaN while its bar, or the bar after it, is among the last
// `longest`. The sums slide and are recomputed exactly from their windows.
struct UltimateOscillator {
  TrailingSums buying;          // buying pressure
  TrailingSums ranges;          // true range
  double previous_close;
  bool started;

  static Expected<UltimateOscillator> create(std::uint32_t period1, std::uint32_t period2,
                                             std::uint32_t period3) noexcept {
    std::array<std::uint32_t, 3> periods{period1, period2, period3};
    std::sort(periods.begin(), periods.end());
    auto buying = TrailingSums::create(periods[0], periods[1], periods[2]);
    if (!buying) return std::unexpected(buying.error());
    auto ranges = TrailingSums::create(periods[0], periods[1], periods[2]);
    if (!ranges) return std::unexpected(ranges.error());
    return UltimateOscillator{std::move(*buying), std::move(*ranges), 0.0, false};
  }
  double update(const Candle& bar) noexcept;
  void reset() noexcept {
    buying.reset();
    ranges.reset();
    previous_close = 0.0;
    started = false;
  }
  std::uint32_t length() const noexcept { return ranges.window.period; }
};

inline double UltimateOscillator::update(const Candle& bar) noexcept {
  if (!started) [[unlikely]] {
    if (any_nan(bar.high, bar.low, bar.close)) return kNotYet;
    started = true;
    previous_close = bar.close;
    return kNotYet;
  }
  const double true_low = less_or_second(bar.low, previous_close);
  const double true_high = greater_or_second(bar.high, previous_close);
  // The comparisons pass over a NaN; a NaN price makes both terms NaN.
  const bool unknown = any_nan(bar.high, bar.low, bar.close, previous_close);
  const double pressure = unknown ? kNaN : bar.close - true_low;
  const double range = unknown ? kNaN : true_high - true_low;
  previous_close = bar.close;
  // Both sums take their term, whatever the other answers.
  const bool buying_known = buying.push(pressure);
  const bool ranges_known = ranges.push(range);
  if (!buying_known || !ranges_known || !ranges.full()) [[unlikely]] return kNotYet;
  const auto average = [](double pressures, double ranges) noexcept {
    return ranges == 0.0 ? 0.0 : pressures / ranges;
  };
  const double shortest = average(buying.shortest_sum, ranges.shortest_sum);
  const double middle = average(buying.middle_sum, ranges.middle_sum);
  const double longest = average(buying.longest_sum, ranges.longest_sum);
  return canonical(100.0 * ((4.0 * shortest + 2.0 * middle + longest) / 7.0));
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::UltimateOscillator> : ClassicIndicator<classic::UltimateOscillator> {
  static constexpr const char* kName = "UltimateOscillator";
  static constexpr auto kConstructor = constructor<&classic::UltimateOscillator::create>(
      with_default("period1", 7), with_default("period2", 14), with_default("period3", 28));
};

template <>
struct Checkpoint<classic::UltimateOscillator> {
  using R = classic::UltimateOscillator;
  static constexpr auto kFields = std::tuple{
      component<&R::buying>("buying"), component<&R::ranges>("ranges"),
      number<&R::previous_close>("previous_close"), choice<&R::started>("started", 1),
      rule<R>([](const R& r) noexcept {
                const auto& a = r.buying;
                const auto& b = r.ranges;
                return a.window.period == b.window.period && a.window.index == b.window.index &&
                       a.window.count == b.window.count && a.shortest_period == b.shortest_period &&
                       a.middle_period == b.middle_period;
              },
              "the buying pressure and true range windows must move together"),
      rule<R>([](const R& r) noexcept {
                return r.started || (r.ranges.window.count == 0 && r.previous_close == 0.0);
              },
              "no bar may be taken before the first close")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::UltimateOscillator>());

template <>
struct Warmup<classic::UltimateOscillator> {
  using R = classic::UltimateOscillator;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return record.started ? std::uint64_t{record.ranges.window.count} + 1 : 0;
  }
};

}  // namespace barworks
