#pragma once

#include <array>
#include <cstdint>

#include "../branch_free.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "family.h"
#include "wilder_average.h"
#include "../warmup.h"

namespace barworks::classic {

// Wilder's relative strength index. Each input after the first gives a
// change c = x - previous, split into gain max(c, 0) and loss max(-c, 0).
// The averages are seeded with the plain mean of the first `period` gains
// and losses, then smoothed with 1 / period:
//   average = (average * (period - 1) + value) * (1 / period)
//   result = 100 * (gain / (gain + loss)), or 0 when both averages are 0
// which repeats TA-Lib's answers to the bit.
// Lookback `period`: the answer is NaN until `period` changes have been
// seen. NaN inputs before the first number are skipped without counting; a
// later NaN makes its change NaN, and that NaN stays in both averages until
// reset. An infinite input gives infinite averages and NaN answers.
struct RelativeStrengthIndex {
  WilderAverage gains;
  WilderAverage losses;
  double previous;
  bool has_previous;

  static Expected<RelativeStrengthIndex> create(std::uint32_t period) noexcept;
  double update(double x) noexcept {
    if (steady()) [[likely]] return advance(*this, x, previous, gains.average, losses.average);
    const auto [average_gain, average_loss] = smooth(x);
    return of_averages(average_gain, average_loss);
  }
  // Takes x and answers the smoothed (gain, loss), NaN until seeded: the
  // part that the Chande momentum oscillator shares.
  std::array<double, 2> smooth(double x) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return gains.period; }

  // Once both averages are seeded, each step is the rule over a number
  // type alone, for a lone record or lanes side by side.
  bool steady() const noexcept { return gains.seeded(); }
  template <class Number>
  static Number advance(const RelativeStrengthIndex& shared, Number x, Number& previous,
                        Number& average_gain, Number& average_loss) noexcept {
    const auto [gain, loss] = shared.steady_smooth(x, previous, average_gain, average_loss);
    return of_averages(gain, loss);
  }
  // smooth() once seeded.
  template <class Number>
  [[gnu::always_inline]] std::array<Number, 2> steady_smooth(Number x, Number& previous,
                                                             Number& average_gain,
                                                             Number& average_loss) const noexcept {
    const auto [gain, loss] = moves(canonical(x), previous);
    return {WilderAverage::advance(gains, gain, average_gain),
            WilderAverage::advance(losses, loss, average_loss)};
  }
  // The gain and the loss from `previous` to x, which becomes the previous.
  template <class Number>
  static std::array<Number, 2> moves(Number x, Number& previous) noexcept {
    const Number change = x - previous;
    previous = x;
    // A NaN change goes into both, so that it is never mistaken for no
    // change.
    return {positive_part(change), positive_part(negated(change))};
  }
  // No movement at all over the smoothing reads as 0, as the batch
  // libraries answer; NaN totals fail the comparison and stay NaN. Both
  // sides are computed, so the choice is a select rather than a branch.
  // A NaN answer is the one NaN, however the compiler orders the operands.
  template <class Number>
  static Number of_averages(Number average_gain, Number average_loss) noexcept {
    const Number total = average_gain + average_loss;
    const Number strength = splat<Number>(100.0) * (average_gain / total);
    const Number zero = splat<Number>(0.0);
    return select(total == zero, zero, canonical(strength));
  }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::RelativeStrengthIndex>
    : ClassicPeriodIndicator<classic::RelativeStrengthIndex> {
  static constexpr const char* kName = "RelativeStrengthIndex";
};

// Gains and losses are averaged in step; before the first number there is
// no previous input (it reads 0) and nothing has been averaged.
template <>
struct Checkpoint<classic::RelativeStrengthIndex> {
  using R = classic::RelativeStrengthIndex;
  static constexpr auto kFields = std::tuple{
      component<&R::gains>("gains"), component<&R::losses>("losses"), number<&R::previous>("previous"),
      choice<&R::has_previous>("has_previous", 1),
      rule<R>(
          [](const R& r) noexcept {
            return r.gains.period == r.losses.period && r.gains.count == r.losses.count;
          },
          "the gains and the losses must be averaged over the same period and count"),
      rule<R>(
          [](const R& r) noexcept {
            return r.has_previous || (r.gains.count == 0 && r.previous == 0.0);
          },
          "nothing may be averaged or remembered before the first input")};
};
static_assert(checkpoint_layout::lists_every_member<classic::RelativeStrengthIndex>());

template <>
struct LaneFields<classic::RelativeStrengthIndex> {
  using R = classic::RelativeStrengthIndex;
  using List = FieldList<&R::previous, within<&R::gains, &classic::WilderAverage::average>,
                         within<&R::losses, &classic::WilderAverage::average>>;
};

// The first input only supplies the reference for the first change.
template <>
struct Warmup<classic::RelativeStrengthIndex> {
  using R = classic::RelativeStrengthIndex;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return record.has_previous ? std::uint64_t{record.gains.count} + 1 : 0;
  }
};

}  // namespace barworks
