#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "../error.h"
#include "../lanes.h"
#include "../window.h"
#include "exact_window.h"
#include "family.h"
#include "../nan.h"
#include "../warmup.h"

namespace barworks::classic {

// Population variance (divisor `period`) of the last `period` inputs,
// sum((x - mean)^2) / period, and their mean, exact to a few times 1e-13
// relative at any price level (the deviation, its root, to half that): the
// record that StandardDeviation, Variance and BollingerBands embed. The mean
// and the sum of squared deviations slide with Welford's update (an input
// added, the one it replaces removed), both taken relative to a reference value
// near the window: x - reference is exact for a price near it, so a slide's
// rounding scales with the spread, not the level. Both are recomputed exactly
// from the window, two passes, every `period` inputs (every 64 for shorter
// windows), where the reference moves to the window's rounded mean.
// A slide's rounding is in proportion to the sum of squares it leaves, and
// the slides' errors since the last exact computation add up, so a sum that
// falls below 1 / (16 * slides between exact computations) of the sums the
// slides since have left, added up (a jump leaving the window), is
// recomputed at once too: where a sum stayed at most its peak, that is 1/16
// of the peak after a whole run of slides. A window of equal
// values answers exactly 0.0, its mean exactly that value. NaN until the
// window is full. A NaN or infinite input makes the answers NaN while it is
// in the window; when it leaves, the sums are recomputed from the window and
// are exact again. Squares overflow for spreads near 1e154 (NaN or inf).
struct SlidingVariance {
  // The doubles each step writes are kept apart in memory: side by side,
  // the compiler packs pairs of them into vector registers and unpacks
  // them on every step.
  CircularWindow window;
  double mean;                  // the mean less `reference`
  double reciprocal;            // 1 / period
  double squares;               // sum of squared deviations from the mean
  double reference;             // what `mean` and the deviations are taken from
  double accrued;               // `squares` after each slide since the last exact
                                // computation, and at it, added up
  std::uint32_t equal_run;      // trailing inputs equal to one another, up to the period
  std::uint32_t nonfinite;      // NaN and infinite inputs in the window
  double last;                  // the previous input
  std::uint32_t since_exact;    // slides since the last exact recomputation
  std::uint32_t exact_every;    // slides between exact recomputations

  static Expected<SlidingVariance> create(std::uint32_t period) noexcept;
  // A record over `window` whose sums are computed from its values, with
  // the run of equal inputs that ended it (the rest follows from the window).
  static SlidingVariance rebuilt(CircularWindow&& window, std::uint32_t equal_run) noexcept;
  // The variance after taking x: NaN while the window fills or holds a
  // non-finite value, exactly 0.0 for a window of equal values. Always
  // inlined: with three records calling it, the compiler would otherwise
  // keep one call out of line, its fields in memory.
  [[gnu::always_inline]] double update(double x) noexcept;
  // Once the window is full, update's rule over a number type: a lone
  // record's, a universe's lane's, or a pair of lanes' on the common path
  // (pair_on_common_path), each lane recomputing on its own count. `window`
  // pushes and gives its slots.
  bool steady() const noexcept { return window.count == window.period; }
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Number advance(const SlidingVariance& shared, Number x,
                                               Values& window, Number& mean, Number& squares,
                                               Number& reference, Number& accrued,
                                               Count& equal_run, Count& nonfinite, Number& last,
                                               Count& since_exact) noexcept;
  // A pair of lanes without a non-finite input in their windows or coming
  // in, nor a change that overflows, whose runs of equal inputs cannot fill
  // a window this step. Read before either lane is touched.
  template <class Values, class Count>
  static bool pair_on_common_path(const SlidingVariance& shared, DoublePair x,
                                  const Values& window, const DoublePair&, const DoublePair&,
                                  const DoublePair&, const DoublePair&, const Count& equal_run,
                                  const Count& nonfinite, const DoublePair&,
                                  const Count&) noexcept {
    const std::uint32_t period = shared.window.period;
    const DoublePair change = x - window.slot(window.write_slot());
    const DoublePair largest = splat<DoublePair>(std::numeric_limits<double>::max());
    return (nonfinite[0] | nonfinite[1]) == 0 && equal_run[0] + 1 < period &&
           equal_run[1] + 1 < period && every_lane(absolute(change) <= largest);
  }
  // The window's mean after an update that answered a number.
  double average() const noexcept { return reference + mean; }
  void reset() noexcept;
  std::uint32_t length() const noexcept { return window.period; }
  // What `last` and `nonfinite` hold, recomputed from the window. A window
  // not allocated yet (a checkpoint being checked) reads as empty.
  double latest() const noexcept;
  std::uint32_t count_nonfinite() const noexcept { return classic::count_nonfinite(window.values); }
  double period_reciprocal() const noexcept { return 1.0 / static_cast<double>(window.period); }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(window.period);
  }
  double fall_scale() const noexcept { return 16.0 * static_cast<double>(exact_every); }

