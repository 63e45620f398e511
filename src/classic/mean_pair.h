// The two simple moving averages that the price oscillators compare: not a
// class of its own.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../window.h"
#include "exact_window.h"
#include "family.h"

namespace barworks::classic {

// Simple moving averages of the last `fast_period` and the last
// `slow_period` inputs, sum / period each, both over one window of the
// slow period's inputs; the fast period must be below the slow one. The sums slide in O(1) and
// are recomputed from the window every slow period's slides (every 64 for
// shorter windows), so that their rounding stays within a few ulps however
// long the stream (TA-Lib's running sums drift). (fast, slow) are NaN until
// the window is full. NaN inputs before the first number are skipped
// without counting; a later NaN or infinite input makes both NaN while it
// is in the window, and once it has left the sums are recomputed from it.
struct MeanPair {
  CircularWindow window;  // the last slow_period inputs
  std::uint32_t fast_period;
  double fast_sum;
  double slow_sum;
  std::uint32_t nonfinite;    // NaN and infinite inputs in the window
  std::uint32_t since_exact;  // slides since the last exact recomputation

  static Expected<MeanPair> create(std::uint32_t fast_period, std::uint32_t slow_period) noexcept {
    if (fast_period == 0 || slow_period == 0) return std::unexpected(kPeriodZero);
    auto window = CircularWindow::create(slow_period);
    if (!window) return std::unexpected(window.error());
    // TA-Lib swaps a fast period above the slow one and answers 0.0 for
    // equal ones; neither is an oscillator a user means to ask for.
    if (fast_period >= slow_period) return std::unexpected(kFastNotBelowSlow);
    return MeanPair{std::move(*window), fast_period, 0.0, 0.0, 0, 0};
  }
  // Always inlined: out of line, the two means come back through memory.
  [[gnu::always_inline]] std::array<double, 2> update(double x) noexcept {
    if (steady()) [[likely]] {
      return advance(*this, x, window, fast_sum, slow_sum, nonfinite, since_exact);
    }
    constexpr std::array<double, 2> kNone{kNotYet, kNotYet};
    x = canonical(x);
    if (window.count == 0 && x != x) [[unlikely]] return kNone;
    const std::uint32_t period = window.period;
    const double fast_old = window.slot(fast_back(window.index));
    const double old = window.push(x);
    (void)nonfinite_moved(x, old, x - old, nonfinite);
    fast_sum += x - fast_old;
    slow_sum += x;
    if (nonfinite != 0 || window.count < period) [[unlikely]] return kNone;
    return means(*this, fast_sum, slow_sum);
  }
  // Full: every step from here on is advance()'s.
  bool steady() const noexcept { return window.count == window.period; }
  // A full window's step, over a number type: a lone window's every step,
  // or a pair of lanes' on the common path (pair_on_common_path).
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static std::array<Number, 2> advance(const MeanPair& shared, Number x,
                                                              Values& window, Number& fast_sum,
                                                              Number& slow_sum, Count& nonfinite,
                                                              Count& since_exact) noexcept;
  // Both lanes slide (pair_slides), their fast changes finite too.
  template <class Values, class Count>
  static bool pair_on_common_path(const MeanPair& shared, DoublePair x, const Values& window,
                                  const DoublePair&, const DoublePair&, const Count& nonfinite,
                                  const Count& since_exact) noexcept {
    const DoublePair fast_change = x - window.slot(shared.fast_back(window.write_slot()));
    const DoublePair largest = splat<DoublePair>(std::numeric_limits<double>::max());
    return every_lane(absolute(fast_change) <= largest) &&
           pair_slides(x, window, nonfinite, since_exact);
  }
  void reset() noexcept {
    window.clear();
    fast_sum = 0.0;
    slow_sum = 0.0;
    nonfinite = 0;
    since_exact = 0;
  }
  std::uint32_t slow_period() const noexcept { return window.period; }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(window.period);
  }
  std::uint32_t count_nonfinite() const noexcept { return classic::count_nonfinite(window.values); }

 private:
  // The slot of the input that leaves the fast window when the one at
  // `written` comes in; while that window fills it has not been written,
  // and holds 0.0.
  std::uint32_t fast_back(std::uint32_t written) const noexcept {
    return written >= fast_period ? written - fast_period
                                  : written + (window.period - fast_period);
  }
  template <class Number>
  static std::array<Number, 2> means(const MeanPair& shared, Number fast_sum,
                                     Number slow_sum) noexcept {
    return {fast_sum / static_cast<double>(shared.fast_period),
            slow_sum / static_cast<double>(shared.window.period)};
  }
  template <class Number>
  struct Sums {
    Number fast;
    Number slow;
  };
  // Both sums from the window, oldest input first (at `oldest`). Out of
  // line, and given a handle on the slots rather than the record, so that
  // the record's address never escapes the loops that call update.
  template <class Number, class Slots>
  [[gnu::cold, gnu::noinline]] static Sums<Number> exact_sums(Slots window, std::uint32_t period,
                                                              std::uint32_t fast_period,
                                                              std::uint32_t oldest) noexcept {
    Number fast = splat<Number>(0.0), slow = splat<Number>(0.0);
    for (std::uint32_t step = 0, slot = oldest; step < period; ++step) {
      const Number value = window.slot(slot);
      slow += value;
      if (step >= period - fast_period) fast += value;
      slot = next_slot(slot, period);
    }
    return {fast, slow};
  }
};

