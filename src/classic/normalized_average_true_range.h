#pragma once

#include <cstdint>

#include "../candle.h"
#include "../error.h"
#include "../nan.h"
#include "../warmup.h"
#include "average_true_range.h"
#include "family.h"

namespace barworks::classic {

// Wilder's average true range as a percentage of the close:
//   (average true range / close) * 100
// with the classic AverageTrueRange embedded, so its seed, lookback
// (`period` bars) and NaN rules are that class's. A zero close answers 0.0,
// as the batch libraries do, once the average is seeded.
struct NormalizedAverageTrueRange {
  AverageTrueRange average;

  static Expected<NormalizedAverageTrueRange> create(std::uint32_t period) noexcept {
    auto average = AverageTrueRange::create(period);
    if (!average) return std::unexpected(average.error());
    return NormalizedAverageTrueRange{*average};
  }
  double update(const Candle& bar) noexcept {
    return normalized(average.update(bar), bar.close);
  }
  // The average and the close may both be NaN; the answer is made the one
  // NaN, since the inlined batch loop and next do not give a NaN quotient
  // the same sign.
  static double normalized(double range, double close) noexcept {
    if (close == 0.0 && range == range) [[unlikely]] return 0.0;
    return canonical(range / close * 100.0);
  }
  void reset() noexcept { average.reset(); }
  std::uint32_t length() const noexcept { return average.length(); }
};

template <class Column>
void answer_bars(NormalizedAverageTrueRange& record, std::size_t size, const Column& highs,
                 const Column& lows, const Column& closes, double* answers) noexcept {
  run_average_true_range(record.average, size, highs, lows, closes, answers,
                         [&](double range, std::size_t i) {
                           return NormalizedAverageTrueRange::normalized(range, closes[i]);
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