  // The reference, the mean and the squares of `size` values (slots
  // 0 .. size - 1 of `values`, read by slot()), computed exactly in two
  // passes.
  template <class Number>
  struct Sums {
    Number reference;
    Number mean;
    Number squares;
  };
  // Out of line, so that the sliding update stays small enough to be
  // inlined into the loops that call it; and given a handle on the slots
  // rather than the record, so that the record's address never escapes
  // those loops and its fields can stay in registers.
  template <class Number, class Slots>
  [[gnu::cold, gnu::noinline]] static Sums<Number> exact_sums(Slots values, std::uint32_t size,
                                                              double n) noexcept;

  // A full window's slide by x, which replaced `old` (delta = x - old), from
  // the mean, squares and accrued squares before it; `fell` when the
  // squares fell below 1 / `fall_scale` (16 times the slides between exact
  // computations) of the accrued squares, which calls for an exact
  // recomputation.
  // Multiplied by the reciprocal rather than divided by the period: the
  // difference is an ulp per slide, which the exact recomputation every
  // `period` slides takes back out, and a division would sit on the path
  // of every step.
  template <class Number>
  struct Slide {
    Number mean;
    Number squares;
    Number accrued;
    decltype(Number{} < Number{}) fell;
  };
  template <class Number>
  [[gnu::always_inline]] static Slide<Number> slide(Number x, Number old, Number delta,
                                                    double reciprocal, Number reference,
                                                    Number mean, Number squares, Number accrued,
                                                    double fall_scale) noexcept {
    const Number moved = mean + delta * reciprocal;
    const Number slid = squares + delta * (((x - reference) - moved) + ((old - reference) - mean));
    const Number total = accrued + slid;
    return {moved, slid, total, slid * fall_scale < total};
  }

 private:
  // What every step does first: x into the window and the run of equal
  // inputs; the change against the input x replaced, and whether it moved
  // the count of non-finite inputs (nonfinite_moved).
  // (A pair of lanes counts no non-finite inputs: it takes none.)
  template <class Number>
  struct Taken {
    Number old;
    Number delta;
    bool rebuild;
  };
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Taken<Number> take(std::uint32_t period, Number x,
                                                   Values& window, Count& equal_run,
                                                   Count& nonfinite, Number& last) noexcept {
    const Number old = window.push(x);
    extend_run(equal_run, x == last, period);
    last = x;
    // The difference is finite whenever both inputs are, so one test keeps
    // the count of non-finite inputs off the common path. A difference that
    // overflows from finite inputs takes that path too and recomputes.
    const Number delta = x - old;
    if constexpr (std::is_same_v<Number, double>) {
      return {old, delta, nonfinite_moved(x, old, delta, nonfinite)};
    } else {
      return {old, delta, false};
    }
  }
  [[gnu::cold]] void recompute() noexcept {
    const Sums<double> sums =
        exact_sums<double>(window.slots(), window.period, static_cast<double>(window.period));
    reference = sums.reference;
    mean = sums.mean;
    squares = sums.squares;
    accrued = squares;
    since_exact = 0;
  }
  void take_while_filling(double x) noexcept {
    if (window.count == 1) reference = x;
    const double deviation = x - reference;
    const double delta = deviation - mean;
    mean += delta / static_cast<double>(window.count);
    squares += delta * (deviation - mean);
    accrued = squares;  // the sums start from the full window's
  }
  // Exactly no spread; the state is exact again as well.
  static double zero_spread(double x, double& reference, double& mean, double& squares,
                            double& accrued, std::uint32_t& since_exact) noexcept {
    reference = x;
    mean = 0.0;
    squares = 0.0;
    accrued = 0.0;
    since_exact = 0;
    return 0.0;
  }
  void zero_spread(double x) noexcept {
    (void)zero_spread(x, reference, mean, squares, accrued, since_exact);
  }
};

