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
  // What a step leaves for the answer, of one record or a pair of lanes:
  // whether both windows are full and finite, so that the sums describe
  // them; whether a side has had no spread over the whole window; and the
  // sums.
  template <class Number>
  struct Described {
    bool known;
    bool flat;
    Number squares_x;
    Number squares_y;
    Number products;
  };
  [[gnu::always_inline]] Described<double> take(double x, double y) noexcept;
  // Once the windows are full, take's rule over a number type: a lone
  // record's every step, a universe's lane's, or a pair of lanes' on the
  // common path (pair_on_common_path). `xs` and `ys` push and give their
  // slots.
  bool steady() const noexcept { return xs.count == xs.period; }
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Described<Number> advance(
      const CoMoments& shared, Number x, Number y, Values& xs, Values& ys, Number& mean_x,
      Number& mean_y, Number& squares_x, Number& squares_y, Number& products,
      Number& reference_x, Number& reference_y, Number& peak_x, Number& peak_y, Number& last_x,
      Number& last_y, Count& run_x, Count& run_y, Count& nonfinite, Count& since_exact) noexcept;
  // A pair of lanes whose windows take the pair without a non-finite input
  // or an overflowing change, and whose runs of equal inputs cannot fill a
  // window this step. Each lane keeps its own count of slides.
  template <class Values, class Count>
  static bool pair_on_common_path(const CoMoments& shared, DoublePair x, DoublePair y,
                                  const Values& xs, const Values& ys, const DoublePair&,
                                  const DoublePair&, const DoublePair&, const DoublePair&,
                                  const DoublePair&, const DoublePair&, const DoublePair&,
                                  const DoublePair&, const DoublePair&, const DoublePair&,
                                  const DoublePair&, const Count& run_x, const Count& run_y,
                                  const Count& nonfinite, const Count&) noexcept {
    const std::uint32_t period = shared.xs.period;
    const auto short_run = [period](const Count& run) noexcept {
      return run[0] + 1 < period && run[1] + 1 < period;
    };
    const DoublePair dx = x - xs.slot(xs.write_slot());
    const DoublePair dy = y - ys.slot(ys.write_slot());
    const DoublePair largest = splat<DoublePair>(std::numeric_limits<double>::max());
    return (nonfinite[0] | nonfinite[1]) == 0 &&
           every_lane(absolute(dx) + absolute(dy) <= largest) && short_run(run_x) &&
           short_run(run_y);
  }
  void reset() noexcept {
    xs.clear();
    ys.clear();
    mean_x = mean_y = squares_x = squares_y = products = 0.0;
    reference_x = reference_y = peak_x = peak_y = last_x = last_y = 0.0;
    run_x = run_y = nonfinite = since_exact = 0;
  }
  // Whether a side has had no spread over the whole window.
  bool flat() const noexcept { return run_x >= xs.period || run_y >= xs.period; }

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

  template <class Number>
  struct Sums {
    Number reference_x, reference_y, mean_x, mean_y, squares_x, squares_y, products;
  };
  // The sums of the windows' `size` slots, computed exactly in two passes.
  // Out of line and given handles on the slots, not the record, so that the
  // record's fields can stay in registers in the loops that inline `take`.
  template <class Number, class Slots>
  [[gnu::cold, gnu::noinline]] static Sums<Number> exact_sums(Slots xs, Slots ys,
                                                              std::uint32_t size,
                                                              double n) noexcept;

 private:
  static double newest(const CircularWindow& window) noexcept {
    if (window.count == 0 || window.values.size() == 0) return 0.0;
    return window.values[window.index == 0 ? window.period - 1 : window.index - 1];
  }
  // What every step does first: the pair into the windows, the runs of
  // equal inputs, the changes against the inputs the pair replaced, and
  // whether the count of non-finite inputs moved (a lone record's: a pair
  // of lanes takes none).
  template <class Number>
  struct Taken {
    Number old_x;
    Number old_y;
    Number dx;
    Number dy;
    bool rebuild;
  };
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Taken<Number> take_inputs(std::uint32_t period, Number x,
                                                          Number y, Values& xs, Values& ys,
                                                          Number& last_x, Number& last_y,
                                                          Count& run_x, Count& run_y,
                                                          Count& nonfinite) noexcept {
    const Number old_x = xs.push(x);
    const Number old_y = ys.push(y);
    extend_run(run_x, x == last_x, period);
    extend_run(run_y, y == last_y, period);
    last_x = x;
    last_y = y;
    const Number dx = x - old_x, dy = y - old_y;
    bool rebuild = false;
    if constexpr (std::is_same_v<Number, double>) {
      // Both differences are finite whenever all four inputs are, so one
      // test keeps the count of non-finite inputs off the common path.
      if (!(std::fabs(dx) + std::fabs(dy) <= std::numeric_limits<double>::max())) [[unlikely]] {
        nonfinite += !std::isfinite(x) + !std::isfinite(y);
        nonfinite -= !std::isfinite(old_x) + !std::isfinite(old_y);
        rebuild = true;
      }
    }
    return {old_x, old_y, dx, dy, rebuild};
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
  // A side with exactly no spread, once its run of equal inputs fills the
  // window.
  static void flatten(double value, double& reference, double& mean, double& squares,
                      double& peak, double& products) noexcept {
    reference = value;
    mean = squares = peak = products = 0.0;
  }
};

