#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
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
  [[gnu::always_inline]] static double slide(double x, double old, double leaves_newer,
                                             double joins_older, double& newer, double& weighted,
                                             double& older, double scale) noexcept {
    weighted += (x + newer) - older;
    newer += x - leaves_newer;
    older += joins_older - old;
    return weighted * scale;
  }

 private:
  // From the oldest input (the next slot to be written) to the newest.
  [[gnu::cold, gnu::noinline]] void recompute() noexcept {
    const std::uint32_t period = window.period, m = peak_weight();
    double young = 0.0, old = 0.0, times_weight = 0.0;
    for (std::uint32_t step = 0, slot = window.index; step < period; ++step) {
      const std::uint32_t age = period - 1 - step;  // 0 for the newest
      const std::uint32_t weight = std::min(std::min(age + 1, period - age), m);
      const double value = window.values[slot];
      times_weight += static_cast<double>(weight) * value;
      if (age + 1 < m) young += value;
      if (age >= period - m) old += value;
      slot = next_slot(slot, period);
    }
    newer = young;
    older = old;
    weighted = times_weight;
    since_exact = 0;
  }
  std::uint32_t slot_at(std::uint32_t offset) const noexcept {
    const std::uint32_t slot = window.index + offset;
    return slot >= window.period ? slot - window.period : slot;
  }
};

// NaN never enters the sums (a non-finite input in the window stops the
// slide), so no two NaNs meet and the input is taken as it comes.
inline double TriangularMovingAverage::update(double x) noexcept {
  if (window.count == 0 && x != x) [[unlikely]] return kNotYet;
  const std::uint32_t period = window.period;
  const bool full = window.count == period;
  const double old = window.push(x);
  // The difference is finite whenever both inputs are, so one test keeps
  // the count of non-finite inputs off the common path; a difference that
  // overflows from finite inputs takes that path too and recomputes.
  const bool rebuild = nonfinite_moved(x, old, x - old, nonfinite);
  if (nonfinite != 0) [[unlikely]] return kNotYet;
  if (!full) [[unlikely]] {
    if (window.count < period) return kNotYet;
    recompute();
    return weighted * scale;
  }
  if (rebuild || ++since_exact == exact_every) [[unlikely]] {
    recompute();
    return weighted * scale;
  }
  // After the push the newest input is one slot before the write slot.
  const std::uint32_t m = peak_weight();
  return slide(x, old, window.values[slot_at(period - m)], window.values[slot_at(m - 1)],
               newer, weighted, older, scale);
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

}  // namespace barworks