// The fast window lies inside the slow one, so the slow window's count of
// non-finite inputs covers both; a fast change that overflows from finite
// inputs recomputes too. A lone window recomputes with a non-finite input
// in it as well, and answers NaN until the input has left.
template <class Number, class Values, class Count>
inline std::array<Number, 2> MeanPair::advance(const MeanPair& shared, Number x, Values& window,
                                               Number& fast_sum, Number& slow_sum,
                                               Count& nonfinite, Count& since_exact) noexcept {
  x = canonical(x);
  const std::uint32_t period = shared.window.period;
  const std::uint32_t written = window.write_slot();
  const Number fast_old = window.slot(shared.fast_back(written));
  const Number old = window.push(x);
  const Number fast_change = x - fast_old;
  const Number change = x - old;
  bool rebuild = false;
  if constexpr (std::is_same_v<Number, double>) {
    rebuild = nonfinite_moved(x, old, change, nonfinite) ||
              !(std::fabs(fast_change) <= std::numeric_limits<double>::max());
  }
  if (rebuild || exact_due(since_exact, shared.slides_between_exact())) [[unlikely]] {
    const Sums<Number> sums = exact_sums<Number>(window.slots(), period, shared.fast_period,
                                                 next_slot(written, period));
    fast_sum = sums.fast;
    slow_sum = sums.slow;
    restart(since_exact);
  } else {
    fast_sum += fast_change;
    slow_sum += change;
  }
  if constexpr (std::is_same_v<Number, double>) {
    if (nonfinite != 0) [[unlikely]] return {kNotYet, kNotYet};
  }
  return means(shared, fast_sum, slow_sum);
}

// A record answering from the two means it embeds.
template <class Record>
using OnMeans = AnsweredFrom<Record, MeanPair>;

}  // namespace barworks::classic

namespace barworks {

// The count of non-finite inputs and the recomputations' pace follow from
// the window and are recomputed on load; the sliding sums are stored as
// they are.
template <>
struct Checkpoint<classic::MeanPair> {
  using R = classic::MeanPair;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), period<&R::fast_period>("fast_period", 0),
      number<&R::fast_sum>("fast_sum"), number<&R::slow_sum>("slow_sum"),
      derived<&R::nonfinite, &R::count_nonfinite>(), tally<&R::since_exact>("since_exact"),
      rule<R>([](const R& r) noexcept {
                return r.fast_period != 0 && r.fast_period < r.window.period;
              },
              "the fast period must be at least 1 and below the slow period"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period"),
      rule<R>([](const R& r) noexcept {
                return r.window.count != 0 || (r.fast_sum == 0.0 && r.slow_sum == 0.0);
              },
              "the sums must be 0 before the first input"),
      since_exact_rule<R>()};
};
static_assert(checkpoint_layout::lists_every_member<classic::MeanPair>());

// The fields a full window's step reads and writes, in the order advance()
// takes them; a record over the means lays out the means' fields. A pair of
// lanes takes the rule side by side on its common path, reading the slots
// its windows write next and the fast window leaves.
template <>
struct LaneFields<classic::MeanPair> {
  using R = classic::MeanPair;
  using List = FieldList<&R::window, &R::fast_sum, &R::slow_sum, &R::nonfinite, &R::since_exact>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};
template <class Record>
struct MeanLanes : LaneFields<classic::MeanPair> {
  using List = within_all<&Record::means, LaneFields<classic::MeanPair>::List>;
};

// The window counts up to the first means.
template <class Record>
struct MeanPairWarmup {
  static std::uint64_t lookback(const Record& record) noexcept {
    return std::uint64_t{record.means.slow_period()} - 1;
  }
  static std::uint64_t inputs_seen(const Record& record) noexcept {
    return record.means.window.count;
  }
};

// Class(fast_period=12, slow_period=26) with next(input) and reset().
template <class Record>
struct PriceOscillatorClass {
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor =
      constructor<&Record::create>(with_default("fast_period", 12), with_default("slow_period", 26));
  static constexpr auto kMethods =
      std::tuple{method<&Record::update>("next", Access::kExclusive, "input"),
                 method<&Record::reset>("reset", Access::kExclusive)};
};

}  // namespace barworks
