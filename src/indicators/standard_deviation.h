#pragma once

#include <array>
#include <cstdint>

#include "../describe.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../window.h"
#include "../warmup.h"

namespace barworks {

// Population standard deviation (divisor count, not count - 1) of the last
// `period` inputs, from a running sum and a running sum of squares:
//   sum = sum + (x - old);  sum_sq = sum_sq + (x * x - old * old)
//   variance = sum_sq / n - (sum / n) * (sum / n);  result = sqrt(variance)
// where old is the value the input evicts (0.0 while the window fills) and n
// is the count of inputs taken, capped at `period`. During warm-up this is
// the deviation of the inputs so far. The sums are never recomputed, so
// rounding can leave the variance a hair below zero, or at -0.0; it is then
// taken as +0.0 (equal inputs give 0.0, not NaN, and never -0.0). A NaN or infinite input makes every
// result NaN from the time it leaves the window (or at once) until reset.
struct StandardDeviation {
  CircularWindow window;
  double sum;
  double sum_sq;

  static Expected<StandardDeviation> create(std::uint32_t period) noexcept;
  double update(double x) noexcept { return advance(*this, x, window, sum, sum_sq); }
  void reset() noexcept;
  std::uint32_t length() const noexcept { return window.period; }

  // The rule over a number type, for a lone deviation or lanes side by side.
  template <class Number, class Window>
  static Number advance(const StandardDeviation&, Number x, Window& window, Number& sum,
                        Number& sum_sq) noexcept {
    x = canonical(x);
    const Number old = window.push(x);
    const Number d1 = x - old;
    const Number d2 = (x * x) - (old * old);
    sum = sum + d1;
    sum_sq = sum_sq + d2;
    const auto [mean, mean_sq] = means(sum, sum_sq, window.filled());
    const Number variance = mean_sq - (mean * mean);
    // Cancellation in the running sums can leave a variance just below
    // zero for a window of equal values, or a negative zero when tiny
    // products underflow; the deviation is then +0.0 (sqrt(-0.0) would be
    // -0.0). The comparison is false for NaN, which keeps propagating.
    const Number zero = splat<Number>(0.0);
    return square_root(select(variance <= zero, zero, variance));
  }
  // Both means in one division for a lone deviation: the divider, not the
  // additions, bounds a run of updates. Lanes side by side divide each.
  static std::array<double, 2> means(double sum, double sum_sq, double n) noexcept {
    const DoublePair both = DoublePair{sum, sum_sq} / n;
    return {both[0], both[1]};
  }
  static std::array<DoublePair, 2> means(DoublePair sum, DoublePair sum_sq, DoublePair n) noexcept {
    return {sum / n, sum_sq / n};
  }
};

template <>
struct PythonClass<StandardDeviation> : PeriodIndicator<StandardDeviation> {
  static constexpr const char* kName = "StandardDeviation";
};

template <>
struct Checkpoint<StandardDeviation> {
  using R = StandardDeviation;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), number<&R::sum>("sum"), number<&R::sum_sq>("sum_sq"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period")};
};

template <>
struct LaneFields<StandardDeviation> {
  using R = StandardDeviation;
  using List = FieldList<&R::window, &R::sum, &R::sum_sq>;
};

template <>
struct Warmup<StandardDeviation> : WindowWarmup<StandardDeviation> {};

}  // namespace barworks
