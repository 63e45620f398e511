// The record both crossover strategies share: a short and a long average of
// the same stream, whose gap is read as a signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <utility>

#include "../checkpoint.h"
#include "../describe.h"
#include "../error.h"
#include "../lanes.h"
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
// The same for two gaps side by side, each lane's code as an integer: a
// true comparison is all ones (-1), so HOLD plus twice the one and the
// other gives each code as above.
inline LaneMask signal_for_gap(DoublePair short_minus_long) noexcept {
  return 2 + 2 * (short_minus_long > 0.0) + (short_minus_long < 0.0);
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

  // Once both averages are steady, their rules over a number type: the
  // fields are the short average's, then the long one's.
  bool steady() const noexcept { return is_steady(short_average) && is_steady(long_average); }
  template <class Number, class... Fields>
  static auto advance(const Crossover& shared, Number x, Fields&... fields) noexcept {
    constexpr std::size_t kHalf = sizeof...(Fields) / 2;
    const auto all = std::tie(fields...);
    const auto mean = [&]<std::size_t... I>(const Average& average, std::index_sequence<I...>,
                                            auto offset) noexcept {
      return Average::advance(average, x, std::get<decltype(offset)::value + I>(all)...);
    };
    const Number short_mean =
        mean(shared.short_average, std::make_index_sequence<kHalf>{}, std::integral_constant<std::size_t, 0>{});
    const Number long_mean = mean(shared.long_average, std::make_index_sequence<kHalf>{},
                                  std::integral_constant<std::size_t, kHalf>{});
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
struct LaneFields<Crossover<Average>> {
  using R = Crossover<Average>;
  using List = Joined<within_all<&R::short_average, typename LaneFields<Average>::List>,
                      within_all<&R::long_average, typename LaneFields<Average>::List>>;
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
