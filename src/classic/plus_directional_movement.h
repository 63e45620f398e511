#pragma once

#include "directional_movement.h"
#include "family.h"

namespace barworks::classic {

// +DM: the Wilder sum of the upward directional movement (DirectionalMovement),
// as TA-Lib's PLUS_DM prints it: a sum seeded with the first period - 1
// movements. Lookback period - 1 (1 for period 1, which answers each bar's
// own movement).
using PlusDirectionalMovement = SideMovement<Direction::kPlus>;

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::PlusDirectionalMovement> : ClassicPeriodIndicator<classic::PlusDirectionalMovement> {
  static constexpr const char* kName = "PlusDirectionalMovement";
  static constexpr auto kConstructor =
      constructor<&classic::PlusDirectionalMovement::create>(with_default("period", 14));
};
static_assert(checkpoint_layout::lists_every_member<classic::PlusDirectionalMovement>());

}  // namespace barworks
