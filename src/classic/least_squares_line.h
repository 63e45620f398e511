#pragma once

#include <cmath>
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

// The least-squares line through the last `period` inputs, the oldest at
// x = 0 and the newest at x = period - 1, from which the linear regression
// classes read their answers. With d = input - reference,
//   sum = d1 + ... + dn,  weighted = 1 d1 + 2 d2 + ... + n dn  (oldest first)
//   slope = (weighted - sum (n + 1) / 2) * 12 / (n (n^2 - 1))
// and the line passes through the window's mean at its middle,
// x = (n - 1) / 2. Both sums slide in O(1) (a step takes the plain sum out
// of the weighted one once and adds n times the new input), relative to a
// reference value near the window so that a slide's rounding follows the
// spread, not the price level; both are recomputed exactly from the window
// every `period` inputs (every 64 for shorter windows), where the reference
// moves to the window's rounded mean. A window of equal values is a flat
// line: slope exactly 0.0 and every point exactly that value (so is a
// window of one input). NaN until the window is full; a NaN or infinite
// input makes the answers NaN while it is in the window, and once it has
// left the sums are recomputed from the window.
struct LeastSquaresLine {
  // The sums each step writes are kept apart in memory: side by side, the
  // compiler packs them into one vector register and unpacks it every step.
  CircularWindow window;
  double sum;                   // the window's inputs less the reference
  double reciprocal;            // 1 / n
  double weighted;              // the same, each times its position 1..n
  double newest_weight;         // n
  double reference;             // what the sums are taken from
  double slope_scale;           // 12 / (n (n^2 - 1)); 0 for a window of one
  double middle_weight;         // (n + 1) / 2, the weight at the middle
  std::uint32_t equal_run;      // trailing inputs equal to one another, up to the period
  std::uint32_t nonfinite;      // NaN and infinite inputs in the window
  double last;                  // the previous input
  std::uint32_t since_exact;    // slides since the last exact recomputation
  std::uint32_t exact_every;    // slides between exact recomputations

  // The line after a step: reference + (centre + slope * (x - middle)),
  // where middle = (n - 1) / 2 = half; a lone line or lanes' side by side.
  template <class Number>
  struct Fit {
    Number reference;
    Number centre;  // the mean less the reference
    Number slope;
    double half;    // (n - 1) / 2
    Number at(double from_middle) const noexcept {
      return reference + (centre + slope * from_middle);
    }
  };
  using Line = Fit<double>;

  static Expected<LeastSquaresLine> create(std::uint32_t period) noexcept {
    auto window = CircularWindow::create(period);
    if (!window) return std::unexpected(window.error());
    LeastSquaresLine made{.window = std::move(*window)};
    made.derive();
    return made;
  }
  // A record that embeds the line as its only member (OnLine), made for
  // `period`.
  template <class Thin>
  static Expected<Thin> create_within(std::uint32_t period) noexcept {
    auto made = create(period);
    if (!made) return std::unexpected(made.error());
    return Thin{{}, std::move(*made)};
  }
  // Always inlined: with five records calling it, the compiler would
  // otherwise keep some calls out of line, the fields in memory.
  [[gnu::always_inline]] Line update(double x) noexcept;
  // Full: every step from here on is advance()'s.
  bool steady() const noexcept { return window.count == window.period; }
  // A full window's step, over a number type: a lone window's every step,
  // or a pair of lanes' on the common path (pair_on_common_path).
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Fit<Number> advance(const LeastSquaresLine& shared, Number x,
                                                    Values& window, Number& sum, Number& weighted,
                                                    Number& reference, Count& equal_run,
                                                    Count& nonfinite, Number& last,
                                                    Count& since_exact) noexcept;
  // Both lanes slide (pair_slides), neither input equals the one before,
  // and the window is longer than one input, whose line is always flat.
  template <class Values, class Count>
  static bool pair_on_common_path(const LeastSquaresLine& shared, DoublePair x,
                                  const Values& window, const DoublePair&, const DoublePair&,
                                  const DoublePair&, const Count&, const Count& nonfinite,
                                  const DoublePair& last, const Count& since_exact) noexcept {
    return shared.window.period > 1 && every_lane(x != last) &&
           pair_slides(x, window, nonfinite, since_exact);
  }
  void reset() noexcept {
    window.clear();
    sum = 0.0;
    weighted = 0.0;
    reference = 0.0;
    equal_run = 0;
    nonfinite = 0;
    last = 0.0;
    since_exact = 0;
  }
  std::uint32_t length() const noexcept { return window.period; }

