#pragma once

#include <cstdint>

#include "../error.h"
#include "../window.h"
#include "family.h"

namespace barworks::classic {

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

 private:
  void recompute() noexcept;
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::StandardDeviation> : ClassicPeriodIndicator<classic::StandardDeviation> {
  static constexpr const char* kName = "StandardDeviation";
};

}  // namespace barworks
