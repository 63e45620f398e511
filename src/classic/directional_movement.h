// Wilder's directional movement, the core that the directional classes
// (PlusDirectionalMovement to AverageDirectionalIndexRating) embed: not a
// class of its own.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "../branch_free.h"
#include "../candle.h"
#include "../error.h"
#include "../indicators/true_range.h"
#include "../lanes.h"
#include "../nan.h"
#include "../warmup.h"
#include "family.h"
#include "wilder_average.h"

namespace barworks::classic {

// Each bar after the first moves up by up = high - previous high and down
// by down = previous low - low. The larger of the two, when positive, is
// that side's movement and the other side's is 0; equal moves count for
// neither:
//   plus = up if up > down and up > 0, else 0
//   minus = down if down > up and down > 0, else 0
// Both are kept as Wilder sums (WilderSum). Bars before the first whose
// high and low are both numbers are skipped without counting. After that
// a NaN high or low makes both movements NaN, which stays in the sums until
// reset (the batch libraries read it as no movement).
struct DirectionalMovement {
  WilderSum plus;
  WilderSum minus;
  double previous_high;
  double previous_low;
  bool has_previous;

  static Expected<DirectionalMovement> create(std::uint32_t period) noexcept {
    if (period == 0) return std::unexpected(kPeriodZero);
    const WilderSum sum = WilderSum::create(period);
    return DirectionalMovement{sum, sum, 0.0, 0.0, false};
  }
  // False for a bar that only supplies the previous high and low, or is
  // skipped. The sums take the movements through their own updates, which
  // run the same steady rule once seeded: a branch on steady() here made a
  // lone bar's batch slower.
  bool update(const Candle& bar) noexcept {
    const double high = bar.high;
    const double low = bar.low;
    if (!has_previous) [[unlikely]] {
      if (std::isnan(high) || std::isnan(low)) return false;
      previous_high = high;
      previous_low = low;
      has_previous = true;
      return false;
    }
    double plus_move;
    double minus_move;
    moves(high, low, previous_high, previous_low, plus_move, minus_move);
    plus.update(plus_move);
    minus.update(minus_move);
    return true;
  }
  // Once both sums are smoothed, the rule over a number type, for a lone
  // bar or lanes side by side: the previous sides and the sums are the
  // lane's or lanes', this record gives the period.
  bool steady() const noexcept { return has_previous && plus.smoothed(); }
  template <class Number>
  [[gnu::always_inline]] static void advance(const DirectionalMovement& shared, Number high,
                                             Number low, Number& previous_high,
                                             Number& previous_low, Number& plus_sum,
                                             Number& minus_sum) noexcept {
    Number plus_move;
    Number minus_move;
    moves(high, low, previous_high, previous_low, plus_move, minus_move);
    WilderSum::advance(shared.plus, plus_move, plus_sum);
    WilderSum::advance(shared.minus, minus_move, minus_sum);
  }
  // A bar's two movements against the previous sides, which it then
  // becomes. The sides are taken as they come: a NaN among them only
  // replaces both movements with the one NaN, and waits as the previous
  // side.
  template <class Number>
  [[gnu::always_inline]] static void moves(Number high, Number low, Number& previous_high,
                                           Number& previous_low, Number& plus_move,
                                           Number& minus_move) noexcept {
    const Number up = high - previous_high;
    const Number down = previous_low - low;
    previous_high = high;
    previous_low = low;
    // 0 where up > down but up <= 0; without a branch, as which side
    // moved more follows the data.
    plus_move = positive_part_above(up, down);
    minus_move = positive_part_above(down, up);
    unknown_moves(up, down, plus_move, minus_move);
  }
  // Both movements the one NaN where either move is NaN: a rare branch for
  // a lone bar, a selection for a pair.
  static void unknown_moves(double up, double down, double& plus_move,
                            double& minus_move) noexcept {
    if (std::isnan(up) || std::isnan(down)) [[unlikely]] plus_move = minus_move = kNaN;
  }
  static void unknown_moves(DoublePair up, DoublePair down, DoublePair& plus_move,
                            DoublePair& minus_move) noexcept {
    const LaneMask unknown = (up != up) | (down != down);
    plus_move = select(unknown, splat<DoublePair>(kNaN), plus_move);
    minus_move = select(unknown, splat<DoublePair>(kNaN), minus_move);
  }
  void reset() noexcept {
    plus.reset();
    minus.reset();
    previous_high = 0.0;
    previous_low = 0.0;
    has_previous = false;
  }
  std::uint32_t length() const noexcept { return plus.period; }
  // Bars taken, the first included.
  std::uint64_t bars() const noexcept {
    return has_previous ? std::uint64_t{plus.count} + 1 : 0;
  }
};

// Wilder's directional indicators from the directional movement and a
// Wilder sum of the true ranges (the module's TrueRange against the
// previous close, which passes over a NaN close as the batch libraries do):
//   +DI = 100 * (plus sum / range sum),  -DI = 100 * (minus sum / range sum)
// answered once `period` bars after the first have been taken. A range sum
// of 0 (bars that never move) answers 0.0 for both, as TA-Lib does. Bars
// before the first whose high, low and close are all numbers are skipped
// without counting.
struct DirectionalIndicators {
  DirectionalMovement movement;
  TrueRange range;
  WilderSum ranges;

