#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../warmup.h"
#include "../window.h"
#include "exact_window.h"
#include "family.h"

namespace barworks::classic {

// Kaufman's adaptive moving average. The efficiency ratio of the last
// `period` changes, |x - x[-period]| over the sum of |x[-i] - x[-i-1]|,
// sets the smoothing between those of 2- and 30-input exponential averages:
//   sc = (ratio * (2/3 - 2/31) + 2/31)^2;  average = (x - average) * sc + average
// seeded with the input before the first answer. A window without movement
// (a zero sum of changes) reads as ratio 1, as TA-Lib reads it. Lookback
// `period`; a period of 1 answers each input as it is, with lookback 0, as
// TA-Lib does ("a period of 1 performs no smoothing").
// The sum of changes slides in O(1), each change added and later taken
// out as the same double, and is recomputed from the window every
// `period` inputs (every 64 for shorter windows), and at once when it falls
// below 1/16 of its largest value since (a move leaving the window), so that
// it stays within a few ulps of the exact sum and a still window reads
// exactly 0. NaN inputs before the first number are skipped without
// counting; a later NaN or infinite input makes the answers NaN until reset.
// Non-finite inputs are kept out of the sum (the slide stops while one is
// in the window, and the sum is recomputed once it has left), so no two
// NaNs meet in it.
struct KaufmanAdaptiveMovingAverage {
  CircularWindow window;    // the last period + 1 inputs
  double average;           // the answer; 0 until the first
  double changes;           // the window's sum of absolute changes
  double last;              // the previous input
  double peak;              // largest `changes` since the last exact computation
  std::uint32_t nonfinite;    // NaN and infinite inputs in the window
  std::uint32_t since_exact;  // slides since the last exact recomputation
  std::uint32_t exact_every;  // slides between exact recomputations

  static constexpr double kFast = 2.0 / 3.0;
  static constexpr double kSlow = 2.0 / 31.0;
  static constexpr double kSpread = kFast - kSlow;

  static Expected<KaufmanAdaptiveMovingAverage> create(std::uint32_t period) noexcept {
    if (period == 0) return std::unexpected(kPeriodZero);
    // One more than the period, which takes the largest periods past the
    // window limit rather than round to 0.
    auto window = CircularWindow::create(std::min(period, kWindowLimit - 1) + 1);
    if (!window) return std::unexpected(window.error());
    KaufmanAdaptiveMovingAverage made{std::move(*window), 0.0, 0.0, 0.0, 0.0, 0, 0, 0};
    made.exact_every = made.slides_between_exact();
    return made;
  }
  double update(double x) noexcept;
  void reset() noexcept {
    window.clear();
    average = 0.0;
    changes = 0.0;
    last = 0.0;
    peak = 0.0;
    nonfinite = 0;
    since_exact = 0;
  }
  std::uint32_t length() const noexcept { return window.period - 1; }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(length());
  }
  // What `last` holds, recomputed from the window. A window not allocated
  // yet (a checkpoint being checked) reads as empty.
  double latest() const noexcept {
    if (window.count == 0 || window.values.size() == 0) return 0.0;
    return window.values[window.index == 0 ? window.period - 1 : window.index - 1];
  }
  std::uint32_t count_nonfinite() const noexcept { return classic::count_nonfinite(window.values); }
  // A full window's slide: the change `taken` comes in and `leaving` goes
  // out, one addition on the sum's path from step to step; `fell` when the
  // sum fell below 1/16 of its peak, which calls for a recomputation.
  template <class Number>
  struct Slide {
    Number changes;
    Number peak;
    decltype(Number{} < Number{}) fell;
  };
  template <class Number>
  [[gnu::always_inline]] static Slide<Number> slide(Number changes, Number peak, Number taken,
                                                    Number leaving) noexcept {
    const Number slid = changes + (taken - leaving);
    // A maximum, not a branch: a new peak comes at random in a random walk.
    const Number highest = select(slid > peak, slid, peak);
    return {slid, highest, slid * 16.0 < highest};
  }
  // The answer for x, `reference` being the input `period` steps back.
  template <class Number>
  [[gnu::always_inline]] static Number smooth(Number x, Number reference, Number changes,
                                              Number& average) noexcept {
    const Number direction = absolute(x - reference);
    // Also 1 for a rounded sum a hair below the direction it bounds.
    const Number ratio = select(direction < changes, direction / changes, splat<Number>(1.0));
    const Number factor = ratio * kSpread + kSlow;
    average = (x - average) * (factor * factor) + average;
    return average;
  }
  // The sum of the window's absolute changes, from the oldest input (at
  // `oldest`) to the newest. Given a handle on the slots rather than the
  // record, so that the record's address does not escape the loops.
  template <class Number, class Slots>
  [[gnu::cold, gnu::noinline]] static Number sum_of_changes(Slots window, std::uint32_t size,
                                                            std::uint32_t oldest) noexcept {
    Number sum = splat<Number>(0.0);
    // The oldest value's change against itself adds exactly 0: the sum is
    // only recomputed over finite values.
    Number before = window.slot(oldest);
    // From the oldest to the window's end, then from its start.
    for (std::uint32_t from = oldest, to = size;; to = from, from = 0) {
      for (std::uint32_t slot = from; slot < to; ++slot) {
        const Number value = window.slot(slot);
        sum += absolute(value - before);
        before = value;
      }
      if (from == 0) return sum;
    }
  }
  // Full, with a period over 1: every step from here on is advance()'s.
  bool steady() const noexcept { return window.count == window.period && window.period > 2; }
  // A full window's step, over a number type: a lone window's every step,
  // or a pair of lanes' on the common path (pair_on_common_path).
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Number advance(const KaufmanAdaptiveMovingAverage& shared,
                                               Number x, Values& window, Number& average,
                                               Number& changes, Number& last, Number& peak,
                                               Count& nonfinite, Count& since_exact) noexcept;
  template <class Values, class Count>
  static bool pair_on_common_path(const KaufmanAdaptiveMovingAverage&, DoublePair x,
                                  const Values& window, const DoublePair&, const DoublePair&,
                                  const DoublePair&, const DoublePair&, const Count& nonfinite,
                                  const Count& since_exact) noexcept {
    return pair_slides(x, window, nonfinite, since_exact);
  }
};

