// The most extreme value of a sliding window in amortised O(1) a step, shared
// by the classes that answer from a window's range (Midpoint, Midprice,
// Aroon, WilliamsR, the stochastics). Not a class of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "../checkpoint.h"
#include "../error.h"
#include "../window.h"

namespace barworks::classic {

// Which value is more extreme: NaN beats every number, so a window holding
// a NaN has NaN for its extreme while the NaN is in it. An equal newer value
// takes over from an older one (the queue drops the older), so the extreme's
// slot is the newest of equal extremes; Aroon counts its periods from it.
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

// The window slots that may still become the extreme, oldest first, each
// beating every later one: a monotonic queue held in a ring as long as the
// window. Admitting an input drops the slot it overwrites from the front and
// the slots it beats from the back, then takes it at the back, so each slot
// enters and leaves once. The slots are derived state: `rebuild` finds them
// again from the window alone, which is how a checkpoint restores them.
//
// One admission writes the head, the size and one ring position, and keeps
// what that position held in `displaced`, so that `mark` and `rewind` put a
// step back with a few numbers (peek) however many slots it dropped.
template <class Order>
struct ExtremeQueue {
  Window slots;  // ring of window slots, as doubles (exact below 2^53)
  std::uint32_t head;
  std::uint32_t size;
  double displaced;

  static Expected<ExtremeQueue> create(std::uint32_t capacity) noexcept {
    auto ring = Window::allocate(capacity, 0.0);
    if (!ring) return std::unexpected(ring.error());
    return ExtremeQueue{std::move(*ring), 0, 0, 0.0};
  }

  // Takes the input that was just written to window slot `slot`.
  [[gnu::always_inline]] void admit(const Window& values, std::uint32_t slot) noexcept {
    const double written = static_cast<double>(slot);
    const double x = values[slot];
    const std::uint32_t capacity = slots.size();
    if (size != 0 && slots[head] == written) {
      // Only the oldest entry can have held the overwritten slot.
      head = next_slot(head, capacity);
      --size;
    }
    while (size != 0 && Order::beats(x, values[slot_at(size - 1)])) --size;
    const std::uint32_t back = position(size);
    displaced = slots[back];
    slots[back] = written;
    ++size;
  }

  // The slot of the window's extreme; the window must hold an input.
  std::uint32_t extreme_slot() const noexcept { return slot_at(0); }
  double extreme(const Window& values) const noexcept { return values[extreme_slot()]; }

  void clear() noexcept {
    head = 0;
    size = 0;
  }

  // Admits the window's inputs oldest first, allocating the ring when its
  // length differs from the window's; false when memory is short.
  bool rebuild(const CircularWindow& window) noexcept {
    if (slots.size() != window.period) {
      auto made = create(window.period);
      if (!made) return false;
      std::destroy_at(this);
      std::construct_at(this, std::move(*made));
    }
    clear();
    displaced = 0.0;
    const bool full = window.count >= window.period;
    std::uint32_t slot = full ? window.index : 0;
    for (std::uint32_t taken = 0; taken < window.count; ++taken) {
      admit(window.values, slot);
      slot = next_slot(slot, window.period);
    }
    return true;
  }

  // What one admission may change, and putting it back.
  struct Mark {
    std::uint32_t head;
    std::uint32_t size;
    double displaced;
    double back;  // the newest entry
  };
  Mark mark() const noexcept {
    return {head, size, displaced, size != 0 ? slots[position(size - 1)] : 0.0};
  }
  void rewind(const Mark& before) noexcept {
    // The position the admission wrote is the newest entry's; without an
    // admission that is the newest entry itself, put back just after.
    if (size != 0) slots[position(size - 1)] = displaced;
    head = before.head;
    size = before.size;
    displaced = before.displaced;
    if (size != 0) slots[position(size - 1)] = before.back;
  }

