// The sliding means and co-moments of the last `period` pairs (x, y), shared
// by Correlation and Beta. Not a class of its own.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "../checkpoint.h"
#include "../error.h"
#include "../window.h"
#include "exact_window.h"

namespace barworks::classic {

// Sxx, Syy and Sxy, the sums of squared and crossed deviations from the
// means, over the last `period` pairs. As the classic StandardDeviation,
// they slide relative to a reference value near each window (x - reference
// is exact for a price near it, so a slide's rounding scales with the
// spread, not the level) and are recomputed exactly from the windows every
// `period` slides (every 64 for shorter windows), or at once when Sxx or Syy
// falls below 1/16 of its peak since the last recomputation, since a slide's
// error is in proportion to that peak. A side whose last `period` inputs
// are all equal has exactly no spread: its sums are set to 0. A NaN or
// infinite input stops the slide while it is in its window; once the last
// has left, the sums are recomputed from the windows.
struct CoMoments {
  CircularWindow xs;
  CircularWindow ys;
  double mean_x;       // the mean of x less reference_x
  double mean_y;
  double reciprocal;   // 1 / period
  double squares_x;    // Sxx
  double squares_y;    // Syy
  double products;     // Sxy
  double reference_x;
  double reference_y;
  double peak_x;       // the largest Sxx since the last exact computation
  double peak_y;
  double last_x;       // the previous inputs
  double last_y;
  std::uint32_t run_x;        // trailing equal x, up to the period
  std::uint32_t run_y;
  std::uint32_t nonfinite;    // NaN and infinite inputs in both windows
  std::uint32_t since_exact;  // slides since the last exact computation
  std::uint32_t exact_every;  // slides between exact computations

  static Expected<CoMoments> create(std::uint32_t period) noexcept {
    auto xs = CircularWindow::create(period);
    if (!xs) return std::unexpected(xs.error());
    auto ys = CircularWindow::create(period);
    if (!ys) return std::unexpected(ys.error());
    CoMoments made{.xs = std::move(*xs), .ys = std::move(*ys)};
    made.reciprocal = made.period_reciprocal();
    made.exact_every = made.slides_between_exact();
    return made;
  }
  // Takes one pair; true when both windows are full and finite, so that the
  // sums describe them.
  bool take(double x, double y) noexcept;
  void reset() noexcept {
    xs.clear();
    ys.clear();
    mean_x = mean_y = squares_x = squares_y = products = 0.0;
    reference_x = reference_y = peak_x = peak_y = last_x = last_y = 0.0;
    run_x = run_y = nonfinite = since_exact = 0;
  }
  // Whether a side has had no spread over the whole window.
  bool flat() const noexcept { return run_x >= xs.period || run_y >= xs.period; }
  bool flat_x() const noexcept { return run_x >= xs.period; }

  double period_reciprocal() const noexcept { return 1.0 / static_cast<double>(xs.period); }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(xs.period);
  }
  // What the derived members hold, from the windows; a window not allocated
  // yet (a checkpoint being checked) reads as empty.
  double newest_x() const noexcept { return newest(xs); }
  double newest_y() const noexcept { return newest(ys); }
  std::uint32_t count_nonfinite() const noexcept {
    return classic::count_nonfinite(xs.values) + classic::count_nonfinite(ys.values);
  }

  struct Sums {
    double reference_x, reference_y, mean_x, mean_y, squares_x, squares_y, products;
  };
  // Out of line and given the windows, not the record, so that the record's
  // fields can stay in registers in the loops that inline `take`.
  [[gnu::cold, gnu::noinline]] static Sums exact_sums(const double* xs, const double* ys,
                                                      std::uint32_t size, double n) noexcept;

 private:
  static double newest(const CircularWindow& window) noexcept {
    if (window.count == 0 || window.values.size() == 0) return 0.0;
    return window.values[window.index == 0 ? window.period - 1 : window.index - 1];
  }
  void recompute() noexcept {
    const Sums sums = exact_sums(xs.values.begin(), ys.values.begin(), xs.values.size(),
                                 static_cast<double>(xs.period));
    reference_x = sums.reference_x;
    reference_y = sums.reference_y;
    mean_x = sums.mean_x;
    mean_y = sums.mean_y;
    squares_x = peak_x = sums.squares_x;
    squares_y = peak_y = sums.squares_y;
    products = sums.products;
    since_exact = 0;
  }
  void take_while_filling(double x, double y) noexcept {
    if (xs.count == 1) {
      reference_x = x;
      reference_y = y;
    }
    const double n = static_cast<double>(xs.count);
    const double dx = (x - reference_x) - mean_x;
    const double dy = (y - reference_y) - mean_y;
    mean_x += dx / n;
    mean_y += dy / n;
    squares_x += dx * ((x - reference_x) - mean_x);
    squares_y += dy * ((y - reference_y) - mean_y);
    products += dx * ((y - reference_y) - mean_y);
    peak_x = squares_x;  // only grow while the windows fill
    peak_y = squares_y;
  }
  void zero_spread_x(double x) noexcept {
    reference_x = x;
    mean_x = squares_x = peak_x = products = 0.0;
  }
  void zero_spread_y(double y) noexcept {
    reference_y = y;
    mean_y = squares_y = peak_y = products = 0.0;
  }
};