  double period_reciprocal() const noexcept { return 1.0 / static_cast<double>(window.period); }
  double period_weight() const noexcept { return static_cast<double>(window.period); }
  // Widened before multiplying, so that the largest periods do not wrap.
  double period_slope_scale() const noexcept {
    const double n = static_cast<double>(window.period);
    return window.period < 2 ? 0.0 : 12.0 / (n * (n * n - 1.0));
  }
  double period_middle_weight() const noexcept {
    return (static_cast<double>(window.period) + 1.0) * 0.5;
  }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(window.period);
  }
  // What `last` and `nonfinite` hold, recomputed from the window. A window
  // not allocated yet (a checkpoint being checked) reads as empty.
  double latest() const noexcept {
    if (window.count == 0 || window.values.size() == 0) return 0.0;
    return window.values[window.index == 0 ? window.period - 1 : window.index - 1];
  }
  std::uint32_t count_nonfinite() const noexcept { return classic::count_nonfinite(window.values); }

  template <class Number>
  struct Sums {
    Number reference;
    Number sum;
    Number weighted;
  };
  // The reference (the rounded mean) and both sums of a full window whose
  // newest input went to slot `written`. Out of line, and given a handle
  // on the slots rather than the record, so that the record's address
  // never escapes the loops that call update and its fields can stay in
  // registers.
  template <class Number, class Slots>
  [[gnu::cold, gnu::noinline]] static Sums<Number> exact_sums(Slots window, std::uint32_t period,
                                                              std::uint32_t written) noexcept {
    Number plain = splat<Number>(0.0);
    for (std::uint32_t i = 0; i < period; ++i) plain += window.slot(i);
    const Number k = plain / static_cast<double>(period);
    Number s = splat<Number>(0.0), w = splat<Number>(0.0);
    double weight = 1.0;
    for (std::uint32_t step = 0, slot = next_slot(written, period); step < period;
         ++step, weight += 1.0) {
      const Number d = window.slot(slot) - k;
      s += d;
      w += weight * d;
      slot = next_slot(slot, period);
    }
    return {k, s, w};
  }

 private:
  void derive() noexcept {
    reciprocal = period_reciprocal();
    newest_weight = period_weight();
    slope_scale = period_slope_scale();
    middle_weight = period_middle_weight();
    exact_every = slides_between_exact();
  }
  // The line of a full window, exactly flat through x after a run of
  // equal inputs the window's length (which leaves the sums exact again).
  template <class Number, class Count>
  [[gnu::always_inline]] static Fit<Number> fitted(const LeastSquaresLine& shared, Number x,
                                                   const Count& equal_run, Number& sum,
                                                   Number& weighted, Number& reference,
                                                   Count& since_exact) noexcept {
    const double half = shared.middle_weight - 1.0;
    if constexpr (std::is_same_v<Number, double>) {
      if (equal_run >= shared.window.period) [[unlikely]] {
        reference = x;
        sum = 0.0;
        weighted = 0.0;
        since_exact = 0;
        return {x, 0.0, 0.0, half};
      }
    }
    return {reference, sum * shared.reciprocal,
            (weighted - sum * shared.middle_weight) * shared.slope_scale, half};
  }
  Line not_yet() const noexcept { return {kNotYet, kNotYet, kNotYet, middle_weight - 1.0}; }
};

// NaN never enters the sums (a non-finite input in the window stops the
// slide), so no two NaNs meet and the input is taken as it comes.
inline LeastSquaresLine::Line LeastSquaresLine::update(double x) noexcept {
  if (steady()) [[likely]] {
    return advance(*this, x, window, sum, weighted, reference, equal_run, nonfinite, last,
                   since_exact);
  }
  const std::uint32_t period = window.period;
  const double old = window.push(x);
  // Saturates: only a run of a whole window matters.
  equal_run = x == last ? equal_run + (equal_run < period) : 1;
  last = x;
  (void)nonfinite_moved(x, old, x - old, nonfinite);
  if (nonfinite != 0) [[unlikely]] return not_yet();
  if (window.count == 1) reference = x;
  const double d = x - reference;
  sum += d;
  weighted += static_cast<double>(window.count) * d;
  if (window.count < period) return not_yet();
  return fitted(*this, x, equal_run, sum, weighted, reference, since_exact);
}

