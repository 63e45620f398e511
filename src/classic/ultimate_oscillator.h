#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "../branch_free.h"
#include "../lanes.h"
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
// (the division by 7 taken as a product by 1/7, rounded once: it ended
// the chain of each answer, and a feed's pairs spent a quarter of their
// divisions on it)
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
  // Once the first close is known and the windows are full, the rule over a
  // number type: a lone record's, a universe's lane's, or a pair of lanes'
  // on the common path. `fields` are the buying sums' and then the true
  // range sums', as TrailingSums::advance() takes them.
  bool steady() const noexcept { return started && ranges.full(); }
  template <class Number, class... Fields>
  [[gnu::always_inline]] static Number advance(const UltimateOscillator& shared, Number,
                                               Number high, Number low, Number close, Number,
                                               Number& previous_close, Fields&... fields) noexcept;
  template <class... Fields>
  [[gnu::always_inline]] static bool pair_on_common_path(
      const UltimateOscillator& shared, DoublePair, DoublePair high, DoublePair low,
      DoublePair close, DoublePair, DoublePair previous_close, const Fields&... fields) noexcept {
    const Terms<DoublePair> taken = terms(high, low, close, previous_close);
    bool common = true;
    const auto check = [&](const TrailingSums& record, DoublePair term) {
      return [&, term](const auto&... sums) __attribute__((always_inline)) {
        common = common && TrailingSums::pair_on_common_path(record, term, sums...);
      };
    };
    each_half(std::tie(fields...), check(shared.buying, taken.pressure),
              check(shared.ranges, taken.range));
    return common;
  }
  // A bar's buying pressure and true range against the previous close, for
  // one bar or two side by side.
  template <class Number>
  struct Terms {
    Number pressure;
    Number range;
  };
  template <class Number>
  static Terms<Number> terms(Number high, Number low, Number close, Number previous) noexcept {
    const Number true_low = less_or_second(low, previous);
    const Number true_high = greater_or_second(high, previous);
    // The comparisons pass over a NaN; a NaN price makes both terms NaN.
    const auto unknown = (high != high) | (low != low) | (close != close) | (previous != previous);
    const Number unknown_term = splat<Number>(kNaN);
    return {select(unknown, unknown_term, close - true_low),
            select(unknown, unknown_term, true_high - true_low)};
  }
  // The answer from full windows' sums, for one bar or two side by side.
  template <class Number>
  static Number of_sums(Number buying_shortest, Number buying_middle, Number buying_longest,
                        Number ranges_shortest, Number ranges_middle,
                        Number ranges_longest) noexcept {
    const auto average = [](Number pressures, Number ranges) noexcept {
      return select(ranges == splat<Number>(0.0), splat<Number>(0.0), pressures / ranges);
    };
    const Number shortest = average(buying_shortest, ranges_shortest);
    const Number middle = average(buying_middle, ranges_middle);
    const Number longest = average(buying_longest, ranges_longest);
    return canonical(100.0 * ((4.0 * shortest + 2.0 * middle + longest) * (1.0 / 7.0)));
  }
  void reset() noexcept {
    buying.reset();
    ranges.reset();
    previous_close = 0.0;
    started = false;
  }
  std::uint32_t length() const noexcept { return ranges.window.period; }
};

}  // namespace barworks::classic

