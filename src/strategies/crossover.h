// What the two crossover strategies share: their rule on the periods and the
// reading of the gap between their averages as a signal.
#pragma once

#include "../error.h"
#include "../signal.h"

namespace barworks {

inline constexpr Error kShortNotBelowLong{ErrorKind::kValue,
                                          "Short period must be less than long period."};

// BUY while the short average is above the long one, SELL while it is below,
// HOLD when they are equal or the gap is NaN (both strict tests fail).
inline Signal signal_for_gap(double short_minus_long) noexcept {
  if (short_minus_long > 0.0) return Signal{Signal::Code::kBuy};
  if (short_minus_long < 0.0) return Signal{Signal::Code::kSell};
  return Signal{Signal::Code::kHold};
}

}  // namespace barworks
