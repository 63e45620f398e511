// The two simple moving averages that the price oscillators compare: not a
// class of its own.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "../error.h"
#include "../nan.h"
#include "../window.h"
#include "exact_window.h"
#include "family.h"

namespace barworks::classic {

// Simple moving averages of the last `fast_period` and the last
// `slow_period` inputs, sum / period each, both over one window of the
// slow period's inputs; the fast period must be below the slow one. The sums slide in O(1) and
// are recomputed from the window every slow period's slides (every 64 for
// shorter windows), so that their rounding stays within a few ulps however
// long the stream (TA-Lib's running sums drift). (fast, slow) are NaN until
// the window is full. NaN inputs before the first number are skipped
// without counting; a later NaN or infinite input makes both NaN while it
// is in the window, and once it has left the sums are recomputed from it.
struct MeanPair {
  CircularWindow window;  // the last slow_period inputs
  std::uint32_t fast_period;
  double fast_sum;
  double slow_sum;
  std::uint32_t nonfinite;    // NaN and infinite inputs in the window
  std::uint32_t since_exact;  // slides since the last exact recomputation

  static Expected<MeanPair> create(std::uint32_t fast_period, std::uint32_t slow_period) noexcept {
    if (fast_period == 0 || slow_period == 0) return std::unexpected(kPeriodZero);
    auto window = CircularWindow::create(slow_period);
    if (!window) return std::unexpected(window.error());
    // TA-Lib swaps a fast period above the slow one and answers 0.0 for
    // equal ones; neither is an oscillator a user means to ask for.
    if (fast_period >= slow_period) return std::unexpected(kFastNotBelowSlow);
    return MeanPair{std::move(*window), fast_period, 0.0, 0.0, 0, 0};
  }
  std::array<double, 2> update(double x) noexcept {
    constexpr std::array<double, 2> kNone{kNotYet, kNotYet};
    x = canonical(x);
    if (window.count == 0 && x != x) [[unlikely]] return kNone;
    const std::uint32_t period = window.period;
    const bool full = window.count == period;
    // The input fast_period back leaves the fast window; its slot has not
    // been written, and holds 0.0, while that window fills.
    const std::uint32_t back = window.index >= fast_period ? window.index - fast_period
                                                           : window.index + (period - fast_period);
    const double fast_old = window.values[back];
    const double old = window.push(x);
    const double fast_change = x - fast_old;
    const double change = x - old;
    // The fast window lies inside the slow one, so the slow window's count
    // of non-finite inputs covers both; a fast change that overflows from
    // finite inputs recomputes too.
    const bool rebuild = nonfinite_moved(x, old, change, nonfinite) ||
                         !(std::fabs(fast_change) <= std::numeric_limits<double>::max());
    if (!full) [[unlikely]] {
      fast_sum += fast_change;
      slow_sum += x;
    } else if (rebuild || ++since_exact == slides_between_exact()) [[unlikely]] {
      recompute();
    } else {
      fast_sum += fast_change;
      slow_sum += change;
    }
    if (nonfinite != 0 || window.count < period) [[unlikely]] return kNone;
    return {fast_sum / static_cast<double>(fast_period), slow_sum / static_cast<double>(period)};
  }
  void reset() noexcept {
    window.clear();
    fast_sum = 0.0;
    slow_sum = 0.0;
    nonfinite = 0;
    since_exact = 0;
  }
  std::uint32_t slow_period() const noexcept { return window.period; }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(window.period);
  }
  std::uint32_t count_nonfinite() const noexcept { return classic::count_nonfinite(window.values); }

 private:
  // From the oldest input (the next slot to be written) to the newest.
  [[gnu::cold, gnu::noinline]] void recompute() noexcept {
    const std::uint32_t period = window.period;
    double fast = 0.0, slow = 0.0;
    for (std::uint32_t step = 0, slot = window.index; step < period; ++step) {
      slow += window.values[slot];
      if (step >= period - fast_period) fast += window.values[slot];
      slot = next_slot(slot, period);
    }
    fast_sum = fast;
    slow_sum = slow;
    since_exact = 0;
  }
};

}  // namespace barworks::classic

namespace barworks {

// The count of non-finite inputs and the recomputations' pace follow from
// the window and are recomputed on load; the sliding sums are stored as
// they are.
template <>
struct Checkpoint<classic::MeanPair> {
  using R = classic::MeanPair;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), period<&R::fast_period>("fast_period", 0),
      number<&R::fast_sum>("fast_sum"), number<&R::slow_sum>("slow_sum"),
      derived<&R::nonfinite, &R::count_nonfinite>(), tally<&R::since_exact>("since_exact"),
      rule<R>([](const R& r) noexcept {
                return r.fast_period != 0 && r.fast_period < r.window.period;
              },
              "the fast period must be at least 1 and below the slow period"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period"),
      rule<R>([](const R& r) noexcept {
                return r.window.count != 0 || (r.fast_sum == 0.0 && r.slow_sum == 0.0);
              },
              "the sums must be 0 before the first input"),
      since_exact_rule<R>()};
};
static_assert(checkpoint_layout::lists_every_member<classic::MeanPair>());

// The window counts up to the first means.
template <class Record>
struct MeanPairWarmup {
  static std::uint64_t lookback(const Record& record) noexcept {
    return std::uint64_t{record.means.slow_period()} - 1;
  }
  static std::uint64_t inputs_seen(const Record& record) noexcept {
    return record.means.window.count;
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
