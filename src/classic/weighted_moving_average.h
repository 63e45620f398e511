#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "../error.h"
#include "../lanes.h"
#include "../warmup.h"
#include "../window.h"
#include "exact_window.h"
#include "family.h"

namespace barworks::classic {

// Linearly weighted moving average of the last `period` inputs, the newest
// weighing `period` and the oldest 1:
//   result = (1 x1 + 2 x2 + ... + n xn) / (n (n + 1) / 2)
// The weighted sum slides in O(1) (each step takes the plain sum out once
// and adds n times the new input) and both sums are recomputed from the
// window every `period` inputs (every 64 for shorter windows), so rounding
// cannot build up beyond a few ulps. Lookback period - 1: NaN until the window is full. NaN
// inputs before the first number are skipped without counting; a later NaN
// or infinite input makes the answers NaN while it is in the window, and
// once it has left the sums are recomputed from the window.
struct WeightedMovingAverage {
  CircularWindow window;
  // The two sums are kept apart in memory: side by side, the compiler packs
  // them into one vector register and unpacks it on every step.
  double sum;                   // the window's inputs
  double scale;                 // 1 / (n (n + 1) / 2)
  double weighted;              // the window's inputs, each times its weight
  double newest_weight;         // n
  std::uint32_t nonfinite;      // NaN and infinite inputs in the window
  std::uint32_t since_exact;    // slides since the last exact recomputation
  std::uint32_t exact_every;    // slides between exact recomputations

  static Expected<WeightedMovingAverage> create(std::uint32_t period) noexcept {
    auto window = CircularWindow::create(period);
    if (!window) return std::unexpected(window.error());
    WeightedMovingAverage made{std::move(*window), 0.0, 0.0, 0.0, 0.0, 0, 0, 0};
    made.scale = made.weight_scale();
    made.newest_weight = made.period_weight();
    made.exact_every = made.slides_between_exact();
    return made;
  }
  double update(double x) noexcept;
  void reset() noexcept {
    window.clear();
    sum = 0.0;
    weighted = 0.0;
    nonfinite = 0;
    since_exact = 0;
  }
  std::uint32_t length() const noexcept { return window.period; }
  // Full: every step from here on is advance()'s.
  bool steady() const noexcept { return window.count == window.period; }
  // Multiplied by, not divided by: a division would bound the loop's pace.
  double weight_scale() const noexcept {
    const double n = static_cast<double>(window.period);
    return 2.0 / (n * (n + 1.0));
  }
  double period_weight() const noexcept { return static_cast<double>(window.period); }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(window.period);
  }
  std::uint32_t count_nonfinite() const noexcept { return classic::count_nonfinite(window.values); }
  // A full window's slide by x, `change` more than the input it replaced:
  // one addition on each sum's path from step to step, the term added not
  // waiting for the sum it is added to.
  template <class Number>
  [[gnu::always_inline]] static Number slide(Number x, Number change, Number& sum,
                                             Number& weighted, double newest_weight,
                                             double scale) noexcept {
    weighted += newest_weight * x - sum;
    sum += change;
    return weighted * scale;
  }
  // A full window's step, over a number type: a lone window's every step,
  // or a pair of lanes' on the common path (pair_on_common_path).
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Number advance(const WeightedMovingAverage& shared, Number x,
                                               Values& window, Number& sum, Number& weighted,
                                               Count& nonfinite, Count& since_exact) noexcept;
  template <class Values, class Count>
  static bool pair_on_common_path(const WeightedMovingAverage&, DoublePair x,
                                  const Values& window, const DoublePair&, const DoublePair&,
                                  const Count& nonfinite, const Count& since_exact) noexcept {
    return pair_slides(x, window, nonfinite, since_exact);
  }

 private:
  template <class Number>
  struct Sums {
    Number sum;
    Number weighted;
  };
  // Both sums from the window, oldest input first (the one after
  // `written`, the slot the newest input went to). Out of line, given a
  // handle on the slots rather than the record and answering by value, so
  // that the callers' fields stay in registers around it; not cold, since
  // a batch takes it every 64 inputs.
  template <class Number, class Slots>
  [[gnu::noinline]] static Sums<Number> exact_sums(Slots window, std::uint32_t period,
                                                   std::uint32_t written) noexcept {
    Number plain = splat<Number>(0.0), times_weight = splat<Number>(0.0);
    double weight = 1.0;
    const auto take = [&](std::uint32_t from, std::uint32_t to) {
      for (std::uint32_t slot = from; slot < to; ++slot, weight += 1.0) {
        const Number value = window.slot(slot);
        plain += value;
        times_weight += weight * value;
      }
    };
    const std::uint32_t oldest = next_slot(written, period);
    take(oldest, period);
    take(0, oldest);
    return {plain, times_weight};
  }
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static Number recompute(const Values& window, std::uint32_t period,
                                                 std::uint32_t written, Number& sum,
                                                 Number& weighted, Count& since_exact,
                                                 double scale) noexcept {
    const Sums<Number> sums = exact_sums<Number>(window.slots(), period, written);
    sum = sums.sum;
    weighted = sums.weighted;
    restart(since_exact);
    return weighted * scale;
  }
};

