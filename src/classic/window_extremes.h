// The highest and the lowest value of a window, shared by the classes that
// answer from a window's range (Midpoint, Midprice). Not a class of its own.
#pragma once

#include <cstdint>

#include "../window.h"

namespace barworks::classic {

// Which value is more extreme: NaN beats every number, so a window holding
// a NaN has NaN for its extremes. An equal value takes over, so that a newer
// one stays the extreme longer and the window is rescanned less often.
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

// The slot of a most extreme value the window holds (slot 0 when it holds
// none). While the window fills, its inputs are slots 0 to count - 1, and
// once full every slot: either way one straight pass.
template <class Order>
[[gnu::cold, gnu::noinline]] std::uint32_t scan_extreme(const double* values,
                                                        std::uint32_t count) noexcept {
  std::uint32_t found = 0;
  double extreme = count != 0 ? values[0] : 0.0;
  for (std::uint32_t slot = 1; slot < count; ++slot) {
    if (Order::beats(values[slot], extreme)) {
      extreme = values[slot];
      found = slot;
    }
  }
  return found;
}
template <class Order>
std::uint32_t scan_extreme(const CircularWindow& window) noexcept {
  if (window.values.size() == 0) return 0;
  return scan_extreme<Order>(window.values.begin(), window.count);
}

// The extreme's slot after `x` went into slot `written`, where `before` is
// what the remembered slot held before that write. An input that beats the
// extreme takes over; otherwise only overwriting the extreme's own slot
// costs a scan. Always a slot holding the value scan_extreme finds, so the
// extreme follows from the window alone and a restored record answers alike.
template <class Order>
inline std::uint32_t follow_extreme(const CircularWindow& window, std::uint32_t remembered,
                                    double before, std::uint32_t written, double x) noexcept {
  // A selection rather than a branch: a new extreme comes at random.
  const bool takes = Order::beats(x, before);
  const bool lost = !takes && remembered == written;
  remembered = takes ? written : remembered;
  if (lost) [[unlikely]] remembered = scan_extreme<Order>(window);
  return remembered;
}

}  // namespace barworks::classic
