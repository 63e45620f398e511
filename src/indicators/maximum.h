#pragma once

#include <limits>

#include "../describe.h"
#include "extremum.h"

namespace barworks {

// The largest of the last `period` inputs (see Extremum for warm-up, ties,
// NaN and what reset keeps). Unfilled slots hold -inf, so an input of -inf
// is returned as such when nothing else is in the window.
struct HighestFirst {
  static constexpr double kFill = -std::numeric_limits<double>::infinity();
  static constexpr bool beats(double value, double extreme) noexcept { return value > extreme; }
};

extern template struct Extremum<HighestFirst>;
using Maximum = Extremum<HighestFirst>;

template <>
struct PythonClass<Maximum> {
  using R = Maximum;
  static constexpr const char* kName = "Maximum";
  static constexpr auto kConstructor = constructor<&R::create>("period");
  static constexpr auto kMethods =
      std::tuple{method<&R::length>("period", Access::kExclusive),
                 method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive),
                 method<&R::find_index>("find_max_index", Access::kShared)};
};

}  // namespace barworks
