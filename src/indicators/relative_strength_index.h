#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "../describe.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../window.h"
#include "../warmup.h"

namespace barworks {

// Relative strength index over the last `period` changes, each change being
// an input minus the one before it (the first against 0.0). Every update
// rescans the whole window in slot order, summing the positive changes into
// gain and subtracting the others (zero, negative, NaN) from loss, then
//   rs = (gain / n) / (loss / n);  result = 100 - 100 / (rs + 1)
// with n the count of changes taken, capped at `period`. No running sums:
// a NaN spoils only the results while its change is in the window. Gains
// only give 100, losses only 0, an all-zero window 0 / 0, hence NaN.
struct RelativeStrengthIndex {
  CircularWindow changes;
  double previous;

  static Expected<RelativeStrengthIndex> create(std::uint32_t period) noexcept;
  double update(double x) noexcept { return advance(*this, x, changes, previous); }
  void reset() noexcept;
  std::uint32_t length() const noexcept { return changes.period; }

  // The rule over a number type, for a lone index or lanes side by side.
  template <class Number, class Window>
  static Number advance(const RelativeStrengthIndex& shared, Number x, Window& changes,
                        Number& previous) noexcept {
    x = canonical(x);
    const Number change = x - previous;
    previous = x;
    changes.push(change);
    const auto [average_gain, average_loss] = averages(changes, shared.changes.period);
    const Number rs = average_gain / average_loss;
    return splat<Number>(100.0) - splat<Number>(100.0) / (rs + splat<Number>(1.0));
  }

  // Both sums take every slot, in slot order, the one that does not own a
  // change taking an exact identity instead: gain - -c is gain + c bit for
  // bit (gain never holds NaN, as it takes only positive changes), and
  // gain - +0.0 and loss - +0.0 return the sum unchanged, signed zeros
  // included. The parts are chosen on the bits, so random data meets no
  // branch to mispredict. A lone window takes two slots at a time, its two
  // sums side by side in one pair; lanes side by side take one slot of
  // each lane at a time, a pair of gains and a pair of losses, and add a
  // rise itself to the gains, one operation fewer: gain + c and gain + +0.0
  // are gain - -c and gain - +0.0, as gain starts at +0.0 and never holds
  // -0.0. Their parts are one maxpd and one minpd: max(c, +0.0) is c where
  // it rose and +0.0 elsewhere, NaN included; min(+0.0, c) is +0.0 where it
  // rose and c itself elsewhere, a NaN or a -0.0 too.
  template <class Window>
  static std::array<double, 2> averages(const Window& changes, std::uint32_t period) noexcept {
    DoublePair sums{0.0, 0.0};
    std::uint32_t slot = 0;
    for (; slot + 2 <= period; slot += 2) {
      const auto [gain_parts, loss_parts] = parts(DoublePair{changes.slot(slot), changes.slot(slot + 1)});
      sums -= DoublePair{gain_parts[0], loss_parts[0]};
      sums -= DoublePair{gain_parts[1], loss_parts[1]};
    }
    if (slot < period) {
      const auto [gain_parts, loss_parts] = parts(DoublePair{changes.slot(slot), 0.0});
      sums -= DoublePair{gain_parts[0], loss_parts[0]};
    }
    // Both averages in one division.
    const DoublePair both = sums / changes.filled();
    return {both[0], both[1]};
  }
  template <class Window>
    requires std::is_same_v<decltype(std::declval<const Window&>().filled()), DoublePair>
  static std::array<DoublePair, 2> averages(const Window& changes, std::uint32_t period) noexcept {
    constexpr DoublePair kZero{0.0, 0.0};
    DoublePair gains = kZero;
    DoublePair losses = kZero;
    // Two slots a pass, in order: half the loop's counting and branches.
#pragma GCC unroll 2
    for (std::uint32_t slot = 0; slot < period; ++slot) {
      const DoublePair change = changes.slot(slot);
      gains += greater_or_second(change, kZero);
      losses -= less_or_second(kZero, change);
    }
    const DoublePair count = changes.filled();
    return {gains / count, losses / count};
  }
  // The (negated gain, loss) parts of two changes.
  static std::array<DoublePair, 2> parts(DoublePair changes) noexcept {
    const LaneMask rose = changes > DoublePair{0.0, 0.0};
    const DoublePair negated = std::bit_cast<DoublePair>(
        std::bit_cast<LaneMask>(changes) ^ std::bit_cast<LaneMask>(DoublePair{-0.0, -0.0}));
    return {select(rose, negated, DoublePair{0.0, 0.0}), select(rose, DoublePair{0.0, 0.0}, changes)};
  }
};

template <>
struct PythonClass<RelativeStrengthIndex> : PeriodIndicator<RelativeStrengthIndex> {
  static constexpr const char* kName = "RelativeStrengthIndex";
};

template <>
struct Checkpoint<RelativeStrengthIndex> {
  using R = RelativeStrengthIndex;
  static constexpr auto kFields = std::tuple{
      component<&R::changes>("changes"), number<&R::previous>("previous"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.changes); },
              "the count must not pass the period")};
};

// The first change needs the input before it: lookback period.
template <>
struct LaneFields<RelativeStrengthIndex> {
  using List = FieldList<&RelativeStrengthIndex::changes, &RelativeStrengthIndex::previous>;
};

template <>
struct Warmup<RelativeStrengthIndex> {
  using R = RelativeStrengthIndex;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.changes.count; }
};

}  // namespace barworks
