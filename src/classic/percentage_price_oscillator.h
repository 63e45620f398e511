#pragma once

#include <array>
#include <cstdint>

#include "../error.h"
#include "../nan.h"
#include "../warmup.h"
#include "family.h"
#include "mean_pair.h"

namespace barworks::classic {

// The percentage price oscillator: the difference of the fast and slow
// simple moving averages (the fast period below the slow one) in percent
// of the slow one:
//   result = ((fast - slow) / slow) * 100
// Lookback slow_period - 1. A slow average of 0 answers 0.0, as TA-Lib
// does. A NaN or infinite input makes the answers NaN while it is in the
// slow window.
struct PercentagePriceOscillator : OnMeans<PercentagePriceOscillator> {
  MeanPair means;

  static Expected<PercentagePriceOscillator> create(std::uint32_t fast_period,
                                                    std::uint32_t slow_period) noexcept {
    auto means = MeanPair::create(fast_period, slow_period);
    if (!means) return std::unexpected(means.error());
    return PercentagePriceOscillator{{}, std::move(*means)};
  }
  double update(double x) noexcept { return answer(means.update(x)); }
  template <class Number>
  static Number answer(const std::array<Number, 2>& means) noexcept {
    const Number fast = means[0], slow = means[1];
    const Number percentage = ((fast - slow) / slow) * 100.0;
    // The fast mean may be a number while the slow one is NaN: the answer
    // is made the one NaN, as in AbsolutePriceOscillator.
    return select(slow == 0.0, splat<Number>(0.0), canonical(percentage));
  }
  void reset() noexcept { means.reset(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::PercentagePriceOscillator>
    : PriceOscillatorClass<classic::PercentagePriceOscillator> {
  static constexpr const char* kName = "PercentagePriceOscillator";
};

template <>
struct Checkpoint<classic::PercentagePriceOscillator> {
  using R = classic::PercentagePriceOscillator;
  static constexpr auto kFields = std::tuple{component<&R::means>("means")};
};
static_assert(checkpoint_layout::lists_every_member<classic::PercentagePriceOscillator>());

template <>
struct LaneFields<classic::PercentagePriceOscillator>
    : MeanLanes<classic::PercentagePriceOscillator> {};

template <>
struct Warmup<classic::PercentagePriceOscillator>
    : MeanPairWarmup<classic::PercentagePriceOscillator> {};

}  // namespace barworks
