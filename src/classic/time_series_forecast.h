#pragma once

#include <cstdint>

#include "../error.h"
#include "../warmup.h"
#include "family.h"
#include "least_squares_line.h"

namespace barworks::classic {

// The least-squares line of the last `period` inputs one step past the
// newest (x = period, the oldest at 0): TA-Lib's TSF. A flat window answers
// its value exactly. Lookback period - 1; NaN while a NaN or
// infinite input is in the window (LeastSquaresLine).
struct TimeSeriesForecast : OnLine<TimeSeriesForecast> {
  LeastSquaresLine line;

  static Expected<TimeSeriesForecast> create(std::uint32_t period) noexcept {
    return LeastSquaresLine::create_within<TimeSeriesForecast>(period);
  }
  double update(double x) noexcept { return answer(line.update(x)); }
  template <class Number>
  static Number answer(const LeastSquaresLine::Fit<Number>& fitted) noexcept {
    return fitted.at(fitted.half + 1.0);
  }
  void reset() noexcept { line.reset(); }
  std::uint32_t length() const noexcept { return line.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::TimeSeriesForecast> : LineClass<classic::TimeSeriesForecast> {
  static constexpr const char* kName = "TimeSeriesForecast";
};

template <>
struct Checkpoint<classic::TimeSeriesForecast> : LineCheckpoint<classic::TimeSeriesForecast> {};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::TimeSeriesForecast>());

template <>
struct LaneFields<classic::TimeSeriesForecast> : LineLanes<classic::TimeSeriesForecast> {};

template <>
struct Warmup<classic::TimeSeriesForecast> : EmbeddedWindowWarmup<classic::TimeSeriesForecast, &classic::TimeSeriesForecast::line> {};

}  // namespace barworks
