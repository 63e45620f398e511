#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include "../error.h"
#include "../warmup.h"
#include "../nan.h"
#include "family.h"
#include "sliding_variance.h"

namespace barworks::classic {

// Bollinger bands over the last `period` inputs, answered as
// (upper, middle, lower):
//   middle = mean;  upper = middle + deviations_up * deviation
//   lower = middle - deviations_down * deviation
// with the population deviation (divisor `period`). The mean and the
// deviation come from SlidingVariance, exact to a few times 1e-14 relative at any
// price level. A window of equal values has deviation exactly 0.0: all three
// bands are that value. Lookback period - 1: all three NaN until the window
// is full. A NaN or infinite input makes the answers NaN while it is in the
// window; when it leaves, the bands are recomputed from the window.
struct BollingerBands {
  SlidingVariance variance;
  double deviations_up;
  double deviations_down;

  static Expected<BollingerBands> create(std::uint32_t period, double deviations_up,
                                         double deviations_down) noexcept {
    auto made = SlidingVariance::create(period);
    if (!made) return std::unexpected(made.error());
    // Canonical, so that a NaN factor answers the one NaN records hold.
    return BollingerBands{std::move(*made), canonical(deviations_up), canonical(deviations_down)};
  }
  std::array<double, 3> update(double x) noexcept {
    const double spread = variance.update(x);
    return bands(spread, variance.average(), deviations_up, deviations_down);
  }
  // The bands from the window's variance and mean, for one input or two
  // side by side.
  template <class Number>
  static std::array<Number, 3> bands(Number spread, Number mean, double up,
                                     double down) noexcept {
    const Number deviation = square_root(spread);
    // NaN while the variance is: the mean means nothing then.
    const Number middle = select(deviation == deviation, mean, splat<Number>(kNotYet));
    return {middle + up * deviation, middle, middle - down * deviation};
  }
  // Once the window is full, the rule over a number type: a lone record's,
  // a universe's lane's, or a pair of lanes' on the common path.
  bool steady() const noexcept { return variance.steady(); }
  template <class Number, class Values, class Count>
  static std::array<Number, 3> advance(const BollingerBands& shared, Number x, Values& window,
                                       Number& mean, Number& squares, Number& reference,
                                       Number& accrued, Count& equal_run, Count& nonfinite,
                                       Number& last, Count& since_exact) noexcept {
    const Number spread =
        SlidingVariance::advance(shared.variance, x, window, mean, squares, reference, accrued,
                                 equal_run, nonfinite, last, since_exact);
    return bands(spread, reference + mean, shared.deviations_up, shared.deviations_down);
  }
  template <class... Fields>
  static bool pair_on_common_path(const BollingerBands& shared, const Fields&... fields) noexcept {
    return SlidingVariance::pair_on_common_path(shared.variance, fields...);
  }
  void reset() noexcept { variance.reset(); }
  std::uint32_t length() const noexcept { return variance.length(); }
};

// A batch of inputs from a column, as that many updates would answer them.
template <class Column>
void answer_values(BollingerBands& record, std::size_t size, const Column& values,
                   double* answers) noexcept {
  run_sliding_variance(record.variance, size, values,
                       [answers, up = record.deviations_up, down = record.deviations_down](
                           std::size_t i, double spread, double mean) {
                         const auto row = BollingerBands::bands(spread, mean, up, down);
                         answers[3 * i] = row[0];
                         answers[3 * i + 1] = row[1];
                         answers[3 * i + 2] = row[2];
                       });
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::BollingerBands> {
  using R = classic::BollingerBands;
  static constexpr const char* kName = "BollingerBands";
  static constexpr std::array kAnswers{"upper", "middle", "lower"};
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor =
      constructor<&R::create>(with_default("period", 5), with_default("deviations_up", "2.0"),
                              with_default("deviations_down", "2.0"));
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

template <>
struct LaneFields<classic::BollingerBands> {
  using List =
      within_all<&classic::BollingerBands::variance, LaneFields<classic::SlidingVariance>::List>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

// The factors are stored as given: any double, NaN included, as the
// constructor takes them.
template <>
struct Checkpoint<classic::BollingerBands> {
  using R = classic::BollingerBands;
  static constexpr auto kFields = std::tuple{
      component<&R::variance>("variance"), number<&R::deviations_up>("deviations_up"),
      number<&R::deviations_down>("deviations_down")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::BollingerBands>());

template <>
struct Warmup<classic::BollingerBands>
    : EmbeddedWindowWarmup<classic::BollingerBands, &classic::BollingerBands::variance> {};

}  // namespace barworks