// Defined here, not out of line, so that every loop that calls it inlines
// it: called out of line, the record's fields go through memory and the
// stores and reloads around the call put themselves on the path from one
// step to the next.
// NaN never enters the sums (a non-finite input in the window stops the
// slide), so no two NaNs meet and the input is taken as it comes.
inline double SlidingVariance::update(double x) noexcept {
  if (steady()) [[likely]] {
    return advance(*this, x, window, mean, squares, reference, accrued, equal_run, nonfinite, last,
                   since_exact);
  }
  const std::uint32_t period = window.period;
  (void)take(period, x, window, equal_run, nonfinite, last);
  // The sliding state skips every step with a non-finite value in the
  // window and is rebuilt from the window once the last one has left.
  if (nonfinite != 0) [[unlikely]] return kNotYet;
  take_while_filling(x);
  if (window.count < period) return kNotYet;
  if (equal_run >= period) [[unlikely]] {
    return zero_spread(x, reference, mean, squares, accrued, since_exact);
  }
  return squares * reciprocal;
}

template <class Number, class Values, class Count>
[[gnu::always_inline]] inline Number SlidingVariance::advance(
    const SlidingVariance& shared, Number x, Values& window, Number& mean, Number& squares,
    Number& reference, Number& accrued, Count& equal_run, Count& nonfinite, Number& last,
    Count& since_exact) noexcept {
  const std::uint32_t period = shared.window.period;
  const Taken<Number> taken = take(period, x, window, equal_run, nonfinite, last);
  if constexpr (std::is_same_v<Number, double>) {
    if (nonfinite != 0) [[unlikely]] return kNotYet;
  }
  // Recomputed where a recomputation is due or the slide fell, lane by
  // lane, the count then starting again. In place, not through a function
  // given the fields' addresses: those would live in memory throughout the
  // step.
  decltype(x < x) where =
      lanes_where<Number>(taken.rebuild) | exact_due_each(since_exact, shared.exact_every);
  if (!every_lane(where)) [[likely]] {
    const Slide<Number> slid = slide(x, taken.old, taken.delta, shared.reciprocal, reference,
                                     mean, squares, accrued, shared.fall_scale());
    mean = slid.mean;
    squares = slid.squares;
    accrued = slid.accrued;
    where = where | slid.fell;
  }
  if (any_lane(where)) [[unlikely]] {
    const Sums<Number> sums =
        exact_sums<Number>(window.slots(), period, static_cast<double>(period));
    reference = select(where, sums.reference, reference);
    mean = select(where, sums.mean, mean);
    squares = select(where, sums.squares, squares);
    accrued = select(where, sums.squares, accrued);
    restart(since_exact, where);
  }
  if constexpr (std::is_same_v<Number, double>) {
    if (equal_run >= period) [[unlikely]] {
      return zero_spread(x, reference, mean, squares, accrued, since_exact);
    }
  }
  return squares * shared.reciprocal;
}

template <class Number, class Slots>
SlidingVariance::Sums<Number> SlidingVariance::exact_sums(Slots values, std::uint32_t size,
                                                          double n) noexcept {
  // Each pass keeps four partial sums side by side, in locals the compiler
  // keeps in registers: one sum is a chain of additions, each waiting for
  // the last, and four chains take a quarter of the time. The order of the
  // additions does not matter to the accuracy wanted here, only that each
  // pass sums every value once.
  const std::uint32_t whole = size - size % 4;

  const Number zero = splat<Number>(0.0);
  Number s0 = zero, s1 = zero, s2 = zero, s3 = zero;
  for (std::uint32_t i = 0; i < whole; i += 4) {
    s0 += values.slot(i);
    s1 += values.slot(i + 1);
    s2 += values.slot(i + 2);
    s3 += values.slot(i + 3);
  }
  for (std::uint32_t i = whole; i < size; ++i) s0 += values.slot(i);
  // Any value near the window serves as the reference; the rounded mean
  // leaves the smallest deviations.
  const Number k = ((s0 + s1) + (s2 + s3)) / n;

  // The deviations from the rounded mean sum to n times its rounding error;
  // taking that back out keeps a small spread around a large level exact.
  Number d0 = zero, d1 = zero, d2 = zero, d3 = zero;
  Number q0 = zero, q1 = zero, q2 = zero, q3 = zero;
  for (std::uint32_t i = 0; i < whole; i += 4) {
    const Number e0 = values.slot(i) - k, e1 = values.slot(i + 1) - k;
    const Number e2 = values.slot(i + 2) - k, e3 = values.slot(i + 3) - k;
    d0 += e0;
    d1 += e1;
    d2 += e2;
    d3 += e3;
    q0 += e0 * e0;
    q1 += e1 * e1;
    q2 += e2 * e2;
    q3 += e3 * e3;
  }
  for (std::uint32_t i = whole; i < size; ++i) {
    const Number e = values.slot(i) - k;
    d0 += e;
    q0 += e * e;
  }
  const Number deviations = (d0 + d1) + (d2 + d3);
  return {k, deviations / n, ((q0 + q1) + (q2 + q3)) - deviations * deviations / n};
}

