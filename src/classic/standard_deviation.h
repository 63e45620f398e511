#pragma once

#include <cmath>
#include <cstdint>
#include <utility>

#include "../error.h"
#include "../warmup.h"
#include "../window.h"
#include "family.h"
#include "sliding_variance.h"

namespace barworks::classic {

// Population standard deviation (divisor `period`) of the last `period`
// inputs, sqrt(sum((x - mean)^2) / period): the root of SlidingVariance,
// exact to a few times 1e-14 relative at any price level. A window of equal values
// answers exactly 0.0. Lookback period - 1: NaN until the window is full. A
// NaN or infinite input makes the answers NaN while it is in the window;
// when it leaves, the deviation is recomputed from the window and is exact
// again.
struct StandardDeviation : AnsweredFrom<StandardDeviation, SlidingVariance> {
  SlidingVariance variance;

  static Expected<StandardDeviation> create(std::uint32_t period) noexcept {
    auto made = SlidingVariance::create(period);
    if (!made) return std::unexpected(made.error());
    return StandardDeviation{{}, std::move(*made)};
  }
  double update(double x) noexcept { return std::sqrt(variance.update(x)); }
  // Once the window is full, the variance's rule over a number type,
  // answered by its root.
  template <class Number>
  static Number answer(Number variance) noexcept {
    return square_root(variance);
  }
  void reset() noexcept { variance.reset(); }
  std::uint32_t length() const noexcept { return variance.length(); }
};

// A batch of inputs from a column, as that many updates would answer them.
template <class Column>
void answer_values(StandardDeviation& record, std::size_t size, const Column& values,
                   double* answers) noexcept {
  run_sliding_variance(record.variance, size, values,
                       [answers](std::size_t i, double variance, double) {
                         answers[i] = std::sqrt(variance);
                       });
}

// The stored fields of format version 1, which kept the mean in absolute
// terms. Only the window and the run of equal inputs are carried over.
struct StandardDeviationVersion1 {
  CircularWindow window;
  double mean;
  double squares;
  double peak;
  std::uint32_t equal_run;
  std::uint32_t since_exact;
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::StandardDeviation> : ClassicPeriodIndicator<classic::StandardDeviation> {
  static constexpr const char* kName = "StandardDeviation";
};

template <>
struct LaneFields<classic::StandardDeviation> {
  using List = within_all<&classic::StandardDeviation::variance,
                          LaneFields<classic::SlidingVariance>::List>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

// Stored as the variance it embeds, whose fields are inline: the same bytes
// as when the deviation held them itself.
template <>
struct Checkpoint<classic::StandardDeviation> {
  using R = classic::StandardDeviation;
  static constexpr auto kFields = std::tuple{component<&R::variance>("variance")};
  // Version 1 slid the sums in absolute terms; its states are rebuilt from
  // their windows.
  static constexpr std::uint16_t kSince = 2;
  using Former = classic::StandardDeviationVersion1;
  static R upgrade(Former&& former) noexcept {
    return R{{}, classic::SlidingVariance::rebuilt(std::move(former.window), former.equal_run)};
  }
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::StandardDeviation>());

// Version 1's run of equal inputs was not bounded once the window was full.
template <>
struct Checkpoint<classic::StandardDeviationVersion1> {
  using R = classic::StandardDeviationVersion1;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), number<&R::mean>("mean"), number<&R::squares>("squares"),
      number<&R::peak>("peak"), tally<&R::equal_run>("equal_run"),
      tally<&R::since_exact>("since_exact"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period"),
      rule<R>(
          [](const R& r) noexcept {
            return r.window.count != 0 ||
                   (r.mean == 0.0 && r.squares == 0.0 && r.peak == 0.0 && r.equal_run == 0);
          },
          "the sums and the run of equal inputs must be 0 before the first input"),
      rule<R>(
          [](const R& r) noexcept {
            const bool full = r.window.count == r.window.period;
            return (r.equal_run != 0 || r.window.count == 0) &&
                   (full || r.equal_run <= r.window.count);
          },
          "the run of equal inputs must count the last input and no input before the window's"),
      rule<R>(
          [](const R& r) noexcept {
            const bool full = r.window.count == r.window.period;
            return full ? r.since_exact < r.window.period : r.since_exact == 0;
          },
          "the slides since the last exact computation must be fewer than the period, and none "
          "while the window fills")};
};
static_assert(checkpoint_layout::lists_every_member<classic::StandardDeviationVersion1>());

template <>
struct Warmup<classic::StandardDeviation>
    : EmbeddedWindowWarmup<classic::StandardDeviation, &classic::StandardDeviation::variance> {};

}  // namespace barworks