inline double KaufmanAdaptiveMovingAverage::update(double x) noexcept {
  if (steady()) [[likely]] {
    return advance(*this, x, window, average, changes, last, peak, nonfinite, since_exact);
  }
  // The average can meet two NaNs: each is made the one NaN first.
  x = canonical(x);
  if (window.period == 2) [[unlikely]] return x;
  if (window.count == 0 && x != x) [[unlikely]] return kNotYet;
  const std::uint32_t size = window.period;
  const double previous = last;
  last = x;
  const double old = window.push(x);
  (void)nonfinite_moved(x, old, x - old, nonfinite);
  if (nonfinite != 0) [[unlikely]] {
    // The window holds every input until the first answer, so a non-finite
    // one is still in it then: the average is NaN from there until reset.
    if (window.count == size) average = kNaN;
    return kNotYet;
  }
  if (window.count == 1) return kNotYet;
  changes += std::fabs(x - previous);
  if (window.count < size) return kNotYet;
  average = previous;
  peak = changes;
  // The input `period` steps back, now the oldest in the window.
  return smooth(x, window.values[window.index], changes, average);
}

// The difference is finite whenever both inputs are, so one test keeps the
// count of non-finite inputs off the common path; a difference that
// overflows from finite inputs takes that path too and recomputes.
template <class Number, class Values, class Count>
inline Number KaufmanAdaptiveMovingAverage::advance(const KaufmanAdaptiveMovingAverage& shared,
                                                    Number x, Values& window, Number& average,
                                                    Number& changes, Number& last, Number& peak,
                                                    Count& nonfinite,
                                                    Count& since_exact) noexcept {
  // The average can meet two NaNs: each is made the one NaN first.
  x = canonical(x);
  const std::uint32_t size = shared.window.period;
  const Number previous = last;
  last = x;
  // After the push, the input `period` steps back is the oldest.
  const std::uint32_t oldest = next_slot(window.write_slot(), size);
  const Number old = window.push(x);
  const Number reference = window.slot(oldest);
  bool rebuild = false;
  if constexpr (std::is_same_v<Number, double>) {
    rebuild = nonfinite_moved(x, old, x - old, nonfinite);
    if (nonfinite != 0) [[unlikely]] {
      average = kNaN;
      return kNotYet;
    }
  }
  if (rebuild || exact_due(since_exact, shared.exact_every)) [[unlikely]] {
    changes = sum_of_changes<Number>(window.slots(), size, oldest);
    peak = changes;
    restart(since_exact);
  } else {
    const Slide<Number> slid =
        slide(changes, peak, absolute(x - previous), absolute(reference - old));
    changes = slid.changes;
    peak = slid.peak;
    if (any_lane(slid.fell)) [[unlikely]] {
      // Recomputed in the lanes whose sum fell; their counts start again.
      const Number exact = sum_of_changes<Number>(window.slots(), size, oldest);
      changes = select(slid.fell, exact, changes);
      peak = select(slid.fell, exact, peak);
      restart(since_exact, slid.fell);
    }
  }
  return smooth(x, reference, changes, average);
}

