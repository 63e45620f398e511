#pragma once

#include <cstdint>

#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../warmup.h"
#include "family.h"
#include "relative_strength_index.h"

namespace barworks::classic {

// Chande's momentum oscillator over Wilder-smoothed gains and losses, the
// averages of the relative strength index (RelativeStrengthIndex::smooth):
//   result = 100 * ((gain - loss) / (gain + loss))
// Lookback `period`. No movement at all over the smoothing (both averages
// 0) answers 0.0, as TA-Lib does. NaN inputs before the first number are
// skipped without counting; a later NaN stays in both averages until reset.
struct ChandeMomentumOscillator {
  RelativeStrengthIndex averages;

  static Expected<ChandeMomentumOscillator> create(std::uint32_t period) noexcept {
    auto averages = RelativeStrengthIndex::create(period);
    if (!averages) return std::unexpected(averages.error());
    return ChandeMomentumOscillator{*averages};
  }
  double update(double x) noexcept {
    if (steady()) [[likely]] {
      return advance(*this, x, averages.previous, averages.gains.average, averages.losses.average);
    }
    const auto [gain, loss] = averages.smooth(x);
    return of_averages(gain, loss);
  }
  // Once both averages are seeded, each step is the rule over a number
  // type alone, for a lone record or lanes side by side.
  bool steady() const noexcept { return averages.steady(); }
  template <class Number>
  static Number advance(const ChandeMomentumOscillator& shared, Number x, Number& previous,
                        Number& average_gain, Number& average_loss) noexcept {
    const auto [gain, loss] =
        shared.averages.steady_smooth(x, previous, average_gain, average_loss);
    return of_averages(gain, loss);
  }
  // A NaN answer is the one NaN, however the compiler orders the operands.
  template <class Number>
  static Number of_averages(Number gain, Number loss) noexcept {
    const Number total = gain + loss;
    const Number oscillator = splat<Number>(100.0) * ((gain - loss) / total);
    const Number zero = splat<Number>(0.0);
    return select(total == zero, zero, canonical(oscillator));
  }
  void reset() noexcept { averages.reset(); }
  std::uint32_t length() const noexcept { return averages.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::ChandeMomentumOscillator>
    : ClassicPeriodIndicator<classic::ChandeMomentumOscillator> {
  using R = classic::ChandeMomentumOscillator;
  static constexpr const char* kName = "ChandeMomentumOscillator";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 14));
};

template <>
struct Checkpoint<classic::ChandeMomentumOscillator> {
  using R = classic::ChandeMomentumOscillator;
  static constexpr auto kFields = std::tuple{component<&R::averages>("averages")};
};
static_assert(checkpoint_layout::lists_every_member<classic::ChandeMomentumOscillator>());

template <>
struct LaneFields<classic::ChandeMomentumOscillator> {
  using R = classic::ChandeMomentumOscillator;
  using A = classic::RelativeStrengthIndex;
  using W = classic::WilderAverage;
  using List = FieldList<within<&R::averages, &A::previous>,
                         within<&R::averages, within<&A::gains, &W::average>>,
                         within<&R::averages, within<&A::losses, &W::average>>>;
};

template <>
struct Warmup<classic::ChandeMomentumOscillator> {
  using R = classic::ChandeMomentumOscillator;
  static std::uint64_t lookback(const R& record) noexcept {
    return Warmup<classic::RelativeStrengthIndex>::lookback(record.averages);
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return Warmup<classic::RelativeStrengthIndex>::inputs_seen(record.averages);
  }
};

}  // namespace barworks
