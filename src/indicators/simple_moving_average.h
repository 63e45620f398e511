#pragma once

#include <cstdint>

#include "../describe.h"
#include "../error.h"
#include "../window.h"

namespace barworks {

// Mean of the last `period` inputs, kept as a running sum:
//   sum = (x - old) + sum;  result = sum / count
// where old is the value the input evicts (0.0 while the window fills) and
// count grows to `period`. During warm-up this is the mean of the inputs so
// far. The sum is never recomputed, so rounding error is carried along, a
// NaN poisons it until reset and an infinity leaving the window turns it NaN.
struct SimpleMovingAverage {
  Window values;
  std::uint32_t period;
  std::uint32_t index;
  std::uint32_t count;
  double sum;

  static Expected<SimpleMovingAverage> create(std::uint32_t period) noexcept;
  double update(double x) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return period; }
};

template <>
struct PythonClass<SimpleMovingAverage> {
  using R = SimpleMovingAverage;
  static constexpr const char* kName = "SimpleMovingAverage";
  static constexpr auto kConstructor = constructor<&R::create>("period");
  static constexpr auto kMethods =
      std::tuple{method<&R::length>("period", Access::kExclusive),
                 method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

}  // namespace barworks
