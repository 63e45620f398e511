#pragma once

#include <limits>

#include "extremum.h"

namespace barworks {

// The largest of the last `period` inputs (see Extremum for warm-up, ties,
// NaN and what reset keeps). Unfilled slots hold -inf, so an input of -inf
// is returned as such when nothing else is in the window.
struct HighestFirst {
  static constexpr const char* kClassName = "Maximum";
  static constexpr const char* kIndexMethod = "find_max_index";
  static constexpr double kFill = -std::numeric_limits<double>::infinity();
  static constexpr bool beats(double value, double extreme) noexcept { return value > extreme; }
};

extern template struct Extremum<HighestFirst>;
using Maximum = Extremum<HighestFirst>;

}  // namespace barworks