// A batch of inputs from a column, as that many updates would answer them,
// slid from the column where they can be (run_from_column), where a sum
// falling below its peak's sixteenth also ends a stretch.
template <class Column>
void answer_values(KaufmanAdaptiveMovingAverage& record, std::size_t size, const Column& values,
                   double* answers) noexcept {
  const std::size_t span = record.window.period;  // period + 1
  const auto one = [&](std::size_t i) { answers[i] = record.update(values[i]); };
  const auto slide = [&](std::size_t i, std::size_t end) {
    double average = record.average, changes = record.changes, peak = record.peak;
    std::size_t j = i;
    for (; j < end; ++j) {
      // The input leaving the window and the one `period` steps back, now
      // its oldest.
      const double x = values[j], old = values[j - span], reference = values[j + 1 - span];
      if (!(std::fabs(x - old) <= std::numeric_limits<double>::max())) [[unlikely]] break;
      const KaufmanAdaptiveMovingAverage::Slide<double> slid = KaufmanAdaptiveMovingAverage::slide(
          changes, peak, std::fabs(x - values[j - 1]), std::fabs(reference - old));
      if (slid.fell) [[unlikely]] break;
      changes = slid.changes;
      peak = slid.peak;
      answers[j] = KaufmanAdaptiveMovingAverage::smooth(x, reference, changes, average);
    }
    record.average = average;
    record.changes = changes;
    record.peak = peak;
    if (j > i) record.last = values[j - 1];
    return j;
  };
  run_from_column(record, record.window, size, values, slide, one);
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::KaufmanAdaptiveMovingAverage>
    : ClassicPeriodIndicator<classic::KaufmanAdaptiveMovingAverage> {
  using R = classic::KaufmanAdaptiveMovingAverage;
  static constexpr const char* kName = "KaufmanAdaptiveMovingAverage";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 30));
};

// The previous input, the count of non-finite inputs and the
// recomputations' pace follow from the window
// and are recomputed on load; the sliding sum is stored as it is. The
// average and the peak are first set with the first answer.
template <>
struct Checkpoint<classic::KaufmanAdaptiveMovingAverage> {
  using R = classic::KaufmanAdaptiveMovingAverage;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), number<&R::average>("average"),
      number<&R::changes>("changes"), derived<&R::last, &R::latest>(),
      number<&R::peak>("peak"), derived<&R::nonfinite, &R::count_nonfinite>(),
      tally<&R::since_exact>("since_exact"),
      derived<&R::exact_every, &R::slides_between_exact>(),
      rule<R>([](const R& r) noexcept { return r.window.period >= 2 && count_within_period(r.window); },
              "the window must hold at least two inputs and the count must not pass it"),
      rule<R>([](const R& r) noexcept { return r.window.count > 1 || r.changes == 0.0; },
              "the sum of changes must be 0 before the second input"),
      rule<R>(
          [](const R& r) noexcept {
            const bool full = r.window.count == r.window.period;
            return full ? r.since_exact < r.slides_between_exact()
                        : r.since_exact == 0 && r.average == 0.0 && r.peak == 0.0;
          },
          "the slides since the last exact computation must be fewer than the larger of the "
          "period and 64, and the average and the peak 0 while the window fills")};
};
static_assert(checkpoint_layout::lists_every_member<classic::KaufmanAdaptiveMovingAverage>());

// The first answer needs the input `period` steps before it; a period of 1
// answers from the first input.
template <>
struct Warmup<classic::KaufmanAdaptiveMovingAverage> {
  using R = classic::KaufmanAdaptiveMovingAverage;
  static std::uint64_t lookback(const R& record) noexcept {
    return record.length() == 1 ? 0 : record.length();
  }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.window.count; }
};

// The fields a full window's step reads and writes, in the order advance()
// takes them. A pair of lanes takes the rule side by side on its common
// path, reading the slot its windows write next.
template <>
struct LaneFields<classic::KaufmanAdaptiveMovingAverage> {
  using R = classic::KaufmanAdaptiveMovingAverage;
  using List = FieldList<&R::window, &R::average, &R::changes, &R::last, &R::peak,
                         &R::nonfinite, &R::since_exact>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

}  // namespace barworks
