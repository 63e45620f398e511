// The simple moving averages that the price oscillators take the difference
// of: not classes of their own.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "../error.h"
#include "../nan.h"
#include "../window.h"
#include "exact_window.h"
#include "family.h"

namespace barworks::classic {

// The mean of the last `period` inputs, sum / period, from a sum that slides
// in O(1) and is recomputed from the window every `period` slides (every 64
// for shorter windows), so that its rounding stays within a few ulps however
// long the stream (TA-Lib's running sum drifts). NaN until the window is
// full; a NaN or infinite input makes the mean NaN while it is in the
// window, and once it has left the sum is recomputed from the window.
struct SlidingMean {
  CircularWindow window;
  double sum;
  std::uint32_t nonfinite;    // NaN and infinite inputs in the window
  std::uint32_t since_exact;  // slides since the last exact recomputation

  static Expected<SlidingMean> create(std::uint32_t period) noexcept {
    auto window = CircularWindow::create(period);
    if (!window) return std::unexpected(window.error());
    return SlidingMean{std::move(*window), 0.0, 0, 0};
  }
  double update(double x) noexcept {
    const bool full = window.count == window.period;
    const double old = window.push(x);
    // Finite whenever both inputs are: one test keeps the count of
    // non-finite inputs off the common path.
    const double change = x - old;
    const bool rebuild = nonfinite_moved(x, old, change, nonfinite);
    if (!full) [[unlikely]] {
      sum += x;
    } else if (rebuild || ++since_exact == slides_between_exact()) [[unlikely]] {
      recompute();
    } else {
      sum += change;
    }
    if (nonfinite != 0 || window.count < window.period) [[unlikely]] return kNotYet;
    return sum / static_cast<double>(window.period);
  }
  void reset() noexcept {
    window.clear();
    sum = 0.0;
    nonfinite = 0;
    since_exact = 0;
  }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(window.period);
  }
  std::uint32_t count_nonfinite() const noexcept { return classic::count_nonfinite(window.values); }

 private:
  [[gnu::cold, gnu::noinline]] void recompute() noexcept {
    double exact = 0.0;
    for (const double value : window.values) exact += value;
    sum = exact;
    since_exact = 0;
  }
};

// Two simple moving averages of the same inputs, the fast one over the
// shorter window: a fast period above the slow one is swapped, as TA-Lib
// does, and equal periods give equal means. Both windows end at the latest
// input; (fast, slow) are NaN until the slow window is full. NaN inputs
// before the first number are skipped without counting.
struct MeanPair {
  SlidingMean fast;
  SlidingMean slow;

  static Expected<MeanPair> create(std::uint32_t fast_period, std::uint32_t slow_period) noexcept {
    if (fast_period == 0 || slow_period == 0) return std::unexpected(kPeriodZero);
    auto fast = SlidingMean::create(std::min(fast_period, slow_period));
    if (!fast) return std::unexpected(fast.error());
    auto slow = SlidingMean::create(std::max(fast_period, slow_period));
    if (!slow) return std::unexpected(slow.error());
    return MeanPair{std::move(*fast), std::move(*slow)};
  }
  std::array<double, 2> update(double x) noexcept {
    x = canonical(x);
    if (slow.window.count == 0 && x != x) [[unlikely]] return {kNotYet, kNotYet};
    const double fast_mean = fast.update(x);
    const double slow_mean = slow.update(x);
    return {fast_mean, slow_mean};
  }
  void reset() noexcept {
    fast.reset();
    slow.reset();
  }
};

}  // namespace barworks::classic

namespace barworks {

// The count of non-finite inputs follows from the window and is recomputed
// on load; the sliding sum is stored as it is.
template <>
struct Checkpoint<classic::SlidingMean> {
  using R = classic::SlidingMean;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), number<&R::sum>("sum"),
      derived<&R::nonfinite, &R::count_nonfinite>(), tally<&R::since_exact>("since_exact"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period"),
      rule<R>([](const R& r) noexcept { return r.window.count != 0 || r.sum == 0.0; },
              "the sum must be 0 before the first input"),
      since_exact_rule<R>()};
};
static_assert(checkpoint_layout::lists_every_member<classic::SlidingMean>());

// Both means take every input from the first.
template <>
struct Checkpoint<classic::MeanPair> {
  using R = classic::MeanPair;
  static constexpr auto kFields = std::tuple{
      component<&R::fast>("fast"), component<&R::slow>("slow"),
      rule<R>([](const R& r) noexcept { return r.fast.window.period <= r.slow.window.period; },
              "the fast period must not be above the slow period"),
      rule<R>(
          [](const R& r) noexcept {
            return r.fast.window.count == std::min(r.slow.window.count, r.fast.window.period);
          },
          "the fast mean must have taken the inputs the slow one has")};
};
static_assert(checkpoint_layout::lists_every_member<classic::MeanPair>());

// The slow window counts up to its first mean.
template <class Record>
struct MeanPairWarmup {
  static std::uint64_t lookback(const Record& record) noexcept {
    return std::uint64_t{record.means.slow.window.period} - 1;
  }
  static std::uint64_t inputs_seen(const Record& record) noexcept {
    return record.means.slow.window.count;
  }
};

// Class(fast_period=12, slow_period=26) with next(input) and reset().
template <class Record>
struct PriceOscillatorClass {
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor =
      constructor<&Record::create>(with_default("fast_period", 12), with_default("slow_period", 26));
  static constexpr auto kMethods =
      std::tuple{method<&Record::update>("next", Access::kExclusive, "input"),
                 method<&Record::reset>("reset", Access::kExclusive)};
};

}  // namespace barworks
