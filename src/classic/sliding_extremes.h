// The most extreme value of a sliding window in amortised O(1) a step, shared
// by the classes that answer from a window's range (Midpoint, Midprice,
// Aroon, WilliamsR, the stochastics). Not a class of its own.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>

#include "../branch_free.h"
#include "../checkpoint.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../window.h"

namespace barworks::classic {

// Which of two numbers is more extreme, the newer on a tie, so that the
// extreme's slot is the newest of equal extremes (Aroon counts its periods
// from it) and of 0.0 and -0.0 the newer is kept. `pick` is one maxsd or
// minsd; `keeps_or` gives `kept` where the older is strictly more extreme,
// else `otherwise`, without a branch. kNone loses to every number. NaN is
// not ordered here: NanWatch tells whether a window holds one, and its
// extreme is then NaN.
struct Highest {
  static constexpr double kNone = -std::numeric_limits<double>::infinity();
  template <class Number>
  static Number keeps_or(Number older, Number newer, Number kept, Number otherwise) noexcept {
    return chosen_above(older, newer, kept, otherwise);
  }
  template <class Number>
  static Number pick(Number older, Number newer) noexcept {
    return greater_or_second(older, newer);
  }
};
struct Lowest {
  static constexpr double kNone = std::numeric_limits<double>::infinity();
  template <class Number>
  static Number keeps_or(Number older, Number newer, Number kept, Number otherwise) noexcept {
    return chosen_above(newer, older, kept, otherwise);
  }
  template <class Number>
  static Number pick(Number older, Number newer) noexcept {
    return less_or_second(older, newer);
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
// wins. suffixes[0] stays kNone: a full block is its own window. Of a
// window holding a NaN the extreme means nothing (see NanWatch).
// With kFindsSlot the slots of the extremes ride along (Aroon's ages), as
// doubles, exact below 2^53, so that two lanes' pick theirs side by side.
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
  [[no_unique_address]] Slots suffix_slots;
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

  // The same with the slots of the extremes, the prefix's in `prefix_slot`
  // and the suffixes' in `suffix_slots`.
  template <class Number, class Values, class Suffixes>
  [[gnu::always_inline]] static void admit(const Values& values, std::uint32_t period,
                                           std::uint32_t slot, Number x, Suffixes& suffixes,
                                           Suffixes& suffix_slots, Number& prefix,
                                           Number& prefix_slot) noexcept
    requires kFindsSlot
  {
    if (slot == 0) [[unlikely]] {
      fold_with_slots(values, period, suffixes, suffix_slots);
      prefix = splat<Number>(Order::kNone);
    }
    take(x, slot, prefix, prefix_slot);
  }
  // The slot of the window's extreme, the newest of equal extremes.
  template <class Number, class Suffixes>
  [[gnu::always_inline]] static Number extreme_slot_of(const Suffixes& suffixes,
                                                       const Suffixes& suffix_slots,
                                                       Number prefix, Number prefix_slot,
                                                       std::uint32_t oldest) noexcept {
    return Order::keeps_or(Number(suffixes[oldest]), prefix, Number(suffix_slots[oldest]),
                  prefix_slot);
  }

  // The rule over a number type, for a lone window or lanes side by side:
  // takes x, just written to slot `slot` of `values` (read by slot(place)),
  // into `prefix`, the step that starts a block first folding the block
  // before it into `suffixes`.
  template <class Number, class Values, class Suffixes>
  [[gnu::always_inline]] static void admit(const Values& values, std::uint32_t period,
                                           std::uint32_t slot, Number x, Suffixes& suffixes,
                                           Number& prefix) noexcept
    requires(!kFindsSlot)
  {
    if (slot == 0) [[unlikely]] {
      fold_into(values, period, suffixes);
      prefix = splat<Number>(Order::kNone);
    }
    prefix = Order::pick(prefix, x);
  }
  // The window's extreme from its suffixes and prefix; `oldest` is the
  // window's oldest slot (its write slot), and the window must hold an input.
  template <class Number, class Suffixes>
  [[gnu::always_inline]] static Number extreme_of(const Suffixes& suffixes, Number prefix,
                                                  std::uint32_t oldest) noexcept {
    const Number older = suffixes[oldest];
    return Order::pick(older, prefix);
  }

  double extreme(std::uint32_t oldest) const noexcept {
    return extreme_of(suffixes, prefix, oldest);
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
    if constexpr (kFindsSlot) {
      fold_with_slots(window, window.period, suffixes, suffix_slots);
    } else {
      fold_into(window, window.period, suffixes);
    }
    clear();
    // The current block is the slots before the write slot, or the whole
    // window when it is full and the next input starts a block.
    const bool full = window.count >= window.period;
    const std::uint32_t written = window.index == 0 && full ? window.period : window.index;
    for (std::uint32_t slot = 0; slot < written; ++slot) {
      take(window.values[slot], slot, prefix, prefix_slot);
    }
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
  // x, written to `slot`, into the prefix (and its slot).
  template <class Number, class PrefixSlot>
  [[gnu::always_inline]] static void take(Number x, std::uint32_t slot, Number& prefix,
                                          PrefixSlot& prefix_slot) noexcept {
    if constexpr (kFindsSlot) {
      prefix_slot = Order::keeps_or(prefix, x, prefix_slot, splat<Number>(slot));
    }
    prefix = Order::pick(prefix, x);
  }
  // Folds the window from its end down to slot 1, over a lone window or
  // lanes side by side; an older value takes over only by beating the newer
  // ones strictly.
  template <class Values, class Suffixes>
  static void fold_with_slots(const Values& values, std::uint32_t period, Suffixes& suffixes,
                              Suffixes& suffix_slots) noexcept
    requires kFindsSlot
  {
    const std::uint32_t last = period - 1;
    auto running = values.slot(last);
    using Number = decltype(running);
    Number running_slot = splat<Number>(last);
    for (std::uint32_t slot = last; slot != 0; --slot) {
      const Number x = values.slot(slot);
      running_slot = Order::keeps_or(x, running, splat<Number>(slot), running_slot);
      running = Order::pick(x, running);
      suffixes[slot] = running;
      suffix_slots[slot] = running_slot;
    }
  }
  // The same without the slots, over a lone window or lanes side by side.
  template <class Values, class Suffixes>
  static void fold_into(const Values& values, std::uint32_t period, Suffixes& suffixes) noexcept {
    auto running = values.slot(period - 1);
    for (std::uint32_t slot = period - 1; slot != 0; --slot) {
      running = Order::pick(values.slot(slot), running);
      suffixes[slot] = running;
    }
  }
};

// The inputs since the latest NaN (or since the first), which tells whether
// a window holds a NaN; a window's extremes are NaN while it does. Its
// `rebuild` counts them again from the windows.
struct NanWatch {
  std::uint64_t since;

  void admit(bool nan) noexcept { since = nan ? 0 : since + 1; }
  bool within(std::uint32_t length) const noexcept { return since < length; }
  void clear() noexcept { since = 0; }
  template <class... Windows>
  void rebuild(const Windows&... windows) noexcept {
    since = std::min({numbers_at_end(windows)...});
  }

  std::uint64_t mark() const noexcept { return since; }
  void rewind(std::uint64_t before) noexcept { since = before; }

 private:
  // The window's inputs from its latest back to its latest NaN.
  static std::uint64_t numbers_at_end(const CircularWindow& window) noexcept {
    std::uint32_t slot = window.index;
    for (std::uint32_t taken = 0; taken < window.count; ++taken) {
      slot = slot == 0 ? window.period - 1 : slot - 1;
      if (window.values[slot] != window.values[slot]) return taken;
    }
    return window.count;
  }
};

// A window's extremes after a step, and whether a NaN in the window blanks
// them (a bool, or a mask of lanes).
template <class Number, class Blank>
struct TakenExtremes {
  Number highest;
  Number lowest;
  Blank blank;
};

// The bars since a window's highest high and lowest low after a step (0 for
// the latest), and whether a NaN in the window blanks them.
template <class Number, class Blank>
struct AgedExtremes {
  Number since_highest;
  Number since_lowest;
  Blank blank;
};

// The rule over a number type, for a lone record or lanes side by side: the
// input just written to slot `slot` of `highs` and of `lows` (one window
// passed twice where both extremes are of one series), `nan` telling
// whether it held a NaN, taken into the NaN watch and both extremes;
// answers the window's extremes.
template <class Number, class Nan, class Highs, class Lows, class Suffixes, class Nans>
[[gnu::always_inline]] inline auto take_extremes(std::uint32_t period, std::uint32_t slot,
                                                 Number high, Number low, Nan nan,
                                                 const Highs& highs, const Lows& lows,
                                                 Suffixes& high_suffixes, Suffixes& low_suffixes,
                                                 Number& high_prefix, Number& low_prefix,
                                                 Nans& nans) noexcept {
  nans.admit(nan);
  SlidingExtreme<Highest>::admit(highs, period, slot, high, high_suffixes, high_prefix);
  SlidingExtreme<Lowest>::admit(lows, period, slot, low, low_suffixes, low_prefix);
  const std::uint32_t oldest = next_slot(slot, period);
  return TakenExtremes{SlidingExtreme<Highest>::extreme_of(high_suffixes, high_prefix, oldest),
                       SlidingExtreme<Lowest>::extreme_of(low_suffixes, low_prefix, oldest),
                       nans.within(period)};
}

// The highest high and the lowest low of the last `length` bars, each side
// in a window of its own with its extreme, both NaN while a NaN high or low
// is in the window; with kFindsSlots also the bars since each (Aroon). Not
// a class of its own: Midprice, Aroon, WilliamsR and the stochastics embed
// it.
template <bool kFindsSlots = false>
struct BarWindowRange {
  CircularWindow highs;
  CircularWindow lows;
  SlidingExtreme<Highest, kFindsSlots> highest;
  SlidingExtreme<Lowest, kFindsSlots> lowest;
  NanWatch nans;

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
                          std::move(*lowest), NanWatch{0}};
  }
  void push(double high, double low) noexcept
    requires(!kFindsSlots)
  {
    (void)advance(*this, high, low, highs, lows, highest.suffixes, lowest.suffixes,
                  highest.prefix, lowest.prefix, nans);
  }
  // One bar's high and low, with the bars since the extremes: the rule
  // below on the range's own fields.
  [[gnu::always_inline]] AgedExtremes<double, bool> push_aged(double high, double low) noexcept
    requires kFindsSlots
  {
    return with_lane_fields(*this, [&](auto&... fields) __attribute__((always_inline)) {
      return advance(*this, high, low, fields...);
    });
  }
  // The rule over a number type, for a lone range or lanes side by side:
  // one bar's high and low into the windows and their extremes.
  template <class Number, class Values, class Suffixes, class Nans>
  [[gnu::always_inline]] static auto advance(const BarWindowRange& shared, Number high,
                                             Number low, Values& highs, Values& lows,
                                             Suffixes& high_suffixes, Suffixes& low_suffixes,
                                             Number& high_prefix, Number& low_prefix,
                                             Nans& nans) noexcept
    requires(!kFindsSlots)
  {
    const auto [slot, nan] = push_bar(high, low, highs, lows);
    return take_extremes(shared.length(), slot, high, low, nan, highs, lows, high_suffixes,
                         low_suffixes, high_prefix, low_prefix, nans);
  }
  // The same with the slots of the extremes, answering the bars since each.
  template <class Number, class Values, class Suffixes, class Nans>
  [[gnu::always_inline]] static auto advance(const BarWindowRange& shared, Number high,
                                             Number low, Values& highs, Values& lows,
                                             Suffixes& high_suffixes, Suffixes& low_suffixes,
                                             Suffixes& high_suffix_slots,
                                             Suffixes& low_suffix_slots, Number& high_prefix,
                                             Number& low_prefix, Number& high_prefix_slot,
                                             Number& low_prefix_slot, Nans& nans) noexcept
    requires kFindsSlots
  {
    using Highs = SlidingExtreme<Highest, true>;
    using Lows = SlidingExtreme<Lowest, true>;
    const std::uint32_t period = shared.length();
    const auto [slot, nan] = push_bar(high, low, highs, lows);
    nans.admit(nan);
    Highs::admit(highs, period, slot, high, high_suffixes, high_suffix_slots, high_prefix,
                 high_prefix_slot);
    Lows::admit(lows, period, slot, low, low_suffixes, low_suffix_slots, low_prefix,
                low_prefix_slot);
    // The latest bar went to `slot`; an extreme in a later slot came a
    // window before.
    const std::uint32_t oldest = next_slot(slot, period);
    const auto age = [&](Number extreme_slot) {
      const Number back = splat<Number>(slot) - extreme_slot;
      return select(back < 0.0, back + static_cast<double>(period), back);
    };
    return AgedExtremes{
        age(Highs::extreme_slot_of(high_suffixes, high_suffix_slots, high_prefix,
                                   high_prefix_slot, oldest)),
        age(Lows::extreme_slot_of(low_suffixes, low_suffix_slots, low_prefix, low_prefix_slot,
                                  oldest)),
        nans.within(period)};
  }
  // What both rules take first: the bar's high and low, each NaN made the
  // one NaN, into the windows; the slot they went to, and whether either was
  // NaN.
  template <class Number, class Values>
  [[gnu::always_inline]] static auto push_bar(Number& high, Number& low, Values& highs,
                                              Values& lows) noexcept {
    const std::uint32_t slot = highs.write_slot();
    const auto nan = (high != high) | (low != low);
    high = canonical(high);
    low = canonical(low);
    highs.push(high);
    lows.push(low);
    return std::pair{slot, nan};
  }
  // advance(), then what `answer(highest, lowest)` makes of the window's
  // extremes, or NaN while a NaN is in the window.
  template <class Number, class Answer, class... Fields>
  [[gnu::always_inline]] static Number answered(const BarWindowRange& shared, Number high,
                                                Number low, Answer answer,
                                                Fields&... fields) noexcept
    requires(!kFindsSlots)
  {
    const auto taken = advance(shared, high, low, fields...);
    return select(taken.blank, splat<Number>(kNaN), answer(taken.highest, taken.lowest));
  }
  // A record's advance() on this range's fields, then on its own `more`,
  // for a bar of a high, a low and a close.
  template <class Record, class... More>
  [[gnu::always_inline]] auto advance_on_fields(const Record& shared, double high, double low,
                                                double close, More&... more) noexcept
    requires(!kFindsSlots)
  {
    return Record::advance(shared, 0.0, high, low, close, 0.0, highs, lows, highest.suffixes,
                           lowest.suffixes, highest.prefix, lowest.prefix, nans, more...);
  }
  bool full() const noexcept { return highs.count == highs.period; }
  double highest_high() const noexcept {
    return nans.within(length()) ? kNaN : highest.extreme(highs.index);
  }
  double lowest_low() const noexcept {
    return nans.within(length()) ? kNaN : lowest.extreme(highs.index);
  }
  // The highest high less the lowest low, or 0.0 where the batch libraries
  // read no range: under 1e-14 of the sum of its ends, a range is an ulp or
  // two of rounding at the prices' level (a relative strength index still
  // for a while), not a move.
  double spread() const noexcept { return spread_of(highest_high(), lowest_low()); }
  template <class Number>
  static Number spread_of(Number highest, Number lowest) noexcept {
    const Number spread = highest - lowest;
    const Number relative = spread / (highest + lowest);
    return select((relative > -1e-14) & (relative < 1e-14), splat<Number>(0.0), spread);
  }
  void clear() noexcept {
    highs.clear();
    lows.clear();
    highest.clear();
    lowest.clear();
    nans.clear();
  }
  std::uint32_t length() const noexcept { return highs.period; }
  bool rebuild_highest() noexcept { return highest.rebuild(highs); }
  bool rebuild_lowest() noexcept { return lowest.rebuild(lows); }
  bool rebuild_nans() noexcept {
    nans.rebuild(highs, lows);
    return true;
  }
};
using BarRange = BarWindowRange<false>;
using AgedBarRange = BarWindowRange<true>;

}  // namespace barworks::classic

