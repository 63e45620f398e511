#pragma once

#include <cstdint>

#include "../bar.h"
#include "../describe.h"
#include "../error.h"
#include "../lanes.h"
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
  double update(const Bar& bar) noexcept {
    if (steady()) [[likely]] {
      return advance(*this, bar.open, bar.high, bar.low, bar.close, 0.0, range.previous_close,
                     average.current);
    }
    return average.update(range.update(bar));
  }
  void reset() noexcept { average.reset(); }
  std::uint32_t length() const noexcept { return average.length(); }

  // Once both have started, the two rules over a number type, for a lone
  // bar or lanes side by side.
  bool steady() const noexcept { return range.steady() && average.steady(); }
  template <class Number>
  static Number advance(const AverageTrueRange& shared, Number open, Number high, Number low,
                        Number close, Number volume, Number& previous_close,
                        Number& current) noexcept {
    const Number true_range =
        TrueRange::advance(shared.range, open, high, low, close, volume, previous_close);
    return ExponentialMovingAverage::advance(shared.average, true_range, current);
  }
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

template <>
struct LaneFields<AverageTrueRange> {
  using R = AverageTrueRange;
  using List = FieldList<within<&R::range, &TrueRange::previous_close>,
                         within<&R::average, &ExponentialMovingAverage::current>>;
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
