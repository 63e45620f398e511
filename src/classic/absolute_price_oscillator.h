#pragma once

#include <array>
#include <cstdint>

#include "../error.h"
#include "../nan.h"
#include "../warmup.h"
#include "family.h"
#include "mean_pair.h"

namespace barworks::classic {

// The absolute price oscillator: the fast simple moving average less the
// slow one; the fast period must be below the slow one. Lookback slow_period - 1. A NaN or
// infinite input makes the answers NaN while it is in the slow window.
struct AbsolutePriceOscillator : OnMeans<AbsolutePriceOscillator> {
  MeanPair means;

  static Expected<AbsolutePriceOscillator> create(std::uint32_t fast_period,
                                                  std::uint32_t slow_period) noexcept {
    auto means = MeanPair::create(fast_period, slow_period);
    if (!means) return std::unexpected(means.error());
    return AbsolutePriceOscillator{{}, std::move(*means)};
  }
  double update(double x) noexcept { return answer(means.update(x)); }
  template <class Number>
  static Number answer(const std::array<Number, 2>& means) noexcept {
    // While the slow window fills, a number meets a NaN, whose sign the
    // compiled subtraction need not keep: the answer is made the one NaN.
    return canonical(means[0] - means[1]);
  }
  void reset() noexcept { means.reset(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::AbsolutePriceOscillator>
    : PriceOscillatorClass<classic::AbsolutePriceOscillator> {
  static constexpr const char* kName = "AbsolutePriceOscillator";
};

template <>
struct Checkpoint<classic::AbsolutePriceOscillator> {
  using R = classic::AbsolutePriceOscillator;
  static constexpr auto kFields = std::tuple{component<&R::means>("means")};
};
static_assert(checkpoint_layout::lists_every_member<classic::AbsolutePriceOscillator>());

template <>
struct LaneFields<classic::AbsolutePriceOscillator>
    : MeanLanes<classic::AbsolutePriceOscillator> {};

template <>
struct Warmup<classic::AbsolutePriceOscillator>
    : MeanPairWarmup<classic::AbsolutePriceOscillator> {};

}  // namespace barworks
