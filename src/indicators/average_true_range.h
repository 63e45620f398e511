#pragma once

#include <cstdint>

#include "../bar.h"
#include "../describe.h"
#include "../error.h"
#include "exponential_moving_average.h"
#include "true_range.h"
#include "../warmup.h"

namespace barworks {

// Exponential smoothing, alpha = 2 / (period + 1), of each bar's true range.
// The first true range seeds the average; later ones follow the exponential
// average's update order exactly. A NaN true range (high, low and previous
// close all NaN, or a NaN high or low on the very first bar) keeps the
// average NaN until reset. Reset restarts only the smoothing: the previous
// close survives, so the next bar's true range is still measured against
// the last close seen and seeds the new average.
struct AverageTrueRange {
  TrueRange range;
  ExponentialMovingAverage average;

  static Expected<AverageTrueRange> create(std::uint32_t period) noexcept;
  double update(const Bar& bar) noexcept { return average.update(range.update(bar)); }
  void reset() noexcept { average.reset(); }
  std::uint32_t length() const noexcept { return average.length(); }
};

// A batch of bars from columns, as that many updates would answer them;
// the average is a local meanwhile, so that it stays in a register rather
// than going through memory beside each answer.
template <class Column>
void answer_bars(AverageTrueRange& record, std::size_t size, const Column& highs,
                 const Column& lows, const Column& closes, double* answers) noexcept {
  ExponentialMovingAverage average = record.average;
  run_true_range(record.range, 0, size, highs, lows, closes, answers,
                 [&](double range, std::size_t) { return average.take(range); });
  record.average = average;
}

template <>
struct PythonClass<AverageTrueRange> : PeriodIndicator<AverageTrueRange> {
  static constexpr const char* kName = "AverageTrueRange";
};

template <>
struct Checkpoint<AverageTrueRange> {
  using R = AverageTrueRange;
  static constexpr auto kFields = std::tuple{component<&R::range>("range"), component<&R::average>("average")};
};

// Lookback period, as the true range's first gap needs a previous bar.
// Reset restarts only the smoothing, so the smoothing's start counts.
template <>
struct Warmup<AverageTrueRange> {
  using R = AverageTrueRange;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return Warmup<ExponentialMovingAverage>::inputs_seen(record.average);
  }
};

}  // namespace barworks