// Whether every input from `first` up to `end` differs from the one before
// it and changes finitely against the one `period` before it, two inputs
// at a time.
template <class Column>
bool changes_and_differs(const Column& values, std::size_t first, std::size_t end,
                         std::uint32_t period) noexcept {
  const auto holds = [&]<class Number>(Number x, Number before, Number back) noexcept {
    const Number largest = splat<Number>(std::numeric_limits<double>::max());
    return (x != before) & (absolute(x - back) <= largest);
  };
  LaneMask all = ~LaneMask{};
  std::size_t k = first;
  for (; k + 2 <= end; k += 2) {
    all &= holds(values.pair(k), values.pair(k - 1), values.pair(k - period));
  }
  return every_lane(all) && (k == end || holds(values[k], values[k - 1], values[k - period]));
}

// A batch of inputs from a column through `record`, as that many updates
// would take them, each step's variance and the window's mean going to
// answer(i, variance, mean): slid from the column (run_from_column), where
// a sum falling below its share of the accrued squares or a run of equal inputs filling
// the window also ends a stretch.
template <class Column, class Answer>
[[gnu::always_inline]] inline void run_sliding_variance(SlidingVariance& record, std::size_t size,
                                                        const Column& values,
                                                        Answer answer) noexcept {
  const std::uint32_t period = record.window.period;
  const auto one = [&](std::size_t i) {
    const double variance = record.update(values[i]);
    answer(i, variance, record.average());
  };
  // Blocks whose inputs all differ from the ones before them and change
  // finitely step without watching for either: the last block checked ends
  // before `checked_end`.
  constexpr std::size_t kBlock = 64;
  std::size_t checked_end = 0;
  bool checked_clean = false;
  // A window this short is recomputed in place, from the column: leaving
  // the slide for update costs more than the recomputation, and a short
  // window's sums fall below their share of the accrued ones every few
  // hundred steps.
  constexpr std::uint32_t kInPlaceLimit = 256;
  const bool in_place = period <= kInPlaceLimit;
  const auto slide = [&](std::size_t i, std::size_t end) {
    const double reciprocal = record.reciprocal, fall_scale = record.fall_scale();
    const std::uint32_t exact_every = record.exact_every;
    double reference = record.reference, mean = record.mean, squares = record.squares;
    double accrued = record.accrued, last = record.last;
    std::uint32_t equal_run = record.equal_run, since_exact = record.since_exact;
    // Copies, so that the compiler keeps their pointers in registers.
    const Column column = values;
    Answer emit = answer;
    // The window's write slot before step i, from which the slot of each
    // input follows.
    const std::uint32_t first_slot = record.window.index;
    // The sums from the window after step j, its values in slot order, as
    // update recomputes them; by value, as a sum whose address escaped
    // would live in memory throughout the slide.
    const auto recompute = [&](std::size_t j) {
      double slots[kInPlaceLimit];
      const auto oldest = static_cast<std::uint32_t>((first_slot + (j + 1 - i)) % period);
      for (std::uint32_t s = 0; s < oldest; ++s) slots[s] = column[j + 1 - oldest + s];
      for (std::uint32_t s = oldest; s < period; ++s) {
        slots[s] = column[j + 1 - period + (s - oldest)];
      }
      const SlidingVariance::Sums<double> sums = SlidingVariance::exact_sums<double>(
          CircularWindow::Slots{slots}, period, static_cast<double>(period));
      reference = sums.reference;
      mean = sums.mean;
      squares = sums.squares;
      accrued = squares;
      since_exact = 0;
    };
    const auto slid_by = [&](std::size_t j) {
      const double x = column[j], old = column[j - period];
      return SlidingVariance::slide(x, old, x - old, reciprocal, reference, mean, squares, accrued,
                                    fall_scale);
    };
    // Step j's sums as update takes them: the slide, or a recomputation
    // where one falls due or the slide fell. False, with nothing taken,
    // where that recomputation is for update (a window too long for here).
    const auto take_sums = [&](std::size_t j) {
      if (since_exact + 1 == exact_every) [[unlikely]] {
        if (!in_place) return false;
        recompute(j);
        return true;
      }
      const SlidingVariance::Slide<double> slid = slid_by(j);
      if (slid.fell) [[unlikely]] {
        if (!in_place) return false;
        recompute(j);
        return true;
      }
      mean = slid.mean;
      squares = slid.squares;
      accrued = slid.accrued;
      ++since_exact;
      return true;
    };
    // Step j from the column, unless it would leave the common path: an
    // overflowing change, a run of equal inputs filling the window, or a
    // recomputation for update.
    const auto step = [&](std::size_t j) {
      const double x = column[j], old = column[j - period];
      if (!(std::fabs(x - old) <= std::numeric_limits<double>::max())) [[unlikely]] return false;
      std::uint32_t run = equal_run;
      extend_run(run, x == last, period);
      if (run >= period || !take_sums(j)) [[unlikely]] return false;
      equal_run = run;
      last = x;
      emit(j, squares * reciprocal, reference + mean);
      return true;
    };
    // Steps j up to `stop` of a checked block, which leave no run of equal
    // inputs as long as a window of two or more: the slides between
    // recomputations in a loop with nothing else to watch. Returns the
    // step it stopped before, as step() would.
    const auto clean_stretch = [&](std::size_t j, std::size_t stop) {
      const std::size_t first = j;
      while (j < stop) {
        const std::size_t from = j;
        const std::size_t bound =
            std::min<std::size_t>(stop, j + (exact_every - 1 - since_exact));
        for (; j < bound; ++j) {
          const SlidingVariance::Slide<double> slid = slid_by(j);
          if (slid.fell) [[unlikely]] break;
          mean = slid.mean;
          squares = slid.squares;
          accrued = slid.accrued;
          emit(j, squares * reciprocal, reference + mean);
        }
        since_exact += static_cast<std::uint32_t>(j - from);
        if (j == stop || !take_sums(j)) break;
        emit(j, squares * reciprocal, reference + mean);
        ++j;
      }
      if (j > first) {
        equal_run = 1;
        last = column[j - 1];
      }
      return j;
    };
    std::size_t j = i;
    for (bool going = true; going && j < end;) {
      if (j >= checked_end) {
        checked_end = std::min(size, j + kBlock);
        checked_clean = changes_and_differs(values, j, checked_end, period);
      }
      const std::size_t stop = std::min(end, checked_end);
      if (checked_clean && period > 1) {
        j = clean_stretch(j, stop);
        going = j == stop;
      } else {
        while (j < stop && (going = step(j))) ++j;
      }
    }
    record.reference = reference;
    record.mean = mean;
    record.squares = squares;
    record.accrued = accrued;
    record.last = last;
    record.equal_run = equal_run;
    record.since_exact = since_exact;
    return j;
  };
  run_from_column<true>(record, record.window, size, values, slide, one);
}

}  // namespace barworks::classic

