#pragma once

#include <cmath>
#include <cstdint>
#include <utility>

#include "../candle.h"
#include "../error.h"
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
    if (typical.count == 0 &&
        (bar.high != bar.high || bar.low != bar.low || bar.close != bar.close)) [[unlikely]] {
      return kNotYet;
    }
    const double price = canonical((bar.high + bar.low + bar.close) / 3.0);
    typical.push(price);
    if (typical.count < typical.period) return kNotYet;
    const double period = static_cast<double>(typical.period);
    const double mean = oldest_first([](double total, double x) { return total + x; }) / period;
    const double deviation =
        oldest_first([mean](double total, double x) { return total + std::fabs(x - mean); });
    if (deviation == 0.0) return 0.0;
    return canonical((price - mean) / (0.015 * (deviation / period)));
  }
  void reset() noexcept { typical.clear(); }
  std::uint32_t length() const noexcept { return typical.period; }

 private:
  template <class Add>
  double oldest_first(Add add) const noexcept {
    double total = 0.0;
    for (std::uint32_t slot = typical.index; slot < typical.period; ++slot) {
      total = add(total, typical.values[slot]);
    }
    for (std::uint32_t slot = 0; slot < typical.index; ++slot) {
      total = add(total, typical.values[slot]);
    }
    return total;
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
