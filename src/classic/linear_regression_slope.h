#pragma once

#include <cstdint>

#include "../error.h"
#include "../warmup.h"
#include "family.h"
#include "least_squares_line.h"

namespace barworks::classic {

// The slope of the least-squares line of the last `period` inputs, per
// input: TA-Lib's LINEARREG_SLOPE. A flat window (or a period of 1)
// answers exactly 0.0. Lookback period - 1; NaN while a NaN or
// infinite input is in the window (LeastSquaresLine).
struct LinearRegressionSlope : OnLine<LinearRegressionSlope> {
  LeastSquaresLine line;

  static Expected<LinearRegressionSlope> create(std::uint32_t period) noexcept {
    return LeastSquaresLine::create_within<LinearRegressionSlope>(period);
  }
  double update(double x) noexcept { return answer(line.update(x)); }
  template <class Number>
  static Number answer(const LeastSquaresLine::Fit<Number>& fitted) noexcept {
    return fitted.slope;
  }
  void reset() noexcept { line.reset(); }
  std::uint32_t length() const noexcept { return line.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::LinearRegressionSlope> : LineClass<classic::LinearRegressionSlope> {
  static constexpr const char* kName = "LinearRegressionSlope";
};

template <>
struct Checkpoint<classic::LinearRegressionSlope> : LineCheckpoint<classic::LinearRegressionSlope> {};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::LinearRegressionSlope>());

template <>
struct LaneFields<classic::LinearRegressionSlope> : LineLanes<classic::LinearRegressionSlope> {};

template <>
struct Warmup<classic::LinearRegressionSlope> : EmbeddedWindowWarmup<classic::LinearRegressionSlope, &classic::LinearRegressionSlope::line> {};

}  // namespace barworks
