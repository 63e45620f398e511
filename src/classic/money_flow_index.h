#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "../branch_free.h"
#include "../candle.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../warmup.h"
#include "../window.h"
#include "exact_window.h"
#include "family.h"

namespace barworks::classic {

// The money flow index: a volume-weighted relative strength of the typical
// price (high + low + close) / 3. A bar's money flow, typical * volume, is
// rising when its typical price is above the previous bar's, falling when
// below, and neither when equal; over the last `period` bars,
//   answer = 100 * rising / (rising + falling)
// Lookback `period`: the first bar only gives a typical price; bars before
// the first whose fields are all numbers are skipped. A NaN later makes the
// answers NaN while its bar, or the bar after it, is in the window. A window
// with no rising and no falling flow answers 0.0, as TA-Lib does. The sums
// slide and are recomputed from the windows every `period` bars (every 64
// for shorter windows), so they stay exact where running sums would drift.
struct MoneyFlowIndex {
  static constexpr bool kReadsVolume = true;

  CircularWindow rising;        // each bar's rising flow, else 0.0
  CircularWindow falling;       // each bar's falling flow, else 0.0
  double rising_sum;
  double falling_sum;
  double previous_typical;
  bool started;
  std::uint32_t nonfinite;      // non-finite flows in the windows
  std::uint32_t since_exact;    // slides since the last exact recomputation
  std::uint32_t exact_every;    // slides between exact recomputations

  static Expected<MoneyFlowIndex> create(std::uint32_t period) noexcept {
    auto rising = CircularWindow::create(period);
    if (!rising) return std::unexpected(rising.error());
    auto falling = CircularWindow::create(period);
    if (!falling) return std::unexpected(falling.error());
    MoneyFlowIndex made{std::move(*rising), std::move(*falling), 0.0, 0.0, 0.0, false, 0, 0, 0};
    made.exact_every = made.slides_between_exact();
    return made;
  }
  [[gnu::always_inline]] double update(const Candle& bar) noexcept;
  // A bar's rising and falling flow against the previous typical price,
  // which it replaces, for one bar or two side by side. A NaN typical price
  // (or one after it) compares neither way; its flow is NaN on both sides
  // so that the answers are NaN while it is in the window.
  template <class Number>
  struct Flows {
    Number up;
    Number down;
  };
  template <class Number>
  [[gnu::always_inline]] static Flows<Number> flows(Number high, Number low, Number close,
                                                    Number volume,
                                                    Number& previous_typical) noexcept {
    const Number typical = (high + low + close) / 3.0;
    const Number flow = canonical(typical * volume);
    const auto unknown = (typical != typical) | (previous_typical != previous_typical);
    const Number none = splat<Number>(kNaN);
    // Without a branch on the data: which way the price moved.
    const Flows<Number> taken{select(unknown, none, where_above(typical, previous_typical, flow)),
                              select(unknown, none, where_above(previous_typical, typical, flow))};
    previous_typical = typical;
    return taken;
  }
  // Once the first bar is known and the windows are full, the rule over a
  // number type: a lone record's, a universe's lane's, or a pair of lanes'
  // on the common path, each lane recomputing on its own count.
  bool steady() const noexcept { return started && rising.count == rising.period; }
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Number advance(const MoneyFlowIndex& shared, Number, Number high,
                                               Number low, Number close, Number volume,
                                               Values& rising, Values& falling,
                                               Number& rising_sum, Number& falling_sum,
                                               Number& previous_typical, Count& nonfinite,
                                               Count& since_exact) noexcept;
  // A pair of lanes without a non-finite flow in their windows or coming
  // in, nor a change of a sum that overflows. Read before either lane is
  // touched.
  template <class Values, class Count>
  static bool pair_on_common_path(const MoneyFlowIndex&, DoublePair, DoublePair high,
                                  DoublePair low, DoublePair close, DoublePair volume,
                                  const Values& rising, const Values& falling, const DoublePair&,
                                  const DoublePair&, DoublePair previous_typical,
                                  const Count& nonfinite, const Count&) noexcept {
    const Flows<DoublePair> taken = flows(high, low, close, volume, previous_typical);
    const DoublePair up_change = taken.up - rising.slot(rising.write_slot());
    const DoublePair down_change = taken.down - falling.slot(falling.write_slot());
    const DoublePair largest = splat<DoublePair>(std::numeric_limits<double>::max());
    return (nonfinite[0] | nonfinite[1]) == 0 &&
           every_lane((absolute(up_change) <= largest) & (absolute(down_change) <= largest));
  }
  // The answer from full windows' sums.
  template <class Number>
  static Number of_sums(Number rising_sum, Number falling_sum) noexcept {
    const Number total = rising_sum + falling_sum;
    return select(total == 0.0, splat<Number>(0.0), 100.0 * rising_sum / total);
  }
  void reset() noexcept {
    rising.clear();
    falling.clear();
    rising_sum = falling_sum = previous_typical = 0.0;
    started = false;
    nonfinite = since_exact = 0;
  }
  std::uint32_t length() const noexcept { return rising.period; }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(rising.period);
  }
  std::uint32_t count_nonfinite() const noexcept {
    return classic::count_nonfinite(rising.values) + classic::count_nonfinite(falling.values);
  }