 private:
  std::uint32_t position(std::uint32_t offset) const noexcept {
    const std::uint32_t at = head + offset;
    return at >= slots.size() ? at - slots.size() : at;
  }
  std::uint32_t slot_at(std::uint32_t offset) const noexcept {
    return static_cast<std::uint32_t>(slots[position(offset)]);
  }
};

// The highest high and the lowest low of the last `length` bars, each side
// in a window of its own with its queue. Not a class of its own: Midprice,
// Aroon, WilliamsR and the stochastics embed it.
struct BarRange {
  CircularWindow highs;
  CircularWindow lows;
  ExtremeQueue<Highest> highest;
  ExtremeQueue<Lowest> lowest;

  static Expected<BarRange> create(std::uint32_t length) noexcept {
    auto highs = CircularWindow::create(length);
    if (!highs) return std::unexpected(highs.error());
    auto lows = CircularWindow::create(length);
    if (!lows) return std::unexpected(lows.error());
    auto highest = ExtremeQueue<Highest>::create(length);
    if (!highest) return std::unexpected(highest.error());
    auto lowest = ExtremeQueue<Lowest>::create(length);
    if (!lowest) return std::unexpected(lowest.error());
    return BarRange{std::move(*highs), std::move(*lows), std::move(*highest), std::move(*lowest)};
  }
  void push(double high, double low) noexcept {
    const std::uint32_t slot = highs.index;
    highs.push(high);
    lows.push(low);
    highest.admit(highs.values, slot);
    lowest.admit(lows.values, slot);
  }
  bool full() const noexcept { return highs.count == highs.period; }
  double highest_high() const noexcept { return highest.extreme(highs.values); }
  double lowest_low() const noexcept { return lowest.extreme(lows.values); }
  // The highest high less the lowest low, or 0.0 where the batch libraries
  // read no range: under 1e-14 of the sum of its ends, a range is an ulp or
  // two of rounding at the prices' level (a relative strength index still
  // for a while), not a move.
  double spread() const noexcept {
    const double highest = highest_high(), lowest = lowest_low();
    const double spread = highest - lowest;
    const double relative = spread / (highest + lowest);
    return relative > -1e-14 && relative < 1e-14 ? 0.0 : spread;
  }
  // Bars since the highest high and the lowest low: 0 for the latest.
  std::uint32_t since_highest() const noexcept { return age(highest.extreme_slot()); }
  std::uint32_t since_lowest() const noexcept { return age(lowest.extreme_slot()); }
  void clear() noexcept {
    highs.clear();
    lows.clear();
    highest.clear();
    lowest.clear();
  }
  std::uint32_t length() const noexcept { return highs.period; }
  bool rebuild_highest() noexcept { return highest.rebuild(highs); }
  bool rebuild_lowest() noexcept { return lowest.rebuild(lows); }

 private:
  std::uint32_t age(std::uint32_t slot) const noexcept {
    // The latest bar went to the slot before the write slot.
    const std::uint32_t latest = highs.index == 0 ? highs.period - 1 : highs.index - 1;
    return latest >= slot ? latest - slot : latest + highs.period - slot;
  }
};

}  // namespace barworks::classic

namespace barworks {

// The queues follow from the windows and are rebuilt on load.
template <>
struct Checkpoint<classic::BarRange> {
  using R = classic::BarRange;
  static constexpr auto kFields = std::tuple{
      component<&R::highs>("highs"), component<&R::lows>("lows"),
      rebuilt<&R::highest, &R::rebuild_highest>(), rebuilt<&R::lowest, &R::rebuild_lowest>(),
      rule<R>([](const R& r) noexcept { return count_within_period(r.highs); },
              "the count must not pass the period"),
      rule<R>(
          [](const R& r) noexcept {
            return r.lows.period == r.highs.period && r.lows.index == r.highs.index &&
                   r.lows.count == r.highs.count;
          },
          "the highs and the lows must share their period, write slot and count")};
};
static_assert(checkpoint_layout::lists_every_member<classic::BarRange>());

}  // namespace barworks