  static Expected<DirectionalIndicators> create(std::uint32_t period) noexcept {
    auto movement = DirectionalMovement::create(period);
    if (!movement) return std::unexpected(movement.error());
    return DirectionalIndicators{*movement, TrueRange::create(), WilderSum::create(period)};
  }
  // (+DI, -DI), both NaN until the sums have smoothed their first bar. The
  // bar by value: the classes built on these indicators call this only
  // until they are steady, and a bar passed by reference would be put in
  // memory on their steady path too, where the compiler reads its high and
  // low as one load across two stores, which stalls.
  std::array<double, 2> update(Candle bar) noexcept {
    constexpr std::array<double, 2> kNone{kNotYet, kNotYet};
    if (steady()) [[likely]] {
      return shares(advance(*this, bar.high, bar.low, bar.close, movement.previous_high,
                            movement.previous_low, movement.plus.sum, movement.minus.sum,
                            range.previous_close, ranges.sum));
    }
    if (!movement.has_previous) {
      if (std::isnan(bar.high) || std::isnan(bar.low) || std::isnan(bar.close)) return kNone;
      // Only the high, low and close are kept from the first bar.
      (void)movement.update(bar);
      (void)range.update(bar.prices());
      return kNone;
    }
    (void)movement.update(bar);
    const double total = ranges.update(range.update(bar.prices()));
    if (!ranges.smoothed()) [[unlikely]] return kNone;
    return shares(total);
  }
  // The steady step of a record built on these indicators: its advance()
  // on their fields, then on its own `more`.
  template <class Record, class... More>
  [[gnu::always_inline]] double advance_on_fields(const Record& shared, const Candle& bar,
                                                  More&... more) noexcept {
    return Record::advance(shared, bar.open, bar.high, bar.low, bar.close, bar.volume,
                           movement.previous_high, movement.previous_low, movement.plus.sum,
                           movement.minus.sum, range.previous_close, ranges.sum, more...);
  }
  std::array<double, 2> shares(double total) const noexcept {
    return {share(movement.plus.sum, total), share(movement.minus.sum, total)};
  }
  template <class Number>
  static Number share(Number moved, Number total) noexcept {
    const Number indicator = splat<Number>(100.0) * (moved / total);
    return select(total == 0.0, splat<Number>(0.0), indicator);
  }
  // Once every sum is smoothed, the sums' rule over a number type, for a
  // lone bar or lanes side by side: the movements' and then the true
  // ranges', answering the true ranges' sum.
  bool steady() const noexcept { return movement.steady() && ranges.smoothed(); }
  template <class Number>
  [[gnu::always_inline]] static Number advance(const DirectionalIndicators& shared, Number high,
                                               Number low, Number close, Number& previous_high,
                                               Number& previous_low, Number& plus_sum,
                                               Number& minus_sum, Number& previous_close,
                                               Number& range_sum) noexcept {
    DirectionalMovement::advance(shared.movement, high, low, previous_high, previous_low,
                                 plus_sum, minus_sum);
    const Number range =
        TrueRange::advance(shared.range, Number{}, high, low, close, Number{}, previous_close);
    return WilderSum::advance(shared.ranges, range, range_sum);
  }
  // The directional movement index of a steady bar, as advance() takes it.
  template <class Number>
  [[gnu::always_inline]] static Number index(const DirectionalIndicators& shared, Number high,
                                             Number low, Number close, Number& previous_high,
                                             Number& previous_low, Number& plus_sum,
                                             Number& minus_sum, Number& previous_close,
                                             Number& range_sum) noexcept;
  void reset() noexcept {
    movement.reset();
    range.reset();
    ranges.reset();
  }
  std::uint32_t length() const noexcept { return movement.length(); }
};

// The directional movement index from the two indicators:
//   DX = 100 * (|(-DI) - (+DI)| / ((+DI) + (-DI)))
// 0.0 where both indicators are 0 (bars that never move, or move only
// inside the previous range), as TA-Lib answers.
template <class Number>
inline Number directional_index(Number plus, Number minus) noexcept {
  const Number total = plus + minus;
  const Number index = splat<Number>(100.0) * (magnitude(minus - plus) / total);
  return select(total == 0.0, splat<Number>(0.0), index);
}
inline double directional_index(const std::array<double, 2>& indicators) noexcept {
  return directional_index(indicators[0], indicators[1]);
}

template <class Number>
[[gnu::always_inline]] inline Number DirectionalIndicators::index(
    const DirectionalIndicators& shared, Number high, Number low, Number close,
    Number& previous_high, Number& previous_low, Number& plus_sum, Number& minus_sum,
    Number& previous_close, Number& range_sum) noexcept {
  const Number total = advance(shared, high, low, close, previous_high, previous_low, plus_sum,
                               minus_sum, previous_close, range_sum);
  return directional_index(share(plus_sum, total), share(minus_sum, total));
}

enum class Direction { kPlus, kMinus };

// One side of the directional movement: the Wilder sum of that side's
// movement, as the batch libraries print it (a sum, not a mean). Lookback
// `period` - 1, and 1 for period 1, where the answer is the bar's own
// movement.
template <Direction Side>
struct SideMovement {
  static constexpr bool kReadsClose = false;

