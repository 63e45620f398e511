#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

#include "../error.h"
#include "../warmup.h"
#include "family.h"
#include "least_squares_line.h"

namespace barworks::classic {

// The angle of the least-squares line of the last `period` inputs in
// degrees, atan(slope) * 180 / pi with the slope per input: TA-Lib's
// LINEARREG_ANGLE. A flat window (or a period of 1) answers exactly 0.0.
// Lookback period - 1; NaN while a NaN or
// infinite input is in the window (LeastSquaresLine).
struct LinearRegressionAngle : OnLine<LinearRegressionAngle> {
  LeastSquaresLine line;
  static constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

  static Expected<LinearRegressionAngle> create(std::uint32_t period) noexcept {
    return LeastSquaresLine::create_within<LinearRegressionAngle>(period);
  }
  double update(double x) noexcept { return answer(line.update(x)); }
  template <class Number>
  static Number answer(const LeastSquaresLine::Fit<Number>& fitted) noexcept {
    return arc_tangent(fitted.slope) * kDegreesPerRadian;
  }
  void reset() noexcept { line.reset(); }
  std::uint32_t length() const noexcept { return line.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::LinearRegressionAngle> : LineClass<classic::LinearRegressionAngle> {
  static constexpr const char* kName = "LinearRegressionAngle";
};

template <>
struct Checkpoint<classic::LinearRegressionAngle> : LineCheckpoint<classic::LinearRegressionAngle> {};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::LinearRegressionAngle>());

template <>
struct LaneFields<classic::LinearRegressionAngle> : LineLanes<classic::LinearRegressionAngle> {};

template <>
struct Warmup<classic::LinearRegressionAngle> : EmbeddedWindowWarmup<classic::LinearRegressionAngle, &classic::LinearRegressionAngle::line> {};

}  // namespace barworks