namespace barworks {

// The fields an aged range's step reads and writes, in the order its
// advance() takes them.
template <>
struct LaneFields<classic::AgedBarRange> {
  using R = classic::AgedBarRange;
  using Highs = classic::SlidingExtreme<classic::Highest, true>;
  using Lows = classic::SlidingExtreme<classic::Lowest, true>;
  using List = FieldList<&R::highs, &R::lows, within<&R::highest, &Highs::suffixes>,
                         within<&R::lowest, &Lows::suffixes>,
                         within<&R::highest, &Highs::suffix_slots>,
                         within<&R::lowest, &Lows::suffix_slots>,
                         within<&R::highest, &Highs::prefix>, within<&R::lowest, &Lows::prefix>,
                         within<&R::highest, &Highs::prefix_slot>,
                         within<&R::lowest, &Lows::prefix_slot>, &R::nans>;
};

}  // namespace barworks

namespace barworks::classic {

// The fields a range lays out side by side in a universe, reached through
// the member `Outer` that holds it, in the order BarRange::advance takes
// them.
template <auto Outer>
using RangeFields = FieldList<
    within<Outer, &BarRange::highs>, within<Outer, &BarRange::lows>,
    within<Outer, within<&BarRange::highest, &SlidingExtreme<Highest>::suffixes>>,
    within<Outer, within<&BarRange::lowest, &SlidingExtreme<Lowest>::suffixes>>,
    within<Outer, within<&BarRange::highest, &SlidingExtreme<Highest>::prefix>>,
    within<Outer, within<&BarRange::lowest, &SlidingExtreme<Lowest>::prefix>>,
    within<Outer, &BarRange::nans>>;

// Steps of highs and lows from columns (read by index) through windows
// and their extremes as a record's steps take them (`take(i)`, the
// record's own update, takes step i whole), with each full window's
// highest high and lowest low (NaN while a NaN is in the window) going to
// then(highest, lowest, i), which answers step i. Once the windows are
// full and their next slot is 0, the blocks are stepped from the columns:
// the previous block's suffixes folded into the extremes' own, each step's
// extreme the better of its block's so far and the suffix from the
// window's oldest, the same picks in the same order as admit() and
// extreme() make. The windows then take the last block, the extremes and
// the NaN watch are found again from them, and the steps after the last
// whole block go to take(). A record with one window passes it twice.
template <class Highs, class Lows, class Take, class Then>
[[gnu::always_inline]] inline void run_window_extremes(
    CircularWindow& high_window, CircularWindow& low_window, SlidingExtreme<Highest>& highest,
    SlidingExtreme<Lowest>& lowest, NanWatch& watch, std::size_t size, const Highs& highs,
    const Lows& lows, Take take, Then then) noexcept {
  const std::size_t period = high_window.period;
  std::size_t i = 0;
  for (; i < size && !(high_window.count == period && high_window.index == 0); ++i) take(i);
  if (i + period > size) {
    for (; i < size; ++i) take(i);
    return;
  }
  double* high_suffixes = &highest.suffixes[0];
  double* low_suffixes = &lowest.suffixes[0];
  // A block folded from its end into the suffixes, its inputs read by slot.
  const auto fold = [&](auto high_at, auto low_at) {
    double high_suffix = high_at(period - 1), low_suffix = low_at(period - 1);
    for (std::size_t slot = period - 1; slot != 0; --slot) {
      high_suffix = Highest::pick(high_at(slot), high_suffix);
      low_suffix = Lowest::pick(low_at(slot), low_suffix);
      high_suffixes[slot] = high_suffix;
      low_suffixes[slot] = low_suffix;
    }
  };
  // The first block's predecessor is in the windows.
  fold([&](std::size_t slot) { return high_window.values[static_cast<std::uint32_t>(slot)]; },
       [&](std::size_t slot) { return low_window.values[static_cast<std::uint32_t>(slot)]; });
  NanWatch nans = watch;
  std::size_t block = i;
  for (;;) {
    double high_prefix = Highest::kNone, low_prefix = Lowest::kNone;
    for (std::size_t j = 0; j < period; ++j) {
      const double high = highs[block + j], low = lows[block + j];
      nans.admit(std::isunordered(high, low));
      high_prefix = Highest::pick(high_prefix, high);
      low_prefix = Lowest::pick(low_prefix, low);
      const bool last = j + 1 == period;
      const double high_extreme =
          last ? high_prefix : Highest::pick(high_suffixes[j + 1], high_prefix);
      const double low_extreme = last ? low_prefix : Lowest::pick(low_suffixes[j + 1], low_prefix);
      const bool blank = nans.within(static_cast<std::uint32_t>(period));
      then(blank ? kNaN : high_extreme, blank ? kNaN : low_extreme, block + j);
    }
    if (block + 2 * period > size) break;
    // This block's suffixes, for the next.
    fold([&](std::size_t slot) { return highs[block + slot]; },
         [&](std::size_t slot) { return lows[block + slot]; });
    block += period;
  }
  for (std::uint32_t slot = 0; slot < period; ++slot) {
    high_window.values[slot] = canonical(highs[block + slot]);
    low_window.values[slot] = canonical(lows[block + slot]);
  }
  // The extremes are of the windows' length already, so nothing is
  // allocated and nothing can fail.
  (void)highest.rebuild(high_window);
  (void)lowest.rebuild(low_window);
  watch.rebuild(high_window, low_window);
  for (i = block + period; i < size; ++i) take(i);
}

// A window's extremes held until the next bar's come, so that an answer
// made of them is taken two bars at a time, side by side:
// answer(highest, lowest, i) with doubles for bar i alone, or with pairs
// for bars i and i + 1. flush() answers a bar still held.
class PairedExtremes {
 public:
  template <class Answer>
  [[gnu::always_inline]] void take(double highest, double lowest, std::size_t i,
                                   Answer& answer) noexcept {
    if (held_ && i == at_ + 1) {
      answer(DoublePair{highest_, highest}, DoublePair{lowest_, lowest}, at_);
      held_ = false;
      return;
    }
    flush(answer);
    highest_ = highest;
    lowest_ = lowest;
    at_ = i;
    held_ = true;
  }
  template <class Answer>
  [[gnu::always_inline]] void flush(Answer& answer) noexcept {
    if (held_) answer(highest_, lowest_, at_);
    held_ = false;
  }

 private:
  double highest_ = 0.0;
  double lowest_ = 0.0;
  std::size_t at_ = 0;
  bool held_ = false;
};

// The same over a bar range's windows.
template <class Highs, class Lows, class Take, class Then>
[[gnu::always_inline]] inline void run_bar_range(BarRange& range, std::size_t size,
                                                 const Highs& highs, const Lows& lows,
                                                 Take take, Then then) noexcept {
  run_window_extremes(range.highs, range.lows, range.highest, range.lowest, range.nans, size,
                      highs, lows, take, then);
}

}  // namespace barworks::classic

namespace barworks {

// The extremes follow from the windows and are rebuilt on load.
template <bool kFindsSlots>
struct Checkpoint<classic::BarWindowRange<kFindsSlots>> {
  using R = classic::BarWindowRange<kFindsSlots>;
  static constexpr auto kFields = std::tuple{
      component<&R::highs>("highs"), component<&R::lows>("lows"),
      rebuilt<&R::highest, &R::rebuild_highest>(), rebuilt<&R::lowest, &R::rebuild_lowest>(),
      rebuilt<&R::nans, &R::rebuild_nans>(),
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
