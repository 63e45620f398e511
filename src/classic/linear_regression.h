#pragma once

#include <cstdint>

#include "../error.h"
#include "../warmup.h"
#include "family.h"
#include "least_squares_line.h"

namespace barworks::classic {

// The least-squares line of the last `period` inputs at the newest one
// (x = period - 1, the oldest at 0): TA-Lib's LINEARREG. A flat window
// answers its value exactly. Lookback period - 1; NaN while a NaN or
// infinite input is in the window (LeastSquaresLine).
struct LinearRegression : OnLine<LinearRegression> {
  LeastSquaresLine line;

  static Expected<LinearRegression> create(std::uint32_t period) noexcept {
    return LeastSquaresLine::create_within<LinearRegression>(period);
  }
  double update(double x) noexcept { return answer(line.update(x)); }
  template <class Number>
  static Number answer(const LeastSquaresLine::Fit<Number>& fitted) noexcept {
    return fitted.at(fitted.half);
  }
  void reset() noexcept { line.reset(); }
  std::uint32_t length() const noexcept { return line.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::LinearRegression> : LineClass<classic::LinearRegression> {
  static constexpr const char* kName = "LinearRegression";
};

template <>
struct Checkpoint<classic::LinearRegression> : LineCheckpoint<classic::LinearRegression> {};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::LinearRegression>());

template <>
struct LaneFields<classic::LinearRegression> : LineLanes<classic::LinearRegression> {};

template <>
struct Warmup<classic::LinearRegression> : EmbeddedWindowWarmup<classic::LinearRegression, &classic::LinearRegression::line> {};

}  // namespace barworks
