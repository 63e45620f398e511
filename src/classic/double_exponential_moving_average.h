#pragma once

#include <array>
#include <cstdint>

#include "../error.h"
#include "../warmup.h"
#include "exponential_moving_average.h"
#include "family.h"

namespace barworks::classic {

// Double exponential moving average from two seeded exponential averages
// of one period, the second taking the first's answers once they are
// numbers:
//   result = 2 * ema(x) - ema(ema(x))
// Lookback 2 * (period - 1): the second average takes its seed from the
// first `period` answers of the first. NaN inputs before the first number
// are skipped without counting; a later NaN or infinite input makes the
// answers NaN until reset.
struct DoubleExponentialMovingAverage {
  ExponentialMovingAverage first;
  ExponentialMovingAverage second;

  static Expected<DoubleExponentialMovingAverage> create(std::uint32_t period) noexcept {
    auto average = ExponentialMovingAverage::create(period);
    if (!average) return std::unexpected(average.error());
    return DoubleExponentialMovingAverage{*average, *average};
  }
  double update(double x) noexcept {
    std::array<double, 2> e;
    if (!update_chain(x, e, first, second)) [[unlikely]] return kNotYet;
    return 2.0 * e[0] - e[1];
  }
  void reset() noexcept {
    first.reset();
    second.reset();
  }
  std::uint32_t length() const noexcept { return first.period; }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::DoubleExponentialMovingAverage>
    : ClassicPeriodIndicator<classic::DoubleExponentialMovingAverage> {
  using R = classic::DoubleExponentialMovingAverage;
  static constexpr const char* kName = "DoubleExponentialMovingAverage";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 30));
};

template <>
struct Checkpoint<classic::DoubleExponentialMovingAverage> {
  using R = classic::DoubleExponentialMovingAverage;
  static constexpr auto kFields = std::tuple{
      component<&R::first>("first"), component<&R::second>("second"),
      rule<R>([](const R& r) noexcept { return r.first.period == r.second.period; },
              "both averages must have the same period"),
      rule<R>([](const R& r) noexcept { return r.second.count == 0 || r.first.ready(); },
              "the second average must not have taken inputs before the first is seeded")};
};
static_assert(checkpoint_layout::lists_every_member<classic::DoubleExponentialMovingAverage>());

// The first average counts up to its seed, the second from there on.
template <>
struct Warmup<classic::DoubleExponentialMovingAverage> {
  using R = classic::DoubleExponentialMovingAverage;
  static std::uint64_t lookback(const R& record) noexcept {
    return 2 * (std::uint64_t{record.first.period} - 1);
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    if (!record.first.ready()) return record.first.taken();
    return std::uint64_t{record.first.period} - 1 + record.second.taken();
  }
};

}  // namespace barworks
