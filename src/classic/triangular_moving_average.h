#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "../error.h"
#include "../warmup.h"
#include "../window.h"
#include "exact_window.h"
#include "family.h"

namespace barworks::classic {

// Triangular moving average, the simple average of simple averages:
// SMA(m) of SMA(m) for an odd period n = 2m - 1, SMA(m + 1) of SMA(m) for
// an even one n = 2m. Over the window of n inputs this is one weighted sum,
// the weights rising 1, 2, ... m from either end (m twice in the middle for
// an even period), divided by their total m m or m (m + 1):
//   n = 5: (x1 + 2 x2 + 3 x3 + 2 x4 + x5) / 9
//   n = 4: (x1 + 2 x2 + 2 x3 + x4) / 6
// The weighted sum slides in O(1) on two plain sums, of the newest m - 1
// inputs (whose weights rise by one a step) and of the oldest m (whose
// weights fall by one); all three are recomputed from the window every
// `period` inputs (every 64 for shorter windows), so rounding cannot build
// up beyond a few ulps. Lookback period - 1: NaN until the window is full.
// NaN inputs before the first number are skipped without counting; a later
// NaN or infinite input makes the answers NaN while it is in the window,
// and once it has left the sums are recomputed from the window.
struct TriangularMovingAverage {
  CircularWindow window;
  // The sums each step writes are kept apart in memory: side by side, the
  // compiler packs them into vector registers and unpacks them every step.
  double newer;                 // the newest m - 1 inputs
  double scale;                 // 1 / (m m) or 1 / (m (m + 1))
  double weighted;              // the window's inputs, each times its weight
  double older;                 // the oldest m inputs
  std::uint32_t nonfinite;      // NaN and infinite inputs in the window
  std::uint32_t since_exact;    // slides since the last exact recomputation
  std::uint32_t exact_every;    // slides between exact recomputations

  static Expected<TriangularMovingAverage> create(std::uint32_t period) noexcept {
    auto window = CircularWindow::create(period);
    if (!window) return std::unexpected(window.error());
    TriangularMovingAverage made{std::move(*window), 0.0, 0.0, 0.0, 0.0, 0, 0, 0};
    made.scale = made.weight_scale();
    made.exact_every = made.slides_between_exact();
    return made;
  }
  double update(double x) noexcept;
  void reset() noexcept {
    window.clear();
    newer = 0.0;
    weighted = 0.0;
    older = 0.0;
    nonfinite = 0;
    since_exact = 0;
  }
  std::uint32_t length() const noexcept { return window.period; }
  // m: the largest weight, and the count of the oldest inputs whose
  // weights fall.
  std::uint32_t peak_weight() const noexcept { return (window.period + 1) / 2; }
  // Multiplied by, not divided by: a division would bound the loop's pace.
  double weight_scale() const noexcept {
    const double m = static_cast<double>(peak_weight());
    const double other = static_cast<double>(window.period + 1 - peak_weight());
    return 1.0 / (m * other);
  }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(window.period);
  }
  std::uint32_t count_nonfinite() const noexcept { return classic::count_nonfinite(window.values); }
  // A full window's slide by x, which replaced `old`: every weight on the
  // rising side goes up by one and every weight on the falling side down by
  // one; the new input comes in at weight 1. `leaves_newer` is the input
  // now m steps old, `joins_older` the one n - m steps old (the same one for
  // an odd n; for n = 1 and 2 both are x, and the newer sum stays 0).
  template <class Number>
  [[gnu::always_inline]] static Number slide(Number x, Number old, Number leaves_newer,
                                             Number joins_older, Number& newer, Number& weighted,
                                             Number& older, double scale) noexcept {
    weighted += (x + newer) - older;
    newer += x - leaves_newer;
    older += joins_older - old;
    return weighted * scale;
  }
  // Full: every step from here on is advance()'s.
  bool steady() const noexcept { return window.count == window.period; }
  // A full window's step, over a number type: a lone window's every step,
  // or a pair of lanes' on the common path (pair_on_common_path).
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Number advance(const TriangularMovingAverage& shared, Number x,
                                               Values& window, Number& newer, Number& weighted,
                                               Number& older, Count& nonfinite,
                                               Count& since_exact) noexcept;
  template <class Values, class Count>
  static bool pair_on_common_path(const TriangularMovingAverage&, DoublePair x,
                                  const Values& window, const DoublePair&, const DoublePair&,
                                  const DoublePair&, const Count& nonfinite,
                                  const Count& since_exact) noexcept {
    return pair_slides(x, window, nonfinite, since_exact);
  }