  DirectionalMovement movement;

  static Expected<SideMovement> create(std::uint32_t period) noexcept {
    auto movement = DirectionalMovement::create(period);
    if (!movement) return std::unexpected(movement.error());
    return SideMovement{*movement};
  }
  double update(const Candle& bar) noexcept {
    if (!movement.update(bar)) [[unlikely]] return kNotYet;
    const WilderSum& sum = Side == Direction::kPlus ? movement.plus : movement.minus;
    return sum.seeded() ? sum.sum : kNotYet;
  }
  bool steady() const noexcept { return movement.steady(); }
  template <class Number>
  [[gnu::always_inline]] static Number advance(const SideMovement& shared, Number, Number high,
                                               Number low, Number, Number, Number& previous_high,
                                               Number& previous_low, Number& plus_sum,
                                               Number& minus_sum) noexcept {
    DirectionalMovement::advance(shared.movement, high, low, previous_high, previous_low,
                                 plus_sum, minus_sum);
    return Side == Direction::kPlus ? plus_sum : minus_sum;
  }
  void reset() noexcept { movement.reset(); }
  std::uint32_t length() const noexcept { return movement.length(); }
};

// One side's directional indicator. Lookback `period`.
template <Direction Side>
struct SideIndicator {
  DirectionalIndicators indicators;

  static Expected<SideIndicator> create(std::uint32_t period) noexcept {
    auto indicators = DirectionalIndicators::create(period);
    if (!indicators) return std::unexpected(indicators.error());
    return SideIndicator{*indicators};
  }
  double update(const Candle& bar) noexcept {
    if (steady()) [[likely]] {
      return indicators.advance_on_fields(*this, bar);
    }
    return indicators.update(bar)[Side == Direction::kPlus ? 0 : 1];
  }
  bool steady() const noexcept { return indicators.steady(); }
  template <class Number>
  [[gnu::always_inline]] static Number advance(const SideIndicator& shared, Number, Number high,
                                               Number low, Number close, Number,
                                               Number& previous_high, Number& previous_low,
                                               Number& plus_sum, Number& minus_sum,
                                               Number& previous_close, Number& range_sum) noexcept {
    const Number total =
        DirectionalIndicators::advance(shared.indicators, high, low, close, previous_high,
                                       previous_low, plus_sum, minus_sum, previous_close,
                                       range_sum);
    return DirectionalIndicators::share(Side == Direction::kPlus ? plus_sum : minus_sum, total);
  }
  void reset() noexcept { indicators.reset(); }
  std::uint32_t length() const noexcept { return indicators.length(); }
};

}  // namespace barworks::classic