namespace barworks {

// The fields of the record's step, in the order advance() takes them. A
// pair of lanes takes the rule side by side on its common path, reading the
// slots its windows write next.
template <>
struct LaneFields<classic::UltimateOscillator> {
  using R = classic::UltimateOscillator;
  using List = Joined<FieldList<&R::previous_close>,
                      within_all<&R::buying, LaneFields<classic::TrailingSums>::List>,
                      within_all<&R::ranges, LaneFields<classic::TrailingSums>::List>>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

}  // namespace barworks

namespace barworks::classic {

inline double UltimateOscillator::update(const Candle& bar) noexcept {
  if (steady()) [[likely]] {
    return with_lane_fields(*this, [&](auto& previous, auto&... fields)
                                       __attribute__((always_inline)) {
      return advance(*this, bar.open, bar.high, bar.low, bar.close, bar.volume, previous,
                     fields...);
    });
  }
  if (!started) [[unlikely]] {
    if (any_nan(bar.high, bar.low, bar.close)) return kNotYet;
    started = true;
    previous_close = bar.close;
    return kNotYet;
  }
  const Terms<double> taken = terms(bar.high, bar.low, bar.close, previous_close);
  previous_close = bar.close;
  // Both sums take their term, whatever the other answers.
  const bool buying_known = buying.push(taken.pressure);
  const bool ranges_known = ranges.push(taken.range);
  if (!buying_known || !ranges_known || !ranges.full()) [[unlikely]] return kNotYet;
  return of_sums(buying.shortest_sum, buying.middle_sum, buying.longest_sum, ranges.shortest_sum,
                 ranges.middle_sum, ranges.longest_sum);
}

template <class Number, class... Fields>
inline Number UltimateOscillator::advance(const UltimateOscillator& shared, Number, Number high,
                                          Number low, Number close, Number,
                                          Number& previous_close, Fields&... fields) noexcept {
  const Terms<Number> taken = terms(high, low, close, previous_close);
  previous_close = close;
  // Both sums take their term, whatever the other answers.
  bool known = true;
  Number buying[3], ranges[3];
  const auto take = [&](const TrailingSums& record, Number term, Number* sums) {
    return [&, term, sums](auto& window, auto& shortest, auto& middle, auto& longest,
                           auto&... rest) __attribute__((always_inline)) {
      known &= TrailingSums::advance(record, term, window, shortest, middle, longest, rest...);
      sums[0] = shortest;
      sums[1] = middle;
      sums[2] = longest;
    };
  };
  each_half(std::tie(fields...), take(shared.buying, taken.pressure, buying),
            take(shared.ranges, taken.range, ranges));
  if (!known) [[unlikely]] return splat<Number>(kNotYet);
  return of_sums(buying[0], buying[1], buying[2], ranges[0], ranges[1], ranges[2]);
}

// A batch of bars from columns, as that many updates would answer them.
// Once both windows are full, blocks of bars slide from a history of their
// terms (slide_in_step), each block ending before a non-finite or
// overflowing term, which update takes.
template <class Column>
void answer_bars(UltimateOscillator& record, std::size_t size, const Column& highs,
                 const Column& lows, const Column& closes, double* answers) noexcept {
  constexpr std::uint32_t kBlock = 128;
  constexpr std::uint32_t kLongestSlid = 256;  // longer windows step through update
  const std::uint32_t period = record.length();
  const auto one = [&](std::size_t i) {
    answers[i] = record.update(Candle{kNaN, highs[i], lows[i], closes[i], kNaN});
  };
  // Each bar's buying pressure and true range side by side: the windows,
  // then the block's terms.
  double history[2 * (kLongestSlid + kBlock)];
  double sums[3][2 * kBlock];  // the shortest, middle and longest sums, as pairs
  std::size_t i = 0;
  while (i < size) {
    const bool slides = period <= kLongestSlid && record.started && record.ranges.full() &&
                        record.buying.nonfinite == 0 && record.ranges.nonfinite == 0;
    const std::size_t most = slides ? std::min<std::size_t>(kBlock, size - i) : 0;
    if (most == 0) {
      one(i++);
      continue;
    }
    double* to = history;
    record.buying.window.for_each_oldest_first([&](double x) { *to = x, to += 2; });
    to = history + 1;
    record.ranges.window.for_each_oldest_first([&](double x) { *to = x, to += 2; });
    // The terms of one step, or two, as long as they change the sums by
    // finite amounts.
    std::uint32_t steps = 0;
    double previous = record.previous_close;
    const auto take = [&]<class Number>(Number high, Number low, Number close,
                                        Number before) noexcept {
      const auto taken = UltimateOscillator::terms(high, low, close, before);
      DoublePair step_terms[2];
      constexpr std::uint32_t kTaken = std::is_same_v<Number, double> ? 1 : 2;
      if constexpr (kTaken == 1) {
        step_terms[0] = DoublePair{taken.pressure, taken.range};
      } else {
        step_terms[0] = __builtin_shufflevector(taken.pressure, taken.range, 0, 2);
        step_terms[1] = __builtin_shufflevector(taken.pressure, taken.range, 1, 3);
      }
      const DoublePair largest = splat<DoublePair>(std::numeric_limits<double>::max());
      LaneMask finite = ~LaneMask{};
      for (std::uint32_t j = 0; j < kTaken; ++j) {
        const DoublePair change = step_terms[j] - load_lanes<DoublePair>(history + 2 * (steps + j));
        finite &= absolute(change) <= largest;
      }
      if (!every_lane(finite)) return false;
      for (std::uint32_t j = 0; j < kTaken; ++j) {
        store_lanes(history + 2 * (period + steps + j), step_terms[j]);
      }
      return true;
    };
    for (; steps + 2 <= most; steps += 2) {
      const std::size_t at = i + steps;
      const DoublePair close = closes.pair(at);
      if (!take(highs.pair(at), lows.pair(at), close, DoublePair{previous, close[0]})) break;
      previous = close[1];
    }
    for (; steps < most; ++steps) {
      const std::size_t at = i + steps;
      if (!take(highs[at], lows[at], closes[at], previous)) break;
      previous = closes[at];
    }
    if (steps == 0) {
      one(i++);
      continue;
    }
    TrailingSums::slide_in_step(record.buying, record.ranges, history, steps, sums[0], sums[1],
                                sums[2]);
    // Two steps' answers at once: their pairs of sums turned into a pair of
    // buying sums and a pair of true range sums.
    std::uint32_t k = 0;
    for (; k + 2 <= steps; k += 2) {
      DoublePair buying[3], ranges[3];
      for (int horizon = 0; horizon < 3; ++horizon) {
        const DoublePair first = load_lanes<DoublePair>(sums[horizon] + 2 * k);
        const DoublePair second = load_lanes<DoublePair>(sums[horizon] + 2 * k + 2);
        buying[horizon] = __builtin_shufflevector(first, second, 0, 2);
        ranges[horizon] = __builtin_shufflevector(first, second, 1, 3);
      }
      store_lanes(answers + i + k, UltimateOscillator::of_sums(buying[0], buying[1], buying[2],
                                                               ranges[0], ranges[1], ranges[2]));
    }
    if (k < steps) {
      const double* const last[3] = {sums[0] + 2 * k, sums[1] + 2 * k, sums[2] + 2 * k};
      answers[i + k] = UltimateOscillator::of_sums(last[0][0], last[1][0], last[2][0], last[0][1],
                                                   last[1][1], last[2][1]);
    }
    const auto push_terms = [&](CircularWindow& window, std::size_t lane) {
      struct Terms {
        const double* at;
        double operator[](std::size_t k) const noexcept { return at[2 * k]; }
      };
      window.push_all(Terms{history + 2 * period + lane}, 0, steps);
    };
    push_terms(record.buying.window, 0);
    push_terms(record.ranges.window, 1);
    record.previous_close = previous;
    i += steps;
  }
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
