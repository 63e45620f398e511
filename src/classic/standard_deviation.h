#pragma once

#include <cmath>
#include <cstdint>

#include "../error.h"
#include "../window.h"
#include "family.h"
#include "../warmup.h"

namespace barworks::classic {

// Windows this short are recomputed every step: it costs no more than a
// slide, and in them two neighbouring inputs can differ by little against
// their level, where a slide would lose digits to the rounded mean.
inline constexpr std::uint32_t kAlwaysExact = 4;

// Population standard deviation (divisor `period`) of the last `period`
// inputs, sqrt(sum((x - mean)^2) / period), kept stable for any length of
// stream: the mean and the sum of squared deviations slide with Welford's
// update (an input added, the one it replaces removed), and both are
// recomputed exactly from the window, two passes, every `period` inputs, so
// rounding error cannot build up beyond one window's worth. A slide leaves
// an error in proportion to the largest sum of squares since the last exact
// computation, so a sum that falls below 1/16 of that peak (a jump leaving
// the window) is recomputed at once too: the relative error stays within a
// few hundred ulps. A window of equal values answers exactly 0.0.
// Lookback period - 1: NaN until the window is full. A NaN or infinite input
// makes the answers NaN while it is in the window; when it leaves, the
// deviation is recomputed from the window and is exact again.
struct StandardDeviation {
  CircularWindow window;
  double reciprocal;            // 1 / period
  double mean;
  double squares;               // sum of squared deviations from the mean
  double peak;                  // largest `squares` since the last exact computation
  double last;                  // the previous input
  std::uint32_t equal_run;      // trailing inputs equal to one another
  std::uint32_t nonfinite;      // NaN and infinite inputs in the window
  std::uint32_t since_exact;    // slides since the last exact recomputation

  static Expected<StandardDeviation> create(std::uint32_t period) noexcept;
  double update(double x) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return window.period; }
  // What `last` and `nonfinite` hold, recomputed from the window. A window
  // not allocated yet (a checkpoint being checked) reads as empty.
  double latest() const noexcept;
  std::uint32_t count_nonfinite() const noexcept;
  double period_reciprocal() const noexcept { return 1.0 / static_cast<double>(window.period); }

 private:
  // Out of line, so that the sliding update stays small enough to be
  // inlined into the loops that call it.
  [[gnu::cold, gnu::noinline]] void recompute() noexcept;
};

// Defined here, not out of line, so that every loop that calls it inlines
// it: called out of line, the record's fields go through memory and the
// stores and reloads around the call put themselves on the path from one
// step to the next.
inline double StandardDeviation::update(double x) noexcept {
  const std::uint32_t period = window.period;
  const bool full = window.count == period;
  const double old = window.push(x);
  equal_run = x == last ? equal_run + 1 : 1;
  last = x;
  const bool old_finite = std::isfinite(old);
  nonfinite += !std::isfinite(x);
  nonfinite -= !old_finite;
  // The sliding state skips every step with a non-finite value in the
  // window and is rebuilt from the window once the last one has left.
  if (nonfinite != 0) [[unlikely]] return kNotYet;

  if (!full) [[unlikely]] {
    const double delta = x - mean;
    mean += delta / static_cast<double>(window.count);
    squares += delta * (x - mean);
    peak = squares;  // only grows while the window fills
    if (window.count < period) return kNotYet;
  } else if (period <= kAlwaysExact || !old_finite || ++since_exact == period) [[unlikely]] {
    recompute();
  } else {
    // Multiplied by the reciprocal rather than divided by the period: the
    // difference is an ulp per slide, which the exact recomputation every
    // `period` slides takes back out, and a division would sit on the
    // path of every step.
    const double delta = x - old;
    const double moved = mean + delta * reciprocal;
    squares += delta * ((x - moved) + (old - mean));
    mean = moved;
    // A maximum, not a branch: a new peak comes at random in a random walk.
    peak = squares > peak ? squares : peak;
    if (squares * 16.0 < peak) [[unlikely]] recompute();
  }
  if (equal_run >= period) [[unlikely]] {
    // Exactly no spread; the state is exact again as well.
    mean = x;
    squares = 0.0;
    peak = 0.0;
    since_exact = 0;
    return 0.0;
  }
  return std::sqrt(squares * reciprocal);
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::StandardDeviation> : ClassicPeriodIndicator<classic::StandardDeviation> {
  static constexpr const char* kName = "StandardDeviation";
};

// The previous input and the count of non-finite inputs follow from the
// window and are recomputed on load. The sliding sums are stored as they
// are: an exact recomputation would round differently. Before the first
// input everything is 0; while the window fills nothing has slid.
template <>
struct Checkpoint<classic::StandardDeviation> {
  using R = classic::StandardDeviation;
  static constexpr auto kFields = std::tuple{
      part<&R::window>("window"), derived<&R::reciprocal, &R::period_reciprocal>(),
      number<&R::mean>("mean"), number<&R::squares>("squares"),
      number<&R::peak>("peak"), derived<&R::last, &R::latest>(), tally<&R::equal_run>("equal_run"),
      derived<&R::nonfinite, &R::count_nonfinite>(), tally<&R::since_exact>("since_exact"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period"),
      rule<R>(
          [](const R& r) noexcept {
            return r.window.count != 0 ||
                   (r.mean == 0.0 && r.squares == 0.0 && r.peak == 0.0 && r.equal_run == 0);
          },
          "the sums and the run of equal inputs must be 0 before the first input"),
      rule<R>(
          [](const R& r) noexcept {
            const bool full = r.window.count == r.window.period;
            return (r.equal_run != 0 || r.window.count == 0) &&
                   (full || r.equal_run <= r.window.count);
          },
          "the run of equal inputs must count the last input and no input before the window's"),
      rule<R>(
          [](const R& r) noexcept {
            const bool full = r.window.count == r.window.period;
            return full ? r.since_exact < r.window.period : r.since_exact == 0;
          },
          "the slides since the last exact computation must be fewer than the period, and none "
          "while the window fills")};
};
static_assert(checkpoint_layout::lists_every_member<classic::StandardDeviation>());

template <>
struct Warmup<classic::StandardDeviation> : WindowWarmup<classic::StandardDeviation> {};

}  // namespace barworks
