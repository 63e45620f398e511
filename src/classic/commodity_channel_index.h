#pragma once

#include <cmath>
#include <cstdint>
#include <utility>

#include "../candle.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../warmup.h"
#include "../window.h"
#include "family.h"

namespace barworks::classic {

// The commodity channel index of the last `period` bars:
// (typical - mean) / (0.015 * deviation), where typical = (high + low +
// close) / 3, mean the typical prices' mean and deviation their mean
// absolute deviation from it; 0 where that deviation is 0, as TA-Lib
// answers. The deviation needs a pass over the window, so a step costs
// O(period); mean and deviation are summed oldest first. Lookback
// period - 1. Bars before the first whose high, low and close are all
// numbers are skipped.
struct CommodityChannelIndex {
  CircularWindow typical;

  static Expected<CommodityChannelIndex> create(std::uint32_t period) noexcept {
    auto window = CircularWindow::create(period);
    if (!window) return std::unexpected(window.error());
    return CommodityChannelIndex{std::move(*window)};
  }
  double update(const Candle& bar) noexcept {
    if (steady()) [[likely]] {
      return advance(*this, bar.open, bar.high, bar.low, bar.close, bar.volume, typical);
    }
    if (typical.count == 0 &&
        (bar.high != bar.high || bar.low != bar.low || bar.close != bar.close)) [[unlikely]] {
      return kNotYet;
    }
    const double price = canonical((bar.high + bar.low + bar.close) / 3.0);
    typical.push(price);
    if (typical.count < typical.period) return kNotYet;
    // The window is full: the oldest price is in the slot written next.
    return answer(typical.slots(), typical.period, typical.index, price);
  }
  // Once the window is full, the rule over a number type: a lone record's,
  // a universe's lane's, or a pair of lanes' (whose windows write the same
  // slot), which takes the same steps on any input.
  bool steady() const noexcept { return typical.count == typical.period; }
  template <class Number, class Values>
  [[gnu::always_inline]] static Number advance(const CommodityChannelIndex& shared, Number,
                                               Number high, Number low, Number close, Number,
                                               Values& typical) noexcept {
    const std::uint32_t period = shared.typical.period;
    // After the push the oldest price is the one after it.
    const std::uint32_t oldest = next_slot(typical.write_slot(), period);
    const Number price = canonical((high + low + close) / 3.0);
    typical.push(price);
    return answer(typical.slots(), period, oldest, price);
  }
  void reset() noexcept { typical.clear(); }
  std::uint32_t length() const noexcept { return typical.period; }

 private:
  // The answer for `price`, the newest of a full window's, whose oldest
  // is in slot `oldest`.
  template <class Number, class Slots>
  [[gnu::always_inline]] static Number answer(Slots slots, std::uint32_t period,
                                              std::uint32_t oldest, Number price) noexcept {
    const double n = static_cast<double>(period);
    const auto oldest_first = [&](auto add) {
      Number total = splat<Number>(0.0);
      for (std::uint32_t slot = oldest; slot < period; ++slot) total = add(total, slots.slot(slot));
      for (std::uint32_t slot = 0; slot < oldest; ++slot) total = add(total, slots.slot(slot));
      return total;
    };
    const Number mean = oldest_first([](Number total, Number x) { return total + x; }) / n;
    const Number deviation = oldest_first(
        [mean](Number total, Number x) { return total + absolute(x - mean); });
    return select(deviation == 0.0, splat<Number>(0.0),
                  canonical((price - mean) / (0.015 * (deviation / n))));
  }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::CommodityChannelIndex>
    : ClassicPeriodIndicator<classic::CommodityChannelIndex> {
  static constexpr const char* kName = "CommodityChannelIndex";
  static constexpr auto kConstructor =
      constructor<&classic::CommodityChannelIndex::create>(with_default("period", 14));
};

// The window, read in full every step; a pair of lanes reads it side by
// side where both write the same slot.
template <>
struct LaneFields<classic::CommodityChannelIndex> {
  using List = FieldList<&classic::CommodityChannelIndex::typical>;
  static constexpr bool kReadsWindowSlots = true;
};

template <>
struct Checkpoint<classic::CommodityChannelIndex> {
  using R = classic::CommodityChannelIndex;
  static constexpr auto kFields = std::tuple{
      component<&R::typical>("typical"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.typical); },
              "the count must not pass the period")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::CommodityChannelIndex>());

template <>
struct Warmup<classic::CommodityChannelIndex> {
  static std::uint64_t lookback(const classic::CommodityChannelIndex& r) noexcept {
    return std::uint64_t{r.length()} - 1;
  }
  static std::uint64_t inputs_seen(const classic::CommodityChannelIndex& r) noexcept {
    return r.typical.count;
  }
};

}  // namespace barworks