// Defined here so that the loops that call it inline it. No NaN enters the
// sums (a non-finite input stops the slide), so inputs are taken as they come.
inline CoMoments::Described<double> CoMoments::take(double x, double y) noexcept {
  if (steady()) [[likely]] {
    return advance(*this, x, y, xs, ys, mean_x, mean_y, squares_x, squares_y, products,
                   reference_x, reference_y, peak_x, peak_y, last_x, last_y, run_x, run_y,
                   nonfinite, since_exact);
  }
  const std::uint32_t period = xs.period;
  (void)take_inputs(period, x, y, xs, ys, last_x, last_y, run_x, run_y, nonfinite);
  if (nonfinite != 0) [[unlikely]] return {};
  take_while_filling(x, y);
  if (xs.count < period) return {};
  if (run_x >= period) [[unlikely]] flatten(x, reference_x, mean_x, squares_x, peak_x, products);
  if (run_y >= period) [[unlikely]] flatten(y, reference_y, mean_y, squares_y, peak_y, products);
  return {true, flat(), squares_x, squares_y, products};
}

template <class Number, class Values, class Count>
[[gnu::always_inline]] inline CoMoments::Described<Number> CoMoments::advance(
    const CoMoments& shared, Number x, Number y, Values& xs, Values& ys, Number& mean_x,
    Number& mean_y, Number& squares_x, Number& squares_y, Number& products, Number& reference_x,
    Number& reference_y, Number& peak_x, Number& peak_y, Number& last_x, Number& last_y,
    Count& run_x, Count& run_y, Count& nonfinite, Count& since_exact) noexcept {
  const std::uint32_t period = shared.xs.period;
  const Taken<Number> taken =
      take_inputs(period, x, y, xs, ys, last_x, last_y, run_x, run_y, nonfinite);
  if constexpr (std::is_same_v<Number, double>) {
    if (nonfinite != 0) [[unlikely]] return {};
  }
  // Recomputed where a recomputation is due or a slide's sums fell, lane by
  // lane, the count then starting again.
  decltype(x < x) where =
      lanes_where<Number>(taken.rebuild) | exact_due_each(since_exact, shared.exact_every);
  if (!every_lane(where)) [[likely]] {
    // One addition on each sum's path from step to step: the term added
    // does not wait for the sum it is added to.
    const Number dx = taken.dx, dy = taken.dy;
    const Number moved_x = mean_x + dx * shared.reciprocal;
    const Number moved_y = mean_y + dy * shared.reciprocal;
    const Number new_x = x - reference_x, gone_x = (taken.old_x - reference_x) - mean_x;
    const Number new_y = y - reference_y, gone_y = (taken.old_y - reference_y) - mean_y;
    squares_x += dx * ((new_x - moved_x) + gone_x);
    squares_y += dy * ((new_y - moved_y) + gone_y);
    products += dx * (new_y - moved_y) + dy * gone_x;
    mean_x = moved_x;
    mean_y = moved_y;
    peak_x = select(squares_x > peak_x, squares_x, peak_x);
    peak_y = select(squares_y > peak_y, squares_y, peak_y);
    where = where | (squares_x * 16.0 < peak_x) | (squares_y * 16.0 < peak_y);
  }
  // In place, not through a function given the fields' addresses: those
  // would live in memory throughout the step.
  if (any_lane(where)) [[unlikely]] {
    const Sums<Number> sums =
        exact_sums<Number>(xs.slots(), ys.slots(), period, static_cast<double>(period));
    reference_x = select(where, sums.reference_x, reference_x);
    reference_y = select(where, sums.reference_y, reference_y);
    mean_x = select(where, sums.mean_x, mean_x);
    mean_y = select(where, sums.mean_y, mean_y);
    squares_x = select(where, sums.squares_x, squares_x);
    squares_y = select(where, sums.squares_y, squares_y);
    peak_x = select(where, sums.squares_x, peak_x);
    peak_y = select(where, sums.squares_y, peak_y);
    products = select(where, sums.products, products);
    restart(since_exact, where);
  }
  if constexpr (std::is_same_v<Number, double>) {
    if (run_x >= period) [[unlikely]] flatten(x, reference_x, mean_x, squares_x, peak_x, products);
    if (run_y >= period) [[unlikely]] flatten(y, reference_y, mean_y, squares_y, peak_y, products);
    return {true, run_x >= period || run_y >= period, squares_x, squares_y, products};
  } else {
    return {true, false, squares_x, squares_y, products};
  }
}

