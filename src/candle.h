#pragma once

#include "bar.h"

namespace barworks {

// A bar as the classic classes read it: the four prices and a real-valued
// volume, since traded volumes are fractional (a coin) or beyond 2^32 (the
// share counts of some markets). Made from a Bar, from any object with
// numeric open, high, low, close and volume attributes, or from columns.
struct Candle {
  double open;
  double high;
  double low;
  double close;
  double volume;

  static Candle of(const Bar& bar) noexcept {
    return Candle{bar.open, bar.high, bar.low, bar.close, static_cast<double>(bar.volume)};
  }
  // The prices alone, for the module's bar records embedded in a classic
  // one; they never read the volume.
  Bar prices() const noexcept { return Bar{open, high, low, close, 0}; }
};

// The columns beyond high, low and close that a bar class reads, declared
// by its record (`static constexpr bool kReadsOpen = true;`, `kReadsVolume`);
// a batch run refuses to go without them. A class that never reads the
// close says so (`kReadsClose = false`): a universe's run then leaves that
// column where it lies.
template <class Record>
inline constexpr bool kReadsOpen = requires { requires Record::kReadsOpen; };
template <class Record>
inline constexpr bool kReadsVolume = requires { requires Record::kReadsVolume; };
template <class Record>
inline constexpr bool kReadsClose = !requires { requires !Record::kReadsClose; };

// Whether any of the fields a record reads is NaN: the batch libraries
// start at the first bar whose fields are all numbers, and the classic
// records skip the bars before it without counting them.
template <class... Fields>
inline bool any_nan(Fields... fields) noexcept {
  return ((fields != fields) || ...);
}

}  // namespace barworks
