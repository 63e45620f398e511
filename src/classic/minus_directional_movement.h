#pragma once

#include "directional_movement.h"
#include "family.h"

namespace barworks::classic {

// -DM: the Wilder sum of the downward directional movement
// (DirectionalMovement), as TA-Lib's MINUS_DM prints it: a sum seeded with
// the first period - 1 movements. Lookback period - 1 (1 for period 1, which
// answers each bar's own movement).
using MinusDirectionalMovement = SideMovement<Direction::kMinus>;

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::MinusDirectionalMovement> : ClassicPeriodIndicator<classic::MinusDirectionalMovement> {
  static constexpr const char* kName = "MinusDirectionalMovement";
  static constexpr auto kConstructor =
      constructor<&classic::MinusDirectionalMovement::create>(with_default("period", 14));
};
static_assert(checkpoint_layout::lists_every_member<classic::MinusDirectionalMovement>());

}  // namespace barworks