 private:
  template <class Number>
  struct Sums {
    Number newer;
    Number weighted;
    Number older;
  };
  // The three sums from the window, oldest input first (at `oldest`). Out
  // of line, and given a handle on the slots rather than the record, so
  // that the record's address never escapes the loops that call update.
  template <class Number, class Slots>
  [[gnu::cold, gnu::noinline]] static Sums<Number> exact_sums(Slots window, std::uint32_t period,
                                                              std::uint32_t m,
                                                              std::uint32_t oldest) noexcept {
    Number young = splat<Number>(0.0), old = splat<Number>(0.0);
    Number times_weight = splat<Number>(0.0);
    for (std::uint32_t step = 0, slot = oldest; step < period; ++step) {
      const std::uint32_t age = period - 1 - step;  // 0 for the newest
      const std::uint32_t weight = std::min(std::min(age + 1, period - age), m);
      const Number value = window.slot(slot);
      times_weight += static_cast<double>(weight) * value;
      if (age + 1 < m) young += value;
      if (age >= period - m) old += value;
      slot = next_slot(slot, period);
    }
    return {young, times_weight, old};
  }
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Number recompute(const TriangularMovingAverage& shared,
                                                 const Values& window, std::uint32_t oldest,
                                                 Number& newer, Number& weighted, Number& older,
                                                 Count& since_exact) noexcept {
    const Sums<Number> sums =
        exact_sums<Number>(window.slots(), shared.window.period, shared.peak_weight(), oldest);
    newer = sums.newer;
    weighted = sums.weighted;
    older = sums.older;
    restart(since_exact);
    return weighted * shared.scale;
  }
  // The slot `offset` after `oldest`.
  static std::uint32_t slot_after(std::uint32_t oldest, std::uint32_t offset,
                                  std::uint32_t period) noexcept {
    const std::uint32_t slot = oldest + offset;
    return slot >= period ? slot - period : slot;
  }
};

// NaN never enters the sums (a non-finite input in the window stops the
// slide), so no two NaNs meet and the input is taken as it comes.
inline double TriangularMovingAverage::update(double x) noexcept {
  if (steady()) [[likely]] {
    return advance(*this, x, window, newer, weighted, older, nonfinite, since_exact);
  }
  if (window.count == 0 && x != x) [[unlikely]] return kNotYet;
  const double old = window.push(x);
  (void)nonfinite_moved(x, old, x - old, nonfinite);
  if (nonfinite != 0 || window.count < window.period) [[unlikely]] return kNotYet;
  return recompute(*this, window, window.index, newer, weighted, older, since_exact);
}

