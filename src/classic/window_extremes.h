// The highest and the lowest value of a window, shared by the classes that
// answer from a window's range (Midpoint, Midprice). Not a class of its own.
#pragma once

#include <cstdint>

#include "../window.h"

namespace barworks::classic {

// Which value is more extreme: NaN beats every number, so a window holding
// a NaN has NaN for its extremes; among equal values the newer one wins, so
// that it stays the extreme longer and the window is rescanned less often.
struct Highest {
  static bool beats(double value, double extreme) noexcept {
    return value >= extreme || value != value;
  }
};
struct Lowest {
  static bool beats(double value, double extreme) noexcept {
    return value <= extreme || value != value;
  }
};

// The slot of the newest of the most extreme values the window holds (slot 0
// when it holds none): scanned from the oldest input to the newest.
template <class Order>
[[gnu::cold, gnu::noinline]] std::uint32_t scan_extreme(const CircularWindow& window) noexcept {
  const std::uint32_t period = window.period, count = window.count;
  if (count == 0 || window.values.size() == 0) return 0;
  std::uint32_t slot = window.index >= count ? window.index - count : window.index + period - count;
  std::uint32_t found = slot;
  for (std::uint32_t step = 1; step < count; ++step) {
    slot = next_slot(slot, period);
    if (Order::beats(window.values[slot], window.values[found])) found = slot;
  }
  return found;
}

// The extreme's slot after `x` went into slot `written`, where `before` is
// what the remembered slot held before that write. An input that beats the
// extreme takes over; otherwise only overwriting the extreme's own slot
// costs a scan. Always the slot scan_extreme would find, so the slot follows
// from the window alone.
template <class Order>
inline std::uint32_t follow_extreme(const CircularWindow& window, std::uint32_t remembered,
                                    double before, std::uint32_t written, double x) noexcept {
  if (Order::beats(x, before)) return written;
  if (remembered == written) [[unlikely]] return scan_extreme<Order>(window);
  return remembered;
}

}  // namespace barworks::classic
