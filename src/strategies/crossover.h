// The record both crossover strategies share: a short and a long average of
// the same stream, whose gap is read as a signal.
#pragma once

#include <cstdint>
#include <utility>

#include "../checkpoint.h"
#include "../describe.h"
#include "../error.h"
#include "../signal.h"
#include "../warmup.h"

namespace barworks {

inline constexpr Error kShortNotBelowLong{ErrorKind::kValue,
                                          "Short period must be less than long period."};

// BUY while the short average is above the long one, SELL while it is below,
// HOLD when they are equal or the gap is NaN (both strict tests fail). The
// answer is a level, not the moment of crossing.
inline Signal signal_for_gap(double short_minus_long) noexcept {
  static_assert(static_cast<int>(Signal::Code::kBuy) == 0 &&
                static_cast<int>(Signal::Code::kSell) == 1 &&
                static_cast<int>(Signal::Code::kHold) == 2);
  // Computed from both comparisons rather than branched on: the sign of the
  // gap flips unpredictably on market data. HOLD (2) less 2 when above
  // gives BUY (0), less 1 when below gives SELL (1).
  const int above = short_minus_long > 0.0;
  const int below = short_minus_long < 0.0;
  return Signal{static_cast<Signal::Code>(2 - 2 * above - below)};
}

template <class Average>
struct Crossover {
  Average short_average;
  Average long_average;

  // Fails when short_period >= long_period, then for a zero short period
  // (before the long average is built), then as the averages' own rules do.
  static Expected<Crossover> create(std::uint32_t short_period,
                                    std::uint32_t long_period) noexcept {
    if (short_period >= long_period) return std::unexpected(kShortNotBelowLong);
    auto short_average = Average::create(short_period);
    if (!short_average) return std::unexpected(short_average.error());
    auto long_average = Average::create(long_period);
    if (!long_average) return std::unexpected(long_average.error());
    return Crossover{std::move(*short_average), std::move(*long_average)};
  }

  Signal update(double x) noexcept {
    const double short_mean = short_average.update(x);
    const double long_mean = long_average.update(x);
    return signal_for_gap(short_mean - long_mean);
  }

  void reset() noexcept {
    short_average.reset();
    long_average.reset();
  }
};

// Both strategies' Python shape: Class(short_period, long_period) with
// next(input) and reset(), each holding the instance exclusively.
template <class Record>
struct CrossoverStrategy {
  static constexpr auto kConstructor = constructor<&Record::create>("short_period", "long_period");
  static constexpr auto kMethods =
      std::tuple{method<&Record::update>("next", Access::kExclusive, "input"),
                 method<&Record::reset>("reset", Access::kExclusive)};
};

template <class Average>
struct Checkpoint<Crossover<Average>> {
  using R = Crossover<Average>;
  static constexpr auto kFields = std::tuple{
      component<&R::short_average>("short_average"), component<&R::long_average>("long_average"),
      rule<R>([](const R& r) noexcept { return r.short_average.length() < r.long_average.length(); },
              "the short period must be less than the long period")};
};

// The long average's warm-up.
template <class Average>
struct Warmup<Crossover<Average>> {
  using R = Crossover<Average>;
  static std::uint64_t lookback(const R& record) noexcept {
    return Warmup<Average>::lookback(record.long_average);
  }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return Warmup<Average>::inputs_seen(record.long_average);
  }
};

}  // namespace barworks
