#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "../candle.h"
#include "../error.h"
#include "../indicators/true_range.h"
#include "../lanes.h"
#include "family.h"
#include "wilder_average.h"
#include "../warmup.h"

namespace barworks::classic {

// Wilder's average true range. A bar's true range is the module's true
// range against the previous close; the first bar has no previous close and
// so no true range: it only supplies that close. The average is seeded with
// the mean of the first `period` true ranges and then smoothed with 1/period:
//   average = (average * (period - 1) + range) / period
// taken as average * ((period - 1) / period) + range * (1 / period), whose
// chain from bar to bar is one multiply and one add (within an ulp or two
// of TA-Lib, as any order is). Lookback `period` bars. Bars before the
// first whose high, low and close are all numbers are skipped without
// counting. After that a NaN high or low
// makes the true range NaN, which stays in the average until reset; a NaN
// previous close is passed over (the range is h - l and the other gap); an
// infinite range makes the answers infinite, then NaN.
struct AverageTrueRange {
  TrueRange range;
  DecayingWilderAverage average;

  static Expected<AverageTrueRange> create(std::uint32_t period) noexcept;
  double update(const Candle& bar) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return average.period; }
  static double smooth(DecayingWilderAverage& average, double true_range, double high,
                       double low) noexcept {
    return average.update(known_range(true_range, high, low));
  }
  // The module's true range passes over any NaN operand; the batch
  // libraries pass over only a NaN previous close, so a NaN high or low
  // reaches the answer. A branch for a lone bar, a selection for a pair.
  static double known_range(double true_range, double high, double low) noexcept {
    const bool unknown = std::isnan(high) || std::isnan(low);
    return unknown ? kNotYet : true_range;
  }
  static DoublePair known_range(DoublePair true_range, DoublePair high, DoublePair low) noexcept {
    return select((high != high) | (low != low), splat<DoublePair>(kNotYet), true_range);
  }

  // Once seeded, the two rules over a number type, for a lone bar or lanes
  // side by side; `previous_close` and `average` are the lane's or lanes'.
  bool steady() const noexcept { return range.steady() && average.seeded(); }
  template <class Number>
  static Number advance(const AverageTrueRange& shared, Number open, Number high, Number low,
                        Number close, Number volume, Number& previous_close,
                        Number& average) noexcept {
    const Number true_range =
        TrueRange::advance(shared.range, open, high, low, close, volume, previous_close);
    return DecayingWilderAverage::advance(shared.average, known_range(true_range, high, low),
                                          average);
  }
};

inline double AverageTrueRange::update(const Candle& bar) noexcept {
  if (steady()) [[likely]] {
    return advance(*this, bar.open, bar.high, bar.low, bar.close, bar.volume,
                   range.previous_close, average.average);
  }
  if (!range.has_previous) {
    if (std::isnan(bar.high) || std::isnan(bar.low) || std::isnan(bar.close)) return kNotYet;
    // Only the close is kept; this bar's own range is no true range.
    (void)range.update(bar.prices());
    return kNotYet;
  }
  return smooth(average, range.update(bar.prices()), bar.high, bar.low);
}

// Answers bars 0 .. size - 1 from columns as that many updates would, each
// answer through `finish(answer, i)`, or a pair of them through
// `finish(answers, i)` for bars i and i + 1: the true ranges two bars at a
// time, smoothed in the same pass by an average held in a local, so that
// it stays in a register rather than going through memory beside each
// answer.
template <class Column, class Finish>
void run_average_true_range(AverageTrueRange& record, std::size_t size, const Column& highs,
                            const Column& lows, const Column& closes, double* answers,
                            Finish finish) noexcept {
  std::size_t i = 0;
  for (; i < size && !record.range.has_previous; ++i) {
    answers[i] = finish(record.update(Candle{kNaN, highs[i], lows[i], closes[i], kNaN}), i);
  }
  DecayingWilderAverage average = record.average;
  const auto smooth = [&](double range, std::size_t j) {
    return AverageTrueRange::smooth(average, range, highs[j], lows[j]);
  };
  // A pair of ranges is taken as a pair only where `finish` takes pairs.
  run_true_range(record.range, i, size, highs, lows, closes, answers,
                 [&]<class Number>(Number ranges, std::size_t j)
                   requires(std::is_same_v<Number, double> ||
                            std::is_invocable_r_v<DoublePair, Finish, DoublePair, std::size_t>)
                 {
                   if constexpr (std::is_same_v<Number, double>) {
                     return finish(smooth(ranges, j), j);
                   } else {
                     const double first = smooth(ranges[0], j);
                     // `Number` (a pair here): a call on a dependent type is checked only
                     // where the branch is taken, and clang checks the rest early.
                     return finish(Number{first, smooth(ranges[1], j + 1)}, j);
                   }
                 });
  record.average = average;
}

template <class Column>
void answer_bars(AverageTrueRange& record, std::size_t size, const Column& highs,
                 const Column& lows, const Column& closes, double* answers) noexcept {
  run_average_true_range(record, size, highs, lows, closes, answers,
                         [](double answer, std::size_t) { return answer; });
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::AverageTrueRange> : ClassicPeriodIndicator<classic::AverageTrueRange> {
  static constexpr const char* kName = "AverageTrueRange";
};

// The first bar only supplies a close, so nothing is averaged before one.
template <>
struct Checkpoint<classic::AverageTrueRange> {
  using R = classic::AverageTrueRange;
  static constexpr auto kFields = std::tuple{
      component<&R::range>("range"), component<&R::average>("average"),
      rule<R>([](const R& r) noexcept { return r.range.has_previous || r.average.count == 0; },
              "nothing may be averaged before the first bar's close")};
};
static_assert(checkpoint_layout::lists_every_member<classic::AverageTrueRange>());

template <>
struct LaneFields<classic::AverageTrueRange> {
  using R = classic::AverageTrueRange;
  using List = FieldList<within<&R::range, &TrueRange::previous_close>,
                         within<&R::average, &classic::DecayingWilderAverage::average>>;
};

// The first bar only supplies the close for the first true range.
template <>
struct Warmup<classic::AverageTrueRange> {
  using R = classic::AverageTrueRange;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return record.range.has_previous ? std::uint64_t{record.average.count} + 1 : 0;
  }
};

}  // namespace barworks
