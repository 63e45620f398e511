// The most extreme value of a sliding window in amortised O(1) a step, shared
// by the classes that answer from a window's range (Midpoint, Midprice,
// Aroon, WilliamsR, the stochastics). Not a class of its own.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>

#include "../checkpoint.h"
#include "../error.h"
#include "../window.h"

namespace barworks::classic {

// Which value is more extreme: NaN beats every number, so a window holding
// a NaN has NaN for its extreme while the NaN is in it. Of equal values the
// newer is the extreme (it beats an older equal), so the extreme's slot is
// the newest of equal extremes; Aroon counts its periods from it. kNone
// loses to every value, and an older one to every newer.
struct Highest {
  static constexpr double kNone = -std::numeric_limits<double>::infinity();
  static bool beats(double value, double extreme) noexcept {
    return value >= extreme || value != value;
  }
};
struct Lowest {
  static constexpr double kNone = std::numeric_limits<double>::infinity();
  static bool beats(double value, double extreme) noexcept {
    return value <= extreme || value != value;
  }
};

struct NoSlots {};

// The extreme of a window in blocks of its own length, the block starting
// at slot 0: the window is the current block's slots 0..latest and the
// previous block's slots after latest. A step folds its input into the
// current block's extreme (`prefix`); the step that starts a block (writes
// slot 0) first folds the completed block from its end into `suffixes`
// (suffixes[s], the extreme of slots s.. of that block), so a step costs
// one comparison and every `period` steps one pass over the window, and the
// extreme is the current block's or suffixes[the oldest slot], whichever
// wins. suffixes[0] stays kNone: a full block is its own window.
// With kFindsSlot the slots of the extremes ride along (Aroon's ages).
//
// The suffixes follow from the window alone: `rebuild` finds them again,
// which is how a checkpoint restores them. A peek keeps only the prefix: a
// step writing slot 0 folds slots the step leaves untouched, so the suffixes
// it leaves are the ones the next step would fold, and the state before it
// reads only suffixes[0].
template <class Order, bool kFindsSlot = false>
struct SlidingExtreme {
  using Slots = std::conditional_t<kFindsSlot, Window, NoSlots>;
  using Slot = std::conditional_t<kFindsSlot, double, NoSlots>;

  Window suffixes;
  [[no_unique_address]] Slots suffix_slots;  // as doubles (exact below 2^53)
  double prefix;
  [[no_unique_address]] Slot prefix_slot;

  static Expected<SlidingExtreme> create(std::uint32_t period) noexcept {
    auto suffixes = Window::allocate(period, Order::kNone);
    if (!suffixes) return std::unexpected(suffixes.error());
    if constexpr (kFindsSlot) {
      auto slots = Window::allocate(period, 0.0);
      if (!slots) return std::unexpected(slots.error());
      return SlidingExtreme{std::move(*suffixes), std::move(*slots), Order::kNone, 0.0};
    } else {
      return SlidingExtreme{std::move(*suffixes), {}, Order::kNone, {}};
    }
  }

  // Takes the input that was just written to window slot `slot`.
  [[gnu::always_inline]] void admit(const Window& values, std::uint32_t slot) noexcept {
    if (slot == 0) [[unlikely]] {
      fold_suffixes(values);
      clear();
    }
    take(values[slot], slot);
  }

  // The window's extreme and its slot; `oldest` is the window's oldest slot
  // (its write slot), and the window must hold an input.
  double extreme(std::uint32_t oldest) const noexcept {
    const double older = suffixes[oldest];
    return Order::beats(prefix, older) ? prefix : older;
  }
  std::uint32_t extreme_slot(std::uint32_t oldest) const noexcept
    requires kFindsSlot
  {
    const double slot = Order::beats(prefix, suffixes[oldest]) ? prefix_slot : suffix_slots[oldest];
    return static_cast<std::uint32_t>(slot);
  }

  void clear() noexcept { prefix = Order::kNone; }

  // Finds the suffixes and the prefix from the window, allocating when its
  // length differs from the window's; false when memory is short.
  bool rebuild(const CircularWindow& window) noexcept {
    if (suffixes.size() != window.period) {
      auto made = create(window.period);
      if (!made) return false;
      std::destroy_at(this);
      std::construct_at(this, std::move(*made));
    }
    fold_suffixes(window.values);
    clear();
    // The current block is the slots before the write slot, or the whole
    // window when it is full and the next input starts a block.
    const bool full = window.count >= window.period;
    const std::uint32_t written = window.index == 0 && full ? window.period : window.index;
    for (std::uint32_t slot = 0; slot < written; ++slot) take(window.values[slot], slot);
    return true;
  }

