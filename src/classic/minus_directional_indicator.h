#pragma once

#include "directional_movement.h"
#include "family.h"

namespace barworks::classic {

// -DI: 100 * (-DM sum / true range sum) (DirectionalIndicators). Lookback
// period; a range sum of 0 answers 0.0, as TA-Lib does.
using MinusDirectionalIndicator = SideIndicator<Direction::kMinus>;

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::MinusDirectionalIndicator> : ClassicPeriodIndicator<classic::MinusDirectionalIndicator> {
  static constexpr const char* kName = "MinusDirectionalIndicator";
  static constexpr auto kConstructor =
      constructor<&classic::MinusDirectionalIndicator::create>(with_default("period", 14));
};
static_assert(checkpoint_layout::lists_every_member<classic::MinusDirectionalIndicator>());

}  // namespace barworks
