#pragma once

#include <cstdint>

#include "../describe.h"
#include "../error.h"
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
  double update(double x) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return window.period; }
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
struct Warmup<StandardDeviation> : WindowWarmup<StandardDeviation> {};

}  // namespace barworks
