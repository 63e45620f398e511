#pragma once

#include <array>
#include <cstdint>

#include "../error.h"
#include "../lanes.h"
#include "../warmup.h"
#include "exponential_moving_average.h"
#include "family.h"

namespace barworks::classic {

// Tillson's T3: six seeded exponential averages of one period in a chain,
// each taking the answers of the one before once they are numbers, and
// with a = volume_factor
//   result = c1 e6 + c2 e5 + c3 e4 + c4 e3
//   c1 = -a^3, c2 = 3a^2 + 3a^3, c3 = -6a^2 - 3a - 3a^3, c4 = 1 + 3a + a^3 + 3a^2
// (the coefficients sum to 1). Lookback 6 * (period - 1). NaN inputs before
// the first number are skipped without counting; a later NaN or infinite
// input makes the answers NaN until reset.
struct TillsonT3 {
  ExponentialMovingAverage first;
  ExponentialMovingAverage second;
  ExponentialMovingAverage third;
  ExponentialMovingAverage fourth;
  ExponentialMovingAverage fifth;
  ExponentialMovingAverage sixth;
  double volume_factor;
  double c1, c2, c3, c4;
  double decay;  // 1 - the averages' alpha

  // A zero period fails first, then a volume factor outside [0, 1].
  static Expected<TillsonT3> create(std::uint32_t period, double volume_factor) noexcept;
  double update(double x) noexcept {
    if (steady()) [[likely]] {
      return advance(*this, x, first.current, second.current, third.current, fourth.current,
                     fifth.current, sixth.current);
    }
    const double e1 = first.update(x);
    if (!first.ready()) [[unlikely]] return kNotYet;
    const double e2 = second.take(e1);
    if (!second.ready()) [[unlikely]] return kNotYet;
    const double e3 = third.take(e2);
    if (!third.ready()) [[unlikely]] return kNotYet;
    const double e4 = fourth.take(e3);
    if (!fourth.ready()) [[unlikely]] return kNotYet;
    const double e5 = fifth.take(e4);
    if (!fifth.ready()) [[unlikely]] return kNotYet;
    const double e6 = sixth.take(e5);
    if (!sixth.ready()) [[unlikely]] return kNotYet;
    return of_averages(e3, e4, e5, e6, c1, c2, c3, c4);
  }
  // Once the chain is seeded, the rule over a number type alone, each
  // average stepping by decaying_step (while the chain seeds, a seeded
  // average steps as the average's own update does).
  bool steady() const noexcept { return sixth.ready(); }
  template <class Number>
  static Number advance(const TillsonT3& shared, Number x, Number& a1, Number& a2, Number& a3,
                        Number& a4, Number& a5, Number& a6) noexcept {
    const Number alpha = splat<Number>(shared.first.alpha), decay = splat<Number>(shared.decay);
    const Number e1 = decaying_step(canonical(x), alpha, decay, a1);
    const Number e2 = decaying_step(e1, alpha, decay, a2);
    const Number e3 = decaying_step(e2, alpha, decay, a3);
    const Number e4 = decaying_step(e3, alpha, decay, a4);
    const Number e5 = decaying_step(e4, alpha, decay, a5);
    const Number e6 = decaying_step(e5, alpha, decay, a6);
    return of_averages(e3, e4, e5, e6, splat<Number>(shared.c1), splat<Number>(shared.c2),
                       splat<Number>(shared.c3), splat<Number>(shared.c4));
  }
  template <class Number>
  static Number of_averages(Number e3, Number e4, Number e5, Number e6, Number c1, Number c2,
                            Number c3, Number c4) noexcept {
    return c1 * e6 + c2 * e5 + c3 * e4 + c4 * e3;
  }
  void reset() noexcept {
    for (ExponentialMovingAverage* average : chain()) average->reset();
  }
  std::array<ExponentialMovingAverage*, 6> chain() noexcept {
    return {&first, &second, &third, &fourth, &fifth, &sixth};
  }
  std::array<const ExponentialMovingAverage*, 6> chain() const noexcept {
    return {&first, &second, &third, &fourth, &fifth, &sixth};
  }
  double coefficient_1() const noexcept {
    const double a = volume_factor;
    return -a * a * a;
  }
  double coefficient_2() const noexcept {
    const double a = volume_factor;
    return 3.0 * a * a + 3.0 * a * a * a;
  }
  double coefficient_3() const noexcept {
    const double a = volume_factor;
    return -6.0 * a * a - 3.0 * a - 3.0 * a * a * a;
  }
  double coefficient_4() const noexcept {
    const double a = volume_factor;
    return 1.0 + 3.0 * a + a * a * a + 3.0 * a * a;
  }
  double remainder() const noexcept { return 1.0 - first.smoothing(); }
  static bool valid_volume_factor(double a) noexcept { return a >= 0.0 && a <= 1.0; }
};

inline constexpr Error kVolumeFactorOutOfRange{ErrorKind::kValue,
                                               "Volume factor must be between 0 and 1."};

inline Expected<TillsonT3> TillsonT3::create(std::uint32_t period, double volume_factor) noexcept {
  auto average = ExponentialMovingAverage::create(period);
  if (!average) return std::unexpected(average.error());
  // NaN fails the comparisons too.
  if (!valid_volume_factor(volume_factor)) return std::unexpected(kVolumeFactorOutOfRange);
  TillsonT3 made{*average, *average, *average, *average, *average, *average,
                 volume_factor, 0.0, 0.0, 0.0, 0.0, 0.0};
  made.c1 = made.coefficient_1();
  made.c2 = made.coefficient_2();
  made.c3 = made.coefficient_3();
  made.c4 = made.coefficient_4();
  made.decay = made.remainder();
  return made;
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::TillsonT3> {
  using R = classic::TillsonT3;
  static constexpr const char* kName = "TillsonT3";
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor = constructor<&R::create>(
      with_default("period", 5), with_default("volume_factor", "0.7"));
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

// The coefficients follow from the volume factor and the decay from the
// period; both are recomputed on load. Each average is fed only once the one before it is seeded.
template <>
struct Checkpoint<classic::TillsonT3> {
  using R = classic::TillsonT3;
  static constexpr auto kFields = std::tuple{
      component<&R::first>("first"), component<&R::second>("second"),
      component<&R::third>("third"), component<&R::fourth>("fourth"),
      component<&R::fifth>("fifth"), component<&R::sixth>("sixth"),
      number<&R::volume_factor>("volume_factor"), derived<&R::c1, &R::coefficient_1>(),
      derived<&R::c2, &R::coefficient_2>(), derived<&R::c3, &R::coefficient_3>(),
      derived<&R::c4, &R::coefficient_4>(), derived<&R::decay, &R::remainder>(),
      rule<R>(
          [](const R& r) noexcept {
            for (const auto* average : r.chain())
              if (average->period != r.first.period) return false;
            return true;
          },
          "the six averages must have the same period"),
      rule<R>(
          [](const R& r) noexcept {
            const auto chain = r.chain();
            for (std::size_t i = 1; i < chain.size(); ++i)
              if (chain[i]->count != 0 && !chain[i - 1]->ready()) return false;
            return true;
          },
          "an average must not have taken inputs before the one feeding it is seeded"),
      rule<R>([](const R& r) noexcept { return R::valid_volume_factor(r.volume_factor); },
              "the volume factor must be between 0 and 1")};
};
static_assert(checkpoint_layout::lists_every_member<classic::TillsonT3>());

template <>
struct LaneFields<classic::TillsonT3> {
  using R = classic::TillsonT3;
  using E = classic::ExponentialMovingAverage;
  using List = FieldList<within<&R::first, &E::current>, within<&R::second, &E::current>,
                         within<&R::third, &E::current>, within<&R::fourth, &E::current>,
                         within<&R::fifth, &E::current>, within<&R::sixth, &E::current>>;
};

// Each average counts up to its seed, the next from there on.
template <>
struct Warmup<classic::TillsonT3> {
  using R = classic::TillsonT3;
  static std::uint64_t lookback(const R& record) noexcept {
    return 6 * (std::uint64_t{record.first.period} - 1);
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    const std::uint64_t step = std::uint64_t{record.first.period} - 1;
    const auto chain = record.chain();
    std::uint64_t before = 0;
    for (const auto* average : chain) {
      if (!average->ready() || average == chain.back()) return before + average->taken();
      before += step;
    }
    return before;
  }
};

}  // namespace barworks
