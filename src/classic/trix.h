#pragma once

#include <array>
#include <cstdint>

#include "../error.h"
#include "../warmup.h"
#include "exponential_moving_average.h"
#include "family.h"
#include "triple_exponential_moving_average.h"

namespace barworks::classic {

// TRIX: the one-step rate of change, in percent, of a triple exponential
// average, e3 = ema(ema(ema(x))) over three chained seeded averages (the
// chain of TripleExponentialMovingAverage):
//   result = (e3 / previous e3 - 1) * 100
// Lookback 3 * (period - 1) + 1. A previous e3 of 0 answers 0.0, as TA-Lib
// does. NaN inputs before the first number are skipped without counting; a
// later NaN or infinite input makes the answers NaN until reset.
struct Trix {
  TripleExponentialMovingAverage averages;

  static Expected<Trix> create(std::uint32_t period) noexcept {
    auto averages = TripleExponentialMovingAverage::create(period);
    if (!averages) return std::unexpected(averages.error());
    return Trix{*averages};
  }
  double update(double x) noexcept {
    // Once seeded, the last average holds the previous e3 until it takes x.
    const bool had_previous = averages.third.ready();
    const double previous = averages.third.current;
    std::array<double, 3> e;
    const bool ready = update_chain(x, e, averages.first, averages.second, averages.third);
    if (!ready || !had_previous) [[unlikely]] return kNotYet;
    const double rate = (e[2] / previous - 1.0) * 100.0;
    return previous == 0.0 ? 0.0 : rate;
  }
  void reset() noexcept { averages.reset(); }
  std::uint32_t length() const noexcept { return averages.length(); }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::Trix> : ClassicPeriodIndicator<classic::Trix> {
  using R = classic::Trix;
  static constexpr const char* kName = "Trix";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 30));
};

template <>
struct Checkpoint<classic::Trix> {
  using R = classic::Trix;
  static constexpr auto kFields = std::tuple{component<&R::averages>("averages")};
};
static_assert(checkpoint_layout::lists_every_member<classic::Trix>());

// The averages count up to the last one's seed, which is the lookback less
// the one input that gives the first rate.
template <>
struct Warmup<classic::Trix> {
  using R = classic::Trix;
  static std::uint64_t lookback(const R& record) noexcept {
    return Warmup<classic::TripleExponentialMovingAverage>::lookback(record.averages) + 1;
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return Warmup<classic::TripleExponentialMovingAverage>::inputs_seen(record.averages);
  }
};

}  // namespace barworks
