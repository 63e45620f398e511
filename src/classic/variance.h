#pragma once

#include <cstdint>
#include <utility>

#include "../error.h"
#include "../warmup.h"
#include "family.h"
#include "sliding_variance.h"

namespace barworks::classic {

// Population variance (divisor `period`) of the last `period` inputs,
// sum((x - mean)^2) / period, exact to a few times 1e-14 relative at any price
// level (SlidingVariance). A window of equal values answers exactly 0.0.
// Lookback period - 1: NaN until the window is full. A NaN or infinite
// input makes the answers NaN while it is in the window; when it leaves,
// the variance is recomputed from the window and is exact again.
struct Variance : AnsweredFrom<Variance, SlidingVariance> {
  SlidingVariance variance;

  static Expected<Variance> create(std::uint32_t period) noexcept {
    auto made = SlidingVariance::create(period);
    if (!made) return std::unexpected(made.error());
    return Variance{{}, std::move(*made)};
  }
  double update(double x) noexcept { return variance.update(x); }
  // Once the window is full, the variance's rule over a number type, as it
  // answers.
  template <class Number>
  static Number answer(Number variance) noexcept {
    return variance;
  }
  void reset() noexcept { variance.reset(); }
  std::uint32_t length() const noexcept { return variance.length(); }
};

// A batch of inputs from a column, as that many updates would answer them.
template <class Column>
void answer_values(Variance& record, std::size_t size, const Column& values,
                   double* answers) noexcept {
  run_sliding_variance(record.variance, size, values,
                       [answers](std::size_t i, double variance, double) {
                         answers[i] = variance;
                       });
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::Variance> : ClassicPeriodIndicator<classic::Variance> {
  using R = classic::Variance;
  static constexpr const char* kName = "Variance";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 5));
};

template <>
struct LaneFields<classic::Variance> {
  using List = within_all<&classic::Variance::variance, LaneFields<classic::SlidingVariance>::List>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

template <>
struct Checkpoint<classic::Variance> {
  using R = classic::Variance;
  static constexpr auto kFields = std::tuple{component<&R::variance>("variance")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::Variance>());

template <>
struct Warmup<classic::Variance>
    : EmbeddedWindowWarmup<classic::Variance, &classic::Variance::variance> {};

}  // namespace barworks