template <class Number, class Slots>
CoMoments::Sums<Number> CoMoments::exact_sums(Slots xs, Slots ys, std::uint32_t size,
                                              double n) noexcept {
  Number sum_x = splat<Number>(0.0), sum_y = splat<Number>(0.0);
  for (std::uint32_t i = 0; i < size; ++i) {
    sum_x += xs.slot(i);
    sum_y += ys.slot(i);
  }
  // The rounded means serve as references; the deviations from them sum to
  // n times their rounding errors, which is taken back out.
  const Number kx = sum_x / n, ky = sum_y / n;
  Number dx = splat<Number>(0.0), dy = dx, qx = dx, qy = dx, qxy = dx;
  for (std::uint32_t i = 0; i < size; ++i) {
    const Number ex = xs.slot(i) - kx, ey = ys.slot(i) - ky;
    dx += ex;
    dy += ey;
    qx += ex * ex;
    qy += ey * ey;
    qxy += ex * ey;
  }
  return {kx, ky, dx / n, dy / n, qx - dx * dx / n, qy - dy * dy / n, qxy - dx * dy / n};
}

}  // namespace barworks::classic

namespace barworks {

// The fields a full window's step reads and writes, in the order advance()
// takes them. A pair of lanes takes the rule side by side on its common
// path, reading the slots its windows write next.
template <>
struct LaneFields<classic::CoMoments> {
  using R = classic::CoMoments;
  using List = FieldList<&R::xs, &R::ys, &R::mean_x, &R::mean_y, &R::squares_x, &R::squares_y,
                         &R::products, &R::reference_x, &R::reference_y, &R::peak_x, &R::peak_y,
                         &R::last_x, &R::last_y, &R::run_x, &R::run_y, &R::nonfinite,
                         &R::since_exact>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

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