namespace barworks {

// The two sums move in step; before the first bar nothing is remembered.
template <>
struct Checkpoint<classic::DirectionalMovement> {
  using R = classic::DirectionalMovement;
  static constexpr auto kFields = std::tuple{
      component<&R::plus>("plus"), component<&R::minus>("minus"),
      number<&R::previous_high>("previous_high"), number<&R::previous_low>("previous_low"),
      choice<&R::has_previous>("has_previous", 1),
      rule<R>(
          [](const R& r) noexcept {
            return r.plus.period == r.minus.period && r.plus.count == r.minus.count;
          },
          "the two movements must be summed over the same period and count"),
      rule<R>(
          [](const R& r) noexcept {
            return r.has_previous ||
                   (r.plus.count == 0 && r.previous_high == 0.0 && r.previous_low == 0.0);
          },
          "nothing may be summed or remembered before the first bar")};
};
static_assert(checkpoint_layout::lists_every_member<classic::DirectionalMovement>());

// The ranges are summed in step with the movements, from the same first bar.
template <>
struct Checkpoint<classic::DirectionalIndicators> {
  using R = classic::DirectionalIndicators;
  static constexpr auto kFields = std::tuple{
      component<&R::movement>("movement"), component<&R::range>("range"),
      component<&R::ranges>("ranges"),
      rule<R>(
          [](const R& r) noexcept {
            return r.ranges.period == r.movement.plus.period &&
                   r.ranges.count == r.movement.plus.count &&
                   r.range.has_previous == r.movement.has_previous;
          },
          "the ranges must be summed over the movements' period, count and first bar")};
};
static_assert(checkpoint_layout::lists_every_member<classic::DirectionalIndicators>());

template <classic::Direction Side>
struct Checkpoint<classic::SideMovement<Side>> {
  using R = classic::SideMovement<Side>;
  static constexpr auto kFields = std::tuple{component<&R::movement>("movement")};
};

template <classic::Direction Side>
struct Checkpoint<classic::SideIndicator<Side>> {
  using R = classic::SideIndicator<Side>;
  static constexpr auto kFields = std::tuple{component<&R::indicators>("indicators")};
};

// The first bar only supplies the previous high and low.
template <classic::Direction Side>
struct Warmup<classic::SideMovement<Side>> {
  using R = classic::SideMovement<Side>;
  static std::uint64_t lookback(const R& record) noexcept {
    return record.length() > 1 ? std::uint64_t{record.length()} - 1 : 1;
  }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.movement.bars(); }
};

template <classic::Direction Side>
struct Warmup<classic::SideIndicator<Side>> {
  using R = classic::SideIndicator<Side>;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return record.indicators.movement.bars();
  }
};

// The fields a steady directional record reads and writes, reached through
// the member `Outer` that holds its movement or indicators.
template <auto Outer>
using MovementFields = FieldList<
    within<Outer, &classic::DirectionalMovement::previous_high>,
    within<Outer, &classic::DirectionalMovement::previous_low>,
    within<Outer, within<&classic::DirectionalMovement::plus, &classic::WilderSum::sum>>,
    within<Outer, within<&classic::DirectionalMovement::minus, &classic::WilderSum::sum>>>;

template <classic::Direction Side>
struct LaneFields<classic::SideMovement<Side>> {
  using List = MovementFields<&classic::SideMovement<Side>::movement>;
};

// The same for a record holding directional indicators as `Indicators`,
// then the fields `More` of its own.
template <auto Indicators, auto... More>
using IndicatorFields = FieldList<
    within<Indicators, within<&classic::DirectionalIndicators::movement,
                              &classic::DirectionalMovement::previous_high>>,
    within<Indicators, within<&classic::DirectionalIndicators::movement,
                              &classic::DirectionalMovement::previous_low>>,
    within<Indicators,
           within<&classic::DirectionalIndicators::movement,
                  within<&classic::DirectionalMovement::plus, &classic::WilderSum::sum>>>,
    within<Indicators,
           within<&classic::DirectionalIndicators::movement,
                  within<&classic::DirectionalMovement::minus, &classic::WilderSum::sum>>>,
    within<Indicators, within<&classic::DirectionalIndicators::range, &TrueRange::previous_close>>,
    within<Indicators, within<&classic::DirectionalIndicators::ranges, &classic::WilderSum::sum>>,
    More...>;

template <classic::Direction Side>
struct LaneFields<classic::SideIndicator<Side>> {
  using List = IndicatorFields<&classic::SideIndicator<Side>::indicators>;
};

}  // namespace barworks
