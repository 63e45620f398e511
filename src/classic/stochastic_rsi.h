#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "../error.h"
#include "../nan.h"
#include "../warmup.h"
#include "family.h"
#include "relative_strength_index.h"
#include "stochastic_fast.h"

namespace barworks::classic {

// The fast stochastic of the relative strength index: (fastk, fastd), the
// fast stochastic over `fastk_period` and `fastd_period` whose high, low and
// close are each the RSI over `period` closes. fastk is 0 for a window of
// equal RSI, as TA-Lib answers. Lookback period + fastk_period - 1 +
// fastd_period - 1.
struct StochasticRsi {
  RelativeStrengthIndex rsi;
  StochasticFast stochastic;

  static Expected<StochasticRsi> create(std::uint32_t period, std::uint32_t fastk_period,
                                        std::uint32_t fastd_period) noexcept {
    auto strength = RelativeStrengthIndex::create(period);
    if (!strength) return std::unexpected(strength.error());
    auto fast = StochasticFast::create(fastk_period, fastd_period);
    if (!fast) return std::unexpected(fast.error());
    return StochasticRsi{std::move(*strength), std::move(*fast)};
  }
  std::array<double, 2> update(double x) noexcept {
    if (steady()) [[likely]] {
      BarRange& range = stochastic.range;
      return advance(*this, x, rsi.previous, rsi.gains.average, rsi.losses.average, range.highs,
                     range.lows, range.highest.suffixes, range.lowest.suffixes,
                     range.highest.prefix, range.lowest.prefix, range.nans,
                     stochastic.fastd.window, stochastic.fastd.sum);
    }
    const double strength = rsi.update(x);
    return stochastic.step(strength, strength, strength);
  }
  // Once the strength and the stochastic are steady, their rules over a
  // number type, for a lone record or lanes side by side.
  bool steady() const noexcept { return rsi.steady() && stochastic.steady(); }
  template <class Number, class Values, class Suffixes, class Nans, class Averaged>
  [[gnu::always_inline]] static std::array<Number, 2> advance(
      const StochasticRsi& shared, Number x, Number& previous, Number& average_gain,
      Number& average_loss, Values& highs, Values& lows, Suffixes& high_suffixes,
      Suffixes& low_suffixes, Number& high_prefix, Number& low_prefix, Nans& nans,
      Averaged& fastks, Number& fastk_sum) noexcept {
    const Number strength =
        RelativeStrengthIndex::advance(shared.rsi, x, previous, average_gain, average_loss);
    return StochasticFast::advance(shared.stochastic, strength, strength, strength, strength,
                                   strength, highs, lows, high_suffixes, low_suffixes,
                                   high_prefix, low_prefix, nans, fastks, fastk_sum);
  }
  void reset() noexcept {
    rsi.reset();
    stochastic.reset();
  }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::StochasticRsi> {
  using R = classic::StochasticRsi;
  static constexpr const char* kName = "StochasticRsi";
  static constexpr std::array kAnswers{"fastk", "fastd"};
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor =
      constructor<&R::create>(with_default("period", 14), with_default("fastk_period", 5),
                              with_default("fastd_period", 3));
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

template <>
struct LaneFields<classic::StochasticRsi> {
  using R = classic::StochasticRsi;
  using List = Joined<within_all<&R::rsi, LaneFields<classic::RelativeStrengthIndex>::List>,
                      within_all<&R::stochastic, LaneFields<classic::StochasticFast>::List>>;
};

template <>
struct Checkpoint<classic::StochasticRsi> {
  using R = classic::StochasticRsi;
  static constexpr auto kFields = std::tuple{
      component<&R::rsi>("rsi"), component<&R::stochastic>("stochastic")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::StochasticRsi>());

template <>
struct Warmup<classic::StochasticRsi> {
  using R = classic::StochasticRsi;
  static std::uint64_t lookback(const R& r) noexcept {
    return Warmup<classic::RelativeStrengthIndex>::lookback(r.rsi) + r.stochastic.lookback();
  }
  static std::uint64_t inputs_seen(const R& r) noexcept {
    const std::uint64_t taken = r.stochastic.inputs_seen();
    return taken != 0 ? taken + Warmup<classic::RelativeStrengthIndex>::lookback(r.rsi)
                      : Warmup<classic::RelativeStrengthIndex>::inputs_seen(r.rsi);
  }
};

}  // namespace barworks