// The difference is finite whenever both inputs are, so one test keeps the
// count of non-finite inputs off the common path; a difference that
// overflows from finite inputs takes that path too and recomputes.
template <class Number, class Values, class Count>
inline Number TriangularMovingAverage::advance(const TriangularMovingAverage& shared, Number x,
                                               Values& window, Number& newer, Number& weighted,
                                               Number& older, Count& nonfinite,
                                               Count& since_exact) noexcept {
  const std::uint32_t period = shared.window.period;
  // After the push the oldest input is in the slot after the newest.
  const std::uint32_t oldest = next_slot(window.write_slot(), period);
  const Number old = window.push(x);
  if constexpr (std::is_same_v<Number, double>) {
    const bool rebuild = nonfinite_moved(x, old, x - old, nonfinite);
    if (nonfinite != 0) [[unlikely]] return kNotYet;
    if (rebuild) [[unlikely]] {
      return recompute(shared, window, oldest, newer, weighted, older, since_exact);
    }
  }
  if (exact_due(since_exact, shared.exact_every)) [[unlikely]] {
    return recompute(shared, window, oldest, newer, weighted, older, since_exact);
  }
  const std::uint32_t m = shared.peak_weight();
  const Number leaves_newer = window.slot(slot_after(oldest, period - m, period));
  const Number joins_older = window.slot(slot_after(oldest, m - 1, period));
  return slide(x, old, leaves_newer, joins_older, newer, weighted, older, shared.scale);
}

// A batch of inputs from a column, as that many updates would answer them,
// slid from the column where they can be (run_from_column).
template <class Column>
void answer_values(TriangularMovingAverage& record, std::size_t size, const Column& values,
                   double* answers) noexcept {
  const std::size_t period = record.window.period, m = record.peak_weight();
  const auto one = [&](std::size_t i) { answers[i] = record.update(values[i]); };
  const auto slide = [&](std::size_t i, std::size_t end) {
    double newer = record.newer, weighted = record.weighted, older = record.older;
    const double scale = record.scale;
    std::size_t j = i;
    for (; j < end; ++j) {
      // In the column, the input leaving the newer sum is m - 1 before x,
      // and the one joining the older sum m after the one x replaces.
      const double x = values[j], old = values[j - period];
      if (!(std::fabs(x - old) <= std::numeric_limits<double>::max())) [[unlikely]] break;
      answers[j] = TriangularMovingAverage::slide(x, old, values[j + 1 - m],
                                                  values[j - period + m], newer, weighted,
                                                  older, scale);
    }
    record.newer = newer;
    record.weighted = weighted;
    record.older = older;
    return j;
  };
  run_from_column(record, record.window, size, values, slide, one);
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::TriangularMovingAverage>
    : ClassicPeriodIndicator<classic::TriangularMovingAverage> {
  using R = classic::TriangularMovingAverage;
  static constexpr const char* kName = "TriangularMovingAverage";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 30));
};

// The factor, the count of non-finite inputs and the recomputations' pace
// follow from the window and are recomputed on load; the sliding sums are
// stored as they are. The sums are first computed when the window fills.
template <>
struct Checkpoint<classic::TriangularMovingAverage> {
  using R = classic::TriangularMovingAverage;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), number<&R::newer>("newer"),
      derived<&R::scale, &R::weight_scale>(), number<&R::weighted>("weighted"),
      number<&R::older>("older"), derived<&R::nonfinite, &R::count_nonfinite>(),
      tally<&R::since_exact>("since_exact"),
      derived<&R::exact_every, &R::slides_between_exact>(),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period"),
      rule<R>(
          [](const R& r) noexcept {
            return r.window.count == r.window.period ||
                   (r.newer == 0.0 && r.weighted == 0.0 && r.older == 0.0);
          },
          "the sums must be 0 until the window is full"),
      since_exact_rule<R>()};
};
static_assert(checkpoint_layout::lists_every_member<classic::TriangularMovingAverage>());

template <>
struct Warmup<classic::TriangularMovingAverage>
    : WindowWarmup<classic::TriangularMovingAverage> {};

// The fields a full window's step reads and writes, in the order advance()
// takes them. A pair of lanes takes the rule side by side on its common
// path, reading the slots its windows write next.
template <>
struct LaneFields<classic::TriangularMovingAverage> {
  using R = classic::TriangularMovingAverage;
  using List = FieldList<&R::window, &R::newer, &R::weighted, &R::older, &R::nonfinite,
                         &R::since_exact>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

}  // namespace barworks