  // What a step may change that the state before it reads, and putting it
  // back.
  struct Mark {
    double prefix;
    [[no_unique_address]] Slot prefix_slot;
  };
  Mark mark() const noexcept { return {prefix, prefix_slot}; }
  void rewind(const Mark& before) noexcept {
    prefix = before.prefix;
    prefix_slot = before.prefix_slot;
  }

 private:
  [[gnu::always_inline]] void take(double x, std::uint32_t slot) noexcept {
    const bool takes = Order::beats(x, prefix);
    if constexpr (kFindsSlot) prefix_slot = takes ? static_cast<double>(slot) : prefix_slot;
    prefix = takes ? x : prefix;
  }
  // Folds the window from its end down to slot 1; an older value takes over
  // only by beating the newer ones strictly.
  void fold_suffixes(const Window& values) noexcept {
    const std::uint32_t last = values.size() - 1;
    double running = values[last];
    if constexpr (kFindsSlot) {
      double running_slot = static_cast<double>(last);
      for (std::uint32_t slot = last; slot != 0; --slot) {
        const double x = values[slot];
        const bool takes = !Order::beats(running, x);
        running = takes ? x : running;
        running_slot = takes ? static_cast<double>(slot) : running_slot;
        suffixes[slot] = running;
        suffix_slots[slot] = running_slot;
      }
    } else {
      for (std::uint32_t slot = last; slot != 0; --slot) {
        const double x = values[slot];
        running = Order::beats(running, x) ? running : x;
        suffixes[slot] = running;
      }
    }
  }
};

// The highest high and the lowest low of the last `length` bars, each side
// in a window of its own with its extreme; with kFindsSlots also the bars
// since each (Aroon). Not a class of its own: Midprice, Aroon, WilliamsR and
// the stochastics embed it.
template <bool kFindsSlots = false>
struct BarWindowRange {
  CircularWindow highs;
  CircularWindow lows;
  SlidingExtreme<Highest, kFindsSlots> highest;
  SlidingExtreme<Lowest, kFindsSlots> lowest;

  static Expected<BarWindowRange> create(std::uint32_t length) noexcept {
    auto highs = CircularWindow::create(length);
    if (!highs) return std::unexpected(highs.error());
    auto lows = CircularWindow::create(length);
    if (!lows) return std::unexpected(lows.error());
    auto highest = SlidingExtreme<Highest, kFindsSlots>::create(length);
    if (!highest) return std::unexpected(highest.error());
    auto lowest = SlidingExtreme<Lowest, kFindsSlots>::create(length);
    if (!lowest) return std::unexpected(lowest.error());
    return BarWindowRange{std::move(*highs), std::move(*lows), std::move(*highest),
                          std::move(*lowest)};
  }
  void push(double high, double low) noexcept {
    const std::uint32_t slot = highs.index;
    highs.push(high);
    lows.push(low);
    highest.admit(highs.values, slot);
    lowest.admit(lows.values, slot);
  }
  bool full() const noexcept { return highs.count == highs.period; }
  double highest_high() const noexcept { return highest.extreme(highs.index); }
  double lowest_low() const noexcept { return lowest.extreme(highs.index); }
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
  std::uint32_t since_highest() const noexcept
    requires kFindsSlots
  {
    return age(highest.extreme_slot(highs.index));
  }
  std::uint32_t since_lowest() const noexcept
    requires kFindsSlots
  {
    return age(lowest.extreme_slot(highs.index));
  }
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
using BarRange = BarWindowRange<false>;
using AgedBarRange = BarWindowRange<true>;

}  // namespace barworks::classic

namespace barworks {

// The extremes follow from the windows and are rebuilt on load.
template <bool kFindsSlots>
struct Checkpoint<classic::BarWindowRange<kFindsSlots>> {
  using R = classic::BarWindowRange<kFindsSlots>;
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
static_assert(checkpoint_layout::lists_every_member<classic::AgedBarRange>());

}  // namespace barworks
