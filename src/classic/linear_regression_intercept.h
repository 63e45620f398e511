#pragma once

#include <cstdint>

#include "../error.h"
#include "../warmup.h"
#include "family.h"
#include "least_squares_line.h"

namespace barworks::classic {

// The least-squares line of the last `period` inputs at the oldest one
// (x = 0, the newest at period - 1): TA-Lib's LINEARREG_INTERCEPT. A flat
// window answers its value exactly. Lookback period - 1; NaN while a NaN or
// infinite input is in the window (LeastSquaresLine).
struct LinearRegressionIntercept : OnLine<LinearRegressionIntercept> {
  LeastSquaresLine line;

  static Expected<LinearRegressionIntercept> create(std::uint32_t period) noexcept {
    return LeastSquaresLine::create_within<LinearRegressionIntercept>(period);
  }
  double update(double x) noexcept { return answer(line.update(x)); }
  template <class Number>
  static Number answer(const LeastSquaresLine::Fit<Number>& fitted) noexcept {
    return fitted.at(-fitted.half);
  }
  void reset() noexcept { line.reset(); }
  std::uint32_t length() const noexcept { return line.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::LinearRegressionIntercept> : LineClass<classic::LinearRegressionIntercept> {
  static constexpr const char* kName = "LinearRegressionIntercept";
};

template <>
struct Checkpoint<classic::LinearRegressionIntercept> : LineCheckpoint<classic::LinearRegressionIntercept> {};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::LinearRegressionIntercept>());

template <>
struct LaneFields<classic::LinearRegressionIntercept>
    : LineLanes<classic::LinearRegressionIntercept> {};

template <>
struct Warmup<classic::LinearRegressionIntercept> : EmbeddedWindowWarmup<classic::LinearRegressionIntercept, &classic::LinearRegressionIntercept::line> {};

}  // namespace barworks