  // The windows' sums, oldest flow first. Given handles on the slots rather
  // than the record, so that the record's address does not escape the loops.
  template <class Number, class Slots>
  [[gnu::cold, gnu::noinline]] static Flows<Number> exact_sums(Slots rising, Slots falling,
                                                               std::uint32_t period,
                                                               std::uint32_t oldest) noexcept {
    Number up = splat<Number>(0.0), down = splat<Number>(0.0);
    for (std::uint32_t step = 0, slot = oldest; step < period; ++step) {
      up += rising.slot(slot);
      down += falling.slot(slot);
      slot = next_slot(slot, period);
    }
    return {up, down};
  }
};

inline double MoneyFlowIndex::update(const Candle& bar) noexcept {
  if (steady()) [[likely]] {
    return advance(*this, bar.open, bar.high, bar.low, bar.close, bar.volume, rising, falling,
                   rising_sum, falling_sum, previous_typical, nonfinite, since_exact);
  }
  if (!started) [[unlikely]] {
    if (any_nan(bar.high, bar.low, bar.close, bar.volume)) return kNotYet;
    started = true;
    previous_typical = (bar.high + bar.low + bar.close) / 3.0;
    return kNotYet;
  }
  const Flows<double> taken = flows(bar.high, bar.low, bar.close, bar.volume, previous_typical);
  const double old_up = rising.push(taken.up);
  const double old_down = falling.push(taken.down);
  (void)nonfinite_moved(taken.up, old_up, taken.up - old_up, nonfinite);
  (void)nonfinite_moved(taken.down, old_down, taken.down - old_down, nonfinite);
  if (nonfinite != 0) [[unlikely]] return kNaN;
  rising_sum += taken.up;
  falling_sum += taken.down;
  if (rising.count < rising.period) return kNotYet;
  return of_sums(rising_sum, falling_sum);
}

template <class Number, class Values, class Count>
inline Number MoneyFlowIndex::advance(const MoneyFlowIndex& shared, Number, Number high,
                                      Number low, Number close, Number volume, Values& rising,
                                      Values& falling, Number& rising_sum, Number& falling_sum,
                                      Number& previous_typical, Count& nonfinite,
                                      Count& since_exact) noexcept {
  const std::uint32_t period = shared.rising.period;
  const std::uint32_t slot = rising.write_slot();
  const Flows<Number> taken = flows(high, low, close, volume, previous_typical);
  const Number old_up = rising.push(taken.up);
  const Number old_down = falling.push(taken.down);
  const Number up_change = taken.up - old_up;
  const Number down_change = taken.down - old_down;
  bool rebuild = false;
  if constexpr (std::is_same_v<Number, double>) {
    rebuild = nonfinite_moved(taken.up, old_up, up_change, nonfinite);
    rebuild |= nonfinite_moved(taken.down, old_down, down_change, nonfinite);
    if (nonfinite != 0) [[unlikely]] return kNaN;
  }
  rising_sum += up_change;
  falling_sum += down_change;
  // Recomputed where a recomputation is due, lane by lane, the slide set
  // aside and the count starting again.
  const decltype(high < high) where =
      lanes_where<Number>(rebuild) | exact_due_each(since_exact, shared.exact_every);
  if (any_lane(where)) [[unlikely]] {
    const Flows<Number> sums =
        exact_sums<Number>(rising.slots(), falling.slots(), period, next_slot(slot, period));
    rising_sum = select(where, sums.up, rising_sum);
    falling_sum = select(where, sums.down, falling_sum);
    restart(since_exact, where);
  }
  return of_sums(rising_sum, falling_sum);
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::MoneyFlowIndex> : ClassicPeriodIndicator<classic::MoneyFlowIndex> {
  static constexpr const char* kName = "MoneyFlowIndex";
  static constexpr auto kConstructor =
      constructor<&classic::MoneyFlowIndex::create>(with_default("period", 14));
};

template <>
struct Checkpoint<classic::MoneyFlowIndex> {
  using R = classic::MoneyFlowIndex;
  static constexpr auto kFields = std::tuple{
      component<&R::rising>("rising"), component<&R::falling>("falling"),
      number<&R::rising_sum>("rising_sum"), number<&R::falling_sum>("falling_sum"),
      number<&R::previous_typical>("previous_typical"), choice<&R::started>("started", 1),
      derived<&R::nonfinite, &R::count_nonfinite>(), tally<&R::since_exact>("since_exact"),
      derived<&R::exact_every, &R::slides_between_exact>(),
      rule<R>([](const R& r) noexcept {
                return r.falling.period == r.rising.period && r.falling.index == r.rising.index &&
                       r.falling.count == r.rising.count && count_within_period(r.rising);
              },
              "the rising and falling windows must move together and not pass the period"),
      rule<R>([](const R& r) noexcept {
                return r.started || (r.rising.count == 0 && r.previous_typical == 0.0);
              },
              "no flow may come before the first bar"),
      rule<R>([](const R& r) noexcept {
                return r.rising.count != 0 || (r.rising_sum == 0.0 && r.falling_sum == 0.0);
              },
              "the sums must be 0 before the first flow"),
      since_exact_rule<R, &R::rising>()};
};

// The fields of the record's step, in the order advance() takes them. A
// pair of lanes takes the rule side by side on its common path, reading the
// slots its windows write next.
template <>
struct LaneFields<classic::MoneyFlowIndex> {
  using R = classic::MoneyFlowIndex;
  using List = FieldList<&R::rising, &R::falling, &R::rising_sum, &R::falling_sum,
                         &R::previous_typical, &R::nonfinite, &R::since_exact>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

template <>
struct Warmup<classic::MoneyFlowIndex> {
  using R = classic::MoneyFlowIndex;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return record.started ? std::uint64_t{record.rising.count} + 1 : 0;
  }
};

}  // namespace barworks