// NaN never enters the sums (a non-finite input in the window stops the
// slide), so no two NaNs meet and the input is taken as it comes.
inline double WeightedMovingAverage::update(double x) noexcept {
  const std::uint32_t period = window.period;
  if (window.count == period) [[likely]] {
    return advance(*this, x, window, sum, weighted, nonfinite, since_exact);
  }
  if (window.count == 0 && x != x) [[unlikely]] return kNotYet;
  const double old = window.push(x);
  (void)nonfinite_moved(x, old, x - old, nonfinite);
  if (nonfinite != 0) [[unlikely]] return kNotYet;
  sum += x;
  weighted += static_cast<double>(window.count) * x;
  if (window.count < period) return kNotYet;
  return weighted * scale;
}

// The difference is finite whenever both inputs are, so one test keeps the
// count of non-finite inputs off the common path; a difference that
// overflows from finite inputs takes that path too and recomputes.
template <class Number, class Values, class Count>
inline Number WeightedMovingAverage::advance(const WeightedMovingAverage& shared, Number x,
                                             Values& window, Number& sum, Number& weighted,
                                             Count& nonfinite, Count& since_exact) noexcept {
  const std::uint32_t period = shared.window.period;
  const std::uint32_t written = window.write_slot();
  const Number old = window.push(x);
  const Number change = x - old;
  if constexpr (std::is_same_v<Number, double>) {
    const bool rebuild = nonfinite_moved(x, old, change, nonfinite);
    if (nonfinite != 0) [[unlikely]] return kNotYet;
    if (rebuild) [[unlikely]] {
      return recompute(window, period, written, sum, weighted, since_exact, shared.scale);
    }
  }
  if (exact_due(since_exact, shared.exact_every)) [[unlikely]] {
    return recompute(window, period, written, sum, weighted, since_exact, shared.scale);
  }
  return slide(x, change, sum, weighted, shared.newest_weight, shared.scale);
}

// A batch of inputs from a column, as that many updates would answer them,
// slid from the column where they can be (run_from_column).
template <class Column>
void answer_values(WeightedMovingAverage& record, std::size_t size, const Column& values,
                   double* answers) noexcept {
  const std::size_t period = record.window.period;
  const auto one = [&](std::size_t i) { answers[i] = record.update(values[i]); };
  const auto slide = [&](std::size_t i, std::size_t end) {
    double sum = record.sum, weighted = record.weighted;
    const double newest_weight = record.newest_weight, scale = record.scale;
    std::size_t j = i;
    for (; j < end; ++j) {
      const double x = values[j], change = x - values[j - period];
      if (!(std::fabs(change) <= std::numeric_limits<double>::max())) [[unlikely]] break;
      answers[j] = WeightedMovingAverage::slide(x, change, sum, weighted, newest_weight, scale);
    }
    record.sum = sum;
    record.weighted = weighted;
    return j;
  };
  run_from_column(record, record.window, size, values, slide, one);
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::WeightedMovingAverage>
    : ClassicPeriodIndicator<classic::WeightedMovingAverage> {
  using R = classic::WeightedMovingAverage;
  static constexpr const char* kName = "WeightedMovingAverage";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 30));
};

// The factors, the count of non-finite inputs and the recomputations' pace
// follow from the window and are recomputed on load; the sliding sums are stored as they are.
template <>
struct Checkpoint<classic::WeightedMovingAverage> {
  using R = classic::WeightedMovingAverage;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), number<&R::sum>("sum"),
      derived<&R::scale, &R::weight_scale>(), number<&R::weighted>("weighted"),
      derived<&R::newest_weight, &R::period_weight>(),
      derived<&R::nonfinite, &R::count_nonfinite>(),
      tally<&R::since_exact>("since_exact"),
      derived<&R::exact_every, &R::slides_between_exact>(),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period"),
      rule<R>([](const R& r) noexcept {
                return r.window.count != 0 || (r.sum == 0.0 && r.weighted == 0.0);
              },
              "the sums must be 0 before the first input"),
      since_exact_rule<R>()};
};

template <>
struct Warmup<classic::WeightedMovingAverage> : WindowWarmup<classic::WeightedMovingAverage> {};

// The fields a full window's step reads and writes, in the order advance()
// takes them. A pair of lanes takes the rule side by side on its common
// path, reading the slot its windows write next.
template <>
struct LaneFields<classic::WeightedMovingAverage> {
  using R = classic::WeightedMovingAverage;
  using List = FieldList<&R::window, &R::sum, &R::weighted, &R::nonfinite, &R::since_exact>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

}  // namespace barworks
