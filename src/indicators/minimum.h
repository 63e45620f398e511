#pragma once

#include <limits>

#include "../describe.h"
#include "extremum.h"

namespace barworks {

// The smallest of the last `period` inputs (see Extremum for warm-up, ties,
// NaN and what reset keeps). Unfilled slots hold +inf, so an input of +inf
// is returned as such when nothing else is in the window.
struct LowestFirst {
  static constexpr double kFill = std::numeric_limits<double>::infinity();
  static constexpr bool beats(double value, double extreme) noexcept { return value < extreme; }
};

extern template struct Extremum<LowestFirst>;
using Minimum = Extremum<LowestFirst>;

template <>
struct PythonClass<Minimum> {
  using R = Minimum;
  static constexpr const char* kName = "Minimum";
  static constexpr auto kConstructor = constructor<&R::create>("period");
  static constexpr auto kMethods =
      std::tuple{method<&R::length>("period", Access::kExclusive),
                 method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive),
                 method<&R::find_index>("find_min_index", Access::kShared)};
};

}  // namespace barworks
