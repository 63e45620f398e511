#pragma once

#include <cstdint>
#include <type_traits>

#include "../candle.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../warmup.h"
#include "average_true_range.h"
#include "family.h"

namespace barworks::classic {

// Wilder's average true range as a percentage of the close:
//   average true range * (100 / close)
// with the classic AverageTrueRange embedded, so its seed, lookback
// (`period` bars) and NaN rules are that class's. A zero close answers 0.0,
// as the batch libraries do, once the average is seeded. The quotient is
// taken of the close alone, so that it runs beside the average's step
// rather than after it; the answer is within an ulp or two of dividing
// the average by the close.
struct NormalizedAverageTrueRange {
  AverageTrueRange average;

  static Expected<NormalizedAverageTrueRange> create(std::uint32_t period) noexcept {
    auto average = AverageTrueRange::create(period);
    if (!average) return std::unexpected(average.error());
    return NormalizedAverageTrueRange{*average};
  }
  double update(const Candle& bar) noexcept {
    if (average.steady()) [[likely]] {
      return advance(*this, bar.open, bar.high, bar.low, bar.close, bar.volume,
                     average.range.previous_close, average.average.average);
    }
    return normalized(average.update(bar), bar.close);
  }
  // Once the average is seeded, its rule and the share over a number type,
  // for a lone bar or lanes side by side.
  bool steady() const noexcept { return average.steady(); }
  template <class Number>
  static Number advance(const NormalizedAverageTrueRange& shared, Number open, Number high,
                        Number low, Number close, Number volume, Number& previous_close,
                        Number& smoothed) noexcept {
    return normalized(AverageTrueRange::advance(shared.average, open, high, low, close, volume,
                                                previous_close, smoothed),
                      close);
  }
  // The average and the close may both be NaN; the answer is made the one
  // NaN, since the inlined batch loop and next do not give a NaN quotient
  // the same sign. A branch for a lone bar, a selection for a pair.
  static double normalized(double range, double close) noexcept {
    if (close == 0.0 && range == range) [[unlikely]] return 0.0;
    return canonical(range * (100.0 / close));
  }
  static DoublePair normalized(DoublePair range, DoublePair close) noexcept {
    return select((close == 0.0) & (range == range), splat<DoublePair>(0.0),
                  canonical(range * (100.0 / close)));
  }
  void reset() noexcept { average.reset(); }
  std::uint32_t length() const noexcept { return average.length(); }
};

template <class Column>
void answer_bars(NormalizedAverageTrueRange& record, std::size_t size, const Column& highs,
                 const Column& lows, const Column& closes, double* answers) noexcept {
  run_average_true_range(record.average, size, highs, lows, closes, answers,
                         [&]<class Number>(Number range, std::size_t i) {
                           if constexpr (std::is_same_v<Number, double>) {
                             return NormalizedAverageTrueRange::normalized(range, closes[i]);
                           } else {
                             return NormalizedAverageTrueRange::normalized(range, closes.pair(i));
                           }
                         });
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::NormalizedAverageTrueRange>
    : ClassicPeriodIndicator<classic::NormalizedAverageTrueRange> {
  static constexpr const char* kName = "NormalizedAverageTrueRange";
  static constexpr auto kConstructor =
      constructor<&classic::NormalizedAverageTrueRange::create>(with_default("period", 14));
};

template <>
struct Checkpoint<classic::NormalizedAverageTrueRange> {
  using R = classic::NormalizedAverageTrueRange;
  static constexpr auto kFields = std::tuple{component<&R::average>("average")};
};
static_assert(checkpoint_layout::lists_every_member<classic::NormalizedAverageTrueRange>());

template <>
struct LaneFields<classic::NormalizedAverageTrueRange> {
  using R = classic::NormalizedAverageTrueRange;
  using Average = classic::AverageTrueRange;
  using Smoothing = classic::DecayingWilderAverage;
  using List =
      FieldList<within<&R::average, within<&Average::range, &TrueRange::previous_close>>,
                within<&R::average, within<&Average::average, &Smoothing::average>>>;
};

template <>
struct Warmup<classic::NormalizedAverageTrueRange> {
  using R = classic::NormalizedAverageTrueRange;
  static std::uint64_t lookback(const R& record) noexcept {
    return Warmup<classic::AverageTrueRange>::lookback(record.average);
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return Warmup<classic::AverageTrueRange>::inputs_seen(record.average);
  }
};

}  // namespace barworks
