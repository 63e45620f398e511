#pragma once

#include "directional_movement.h"
#include "family.h"

namespace barworks::classic {

// +DI: 100 * (+DM sum / true range sum) (DirectionalIndicators). Lookback
// period; a range sum of 0 answers 0.0, as TA-Lib does.
using PlusDirectionalIndicator = SideIndicator<Direction::kPlus>;

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::PlusDirectionalIndicator> : ClassicPeriodIndicator<classic::PlusDirectionalIndicator> {
  static constexpr const char* kName = "PlusDirectionalIndicator";
  static constexpr auto kConstructor =
      constructor<&classic::PlusDirectionalIndicator::create>(with_default("period", 14));
};
static_assert(checkpoint_layout::lists_every_member<classic::PlusDirectionalIndicator>());

}  // namespace barworks