namespace barworks {

// The previous input and the count of non-finite inputs follow from the
// window and are recomputed on load. The sliding sums are stored as they
// are: an exact recomputation would round differently. Before the first
// input everything is 0; while the window fills nothing has slid.
template <>
struct Checkpoint<classic::SlidingVariance> {
  using R = classic::SlidingVariance;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), number<&R::mean>("mean"),
      derived<&R::reciprocal, &R::period_reciprocal>(), number<&R::squares>("squares"),
      // Stored under its former name: it held the largest sum since the last
      // exact computation, which a loaded state takes as the accrued sums.
      number<&R::reference>("reference"), number<&R::accrued>("peak"),
      tally<&R::equal_run>("equal_run"), derived<&R::nonfinite, &R::count_nonfinite>(),
      derived<&R::last, &R::latest>(), tally<&R::since_exact>("since_exact"),
      derived<&R::exact_every, &R::slides_between_exact>(),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period"),
      rule<R>(
          [](const R& r) noexcept {
            return r.window.count != 0 ||
                   (r.reference == 0.0 && r.mean == 0.0 && r.squares == 0.0 &&
                    r.accrued == 0.0 && r.equal_run == 0);
          },
          "the sums and the run of equal inputs must be 0 before the first input"),
      equal_run_rule<R>(),
      since_exact_rule<R>()};
};
static_assert(checkpoint_layout::lists_every_member<classic::SlidingVariance>());

// The fields a full window's step reads and writes, in the order advance()
// takes them. A pair of lanes takes the rule side by side on its common
// path, reading the slot its windows write next.
template <>
struct LaneFields<classic::SlidingVariance> {
  using R = classic::SlidingVariance;
  using List = FieldList<&R::window, &R::mean, &R::squares, &R::reference, &R::accrued,
                         &R::equal_run, &R::nonfinite, &R::last, &R::since_exact>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

}  // namespace barworks