// The difference is finite whenever both inputs are, so one test keeps the
// count of non-finite inputs off the common path; a difference that
// overflows from finite inputs takes that path too and recomputes.
template <class Number, class Values, class Count>
inline LeastSquaresLine::Fit<Number> LeastSquaresLine::advance(
    const LeastSquaresLine& shared, Number x, Values& window, Number& sum, Number& weighted,
    Number& reference, Count& equal_run, Count& nonfinite, Number& last,
    Count& since_exact) noexcept {
  const std::uint32_t period = shared.window.period;
  const std::uint32_t written = window.write_slot();
  const Number old = window.push(x);
  const Number change = x - old;
  bool rebuild = false;
  if constexpr (std::is_same_v<Number, double>) {
    equal_run = x == last ? equal_run + (equal_run < period) : 1;
    last = x;
    rebuild = nonfinite_moved(x, old, change, nonfinite);
    if (nonfinite != 0) [[unlikely]] return shared.not_yet();
  } else {
    equal_run.assign(1);  // each lane's input differs from the one before
    last = x;
  }
  if (rebuild || exact_due(since_exact, shared.exact_every)) [[unlikely]] {
    const Sums<Number> sums = exact_sums<Number>(window.slots(), period, written);
    reference = sums.reference;
    sum = sums.sum;
    weighted = sums.weighted;
    restart(since_exact);
  } else {
    // One addition on each sum's path from step to step: the term added
    // does not wait for the sum it is added to.
    weighted += shared.newest_weight * (x - reference) - sum;
    sum += change;
  }
  return fitted(shared, x, equal_run, sum, weighted, reference, since_exact);
}

// A record answering from the line it embeds.
template <class Record>
using OnLine = AnsweredFrom<Record, LeastSquaresLine>;

}  // namespace barworks::classic

namespace barworks {

// The fields a full window's step reads and writes, in the order advance()
// takes them. A pair of lanes takes the rule side by side on its common
// path, reading the slot its windows write next.
template <>
struct LaneFields<classic::LeastSquaresLine> {
  using R = classic::LeastSquaresLine;
  using List = FieldList<&R::window, &R::sum, &R::weighted, &R::reference, &R::equal_run,
                         &R::nonfinite, &R::last, &R::since_exact>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};
// A record over the line lays out the line's fields.
template <class Record>
struct LineLanes : LaneFields<classic::LeastSquaresLine> {
  using List = within_all<&Record::line, LaneFields<classic::LeastSquaresLine>::List>;
};

// The factors, the previous input and the count of non-finite inputs
// follow from the window and are recomputed on load; the sliding sums are
// stored as they are, since a recomputation would round differently.
template <>
struct Checkpoint<classic::LeastSquaresLine> {
  using R = classic::LeastSquaresLine;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), number<&R::sum>("sum"),
      derived<&R::reciprocal, &R::period_reciprocal>(), number<&R::weighted>("weighted"),
      derived<&R::newest_weight, &R::period_weight>(), number<&R::reference>("reference"),
      derived<&R::slope_scale, &R::period_slope_scale>(),
      derived<&R::middle_weight, &R::period_middle_weight>(),
      tally<&R::equal_run>("equal_run"), derived<&R::nonfinite, &R::count_nonfinite>(),
      derived<&R::last, &R::latest>(), tally<&R::since_exact>("since_exact"),
      derived<&R::exact_every, &R::slides_between_exact>(),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period"),
      rule<R>(
          [](const R& r) noexcept {
            return r.window.count != 0 || (r.sum == 0.0 && r.weighted == 0.0 &&
                                           r.reference == 0.0 && r.equal_run == 0);
          },
          "the sums and the run of equal inputs must be 0 before the first input"),
      equal_run_rule<R>(),
      since_exact_rule<R>()};
};
static_assert(checkpoint_layout::lists_every_member<classic::LeastSquaresLine>());

// What every record over the line shares: stored as the line, its warm-up
// that of the line's window, and Class(period=14) with period().
template <class Record>
struct LineCheckpoint {
  static constexpr auto kFields = std::tuple{component<&Record::line>("line")};
};

template <class Record>
struct LineClass : ClassicPeriodIndicator<Record> {
  static constexpr auto kConstructor =
      constructor<&Record::create>(with_default("period", 14));
};

}  // namespace barworks