// Defined here so that the loops that call it inline it. No NaN enters the
// sums (a non-finite input stops the slide), so inputs are taken as they come.
inline bool CoMoments::take(double x, double y) noexcept {
  const std::uint32_t period = xs.period;
  const bool full = xs.count == period;
  const double old_x = xs.push(x);
  const double old_y = ys.push(y);
  run_x = x == last_x ? run_x + (run_x < period) : 1;
  run_y = y == last_y ? run_y + (run_y < period) : 1;
  last_x = x;
  last_y = y;
  // Both differences are finite whenever all four inputs are, so one test
  // keeps the count of non-finite inputs off the common path.
  const double dx = x - old_x, dy = y - old_y;
  bool rebuild = false;
  if (!(std::fabs(dx) + std::fabs(dy) <= std::numeric_limits<double>::max())) [[unlikely]] {
    nonfinite += !std::isfinite(x) + !std::isfinite(y);
    nonfinite -= !std::isfinite(old_x) + !std::isfinite(old_y);
    rebuild = true;
  }
  if (nonfinite != 0) [[unlikely]] return false;
  if (!full) [[unlikely]] {
    take_while_filling(x, y);
    if (xs.count < period) return false;
  } else if (rebuild || ++since_exact == exact_every) [[unlikely]] {
    recompute();
  } else {
    // One addition on each sum's path from step to step: the term added
    // does not wait for the sum it is added to.
    const double moved_x = mean_x + dx * reciprocal;
    const double moved_y = mean_y + dy * reciprocal;
    const double new_x = x - reference_x, gone_x = (old_x - reference_x) - mean_x;
    const double new_y = y - reference_y, gone_y = (old_y - reference_y) - mean_y;
    squares_x += dx * ((new_x - moved_x) + gone_x);
    squares_y += dy * ((new_y - moved_y) + gone_y);
    products += dx * (new_y - moved_y) + dy * gone_x;
    mean_x = moved_x;
    mean_y = moved_y;
    peak_x = squares_x > peak_x ? squares_x : peak_x;
    peak_y = squares_y > peak_y ? squares_y : peak_y;
    if (squares_x * 16.0 < peak_x || squares_y * 16.0 < peak_y) [[unlikely]] recompute();
  }
  if (run_x >= period) [[unlikely]] zero_spread_x(x);
  if (run_y >= period) [[unlikely]] zero_spread_y(y);
  return true;
}

}  // namespace barworks::classic

namespace barworks {

// The previous inputs, the count of non-finite inputs and the pace of the
// recomputations follow from the windows; the sliding sums are stored as
// they are, since an exact recomputation would round differently.
template <>
struct Checkpoint<classic::CoMoments> {
  using R = classic::CoMoments;
  static constexpr auto kFields = std::tuple{
      component<&R::xs>("xs"), component<&R::ys>("ys"), number<&R::mean_x>("mean_x"),
      number<&R::mean_y>("mean_y"), derived<&R::reciprocal, &R::period_reciprocal>(),
      number<&R::squares_x>("squares_x"), number<&R::squares_y>("squares_y"),
      number<&R::products>("products"), number<&R::reference_x>("reference_x"),
      number<&R::reference_y>("reference_y"), number<&R::peak_x>("peak_x"),
      number<&R::peak_y>("peak_y"), derived<&R::last_x, &R::newest_x>(),
      derived<&R::last_y, &R::newest_y>(), tally<&R::run_x>("run_x"), tally<&R::run_y>("run_y"),
      derived<&R::nonfinite, &R::count_nonfinite>(), tally<&R::since_exact>("since_exact"),
      derived<&R::exact_every, &R::slides_between_exact>(),
      rule<R>([](const R& r) noexcept { return count_within_period(r.xs); },
              "the count must not pass the period"),
      rule<R>(
          [](const R& r) noexcept {
            return r.ys.period == r.xs.period && r.ys.index == r.xs.index &&
                   r.ys.count == r.xs.count;
          },
          "the windows must share their period, write slot and count"),
      rule<R>(
          [](const R& r) noexcept {
            return r.xs.count != 0 ||
                   (r.mean_x == 0.0 && r.mean_y == 0.0 && r.squares_x == 0.0 &&
                    r.squares_y == 0.0 && r.products == 0.0 && r.reference_x == 0.0 &&
                    r.reference_y == 0.0 && r.peak_x == 0.0 && r.peak_y == 0.0);
          },
          "the sums must be 0 before the first input"),
      rule<R>(
          [](const R& r) noexcept {
            const auto counts = [&](std::uint32_t run) {
              return (run != 0 || r.xs.count == 0) && run <= r.xs.count;
            };
            return counts(r.run_x) && counts(r.run_y);
          },
          "the runs of equal inputs must count the last input and no input before the window's"),
      since_exact_rule<R, &R::xs>()};
};
static_assert(checkpoint_layout::lists_every_member<classic::CoMoments>());

}  // namespace barworks
