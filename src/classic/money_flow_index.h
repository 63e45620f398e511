#pragma once

#include <cstdint>
#include <utility>

#include "../branch_free.h"
#include "../candle.h"
#include "../error.h"
#include "../warmup.h"
#include "../window.h"
#include "exact_window.h"
#include "family.h"

namespace barworks::classic {

// The money flow index: a volume-weighted relative strength of the typical
// price (high + low + close) / 3. A bar's money flow, typical * volume, is
// rising when its typical price is above the previous bar's, falling when
// below, and neither when equal; over the last `period` bars,
//   answer = 100 * rising / (rising + falling)
// Lookback `period`: the first bar only gives a typical price; bars before
// the first whose fields are all numbers are skipped. A NaN later makes the
// answers NaN while its bar, or the bar after it, is in the window. A window
// with no rising and no falling flow answers 0.0, as TA-Lib does. The sums
// slide and are recomputed from the windows every `period` bars (every 64
// for shorter windows), so they stay exact where running sums would drift.
struct MoneyFlowIndex {
  static constexpr bool kReadsVolume = true;

  CircularWindow rising;        // each bar's rising flow, else 0.0
  CircularWindow falling;       // each bar's falling flow, else 0.0
  double rising_sum;
  double falling_sum;
  double previous_typical;
  bool started;
  std::uint32_t nonfinite;      // non-finite flows in the windows
  std::uint32_t since_exact;    // slides since the last exact recomputation
  std::uint32_t exact_every;    // slides between exact recomputations

  static Expected<MoneyFlowIndex> create(std::uint32_t period) noexcept {
    auto rising = CircularWindow::create(period);
    if (!rising) return std::unexpected(rising.error());
    auto falling = CircularWindow::create(period);
    if (!falling) return std::unexpected(falling.error());
    MoneyFlowIndex made{std::move(*rising), std::move(*falling), 0.0, 0.0, 0.0, false, 0, 0, 0};
    made.exact_every = made.slides_between_exact();
    return made;
  }
  double update(const Candle& bar) noexcept;
  void reset() noexcept {
    rising.clear();
    falling.clear();
    rising_sum = falling_sum = previous_typical = 0.0;
    started = false;
    nonfinite = since_exact = 0;
  }
  std::uint32_t length() const noexcept { return rising.period; }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(rising.period);
  }
  std::uint32_t count_nonfinite() const noexcept {
    return classic::count_nonfinite(rising.values) + classic::count_nonfinite(falling.values);
  }

 private:
  [[gnu::cold, gnu::noinline]] void recompute() noexcept {
    double up = 0.0, down = 0.0;
    for (std::uint32_t step = 0, slot = rising.index; step < rising.period; ++step) {
      up += rising.values[slot];
      down += falling.values[slot];
      slot = next_slot(slot, rising.period);
    }
    rising_sum = up;
    falling_sum = down;
    since_exact = 0;
  }
};

inline double MoneyFlowIndex::update(const Candle& bar) noexcept {
  const double typical = (bar.high + bar.low + bar.close) / 3.0;
  if (!started) [[unlikely]] {
    if (any_nan(bar.high, bar.low, bar.close, bar.volume)) return kNotYet;
    started = true;
    previous_typical = typical;
    return kNotYet;
  }
  // A NaN typical price (or one after it) compares neither way; its flow is
  // NaN on both sides so that the answers are NaN while it is in the window.
  const double flow = canonical(typical * bar.volume);
  const bool unknown = any_nan(typical, previous_typical);
  // Without a branch on the data: which way the price moved.
  const double up = unknown ? kNaN : where_above(typical, previous_typical, flow);
  const double down = unknown ? kNaN : where_above(previous_typical, typical, flow);
  previous_typical = typical;
  const bool full = rising.count == rising.period;
  const double old_up = rising.push(up);
  const double old_down = falling.push(down);
  const double up_change = up - old_up;
  const double down_change = down - old_down;
  bool rebuild = nonfinite_moved(up, old_up, up_change, nonfinite);
  rebuild |= nonfinite_moved(down, old_down, down_change, nonfinite);
  if (nonfinite != 0) [[unlikely]] return kNaN;
  if (full) [[likely]] {
    if (rebuild || ++since_exact == exact_every) [[unlikely]] {
      recompute();
    } else {
      rising_sum += up_change;
      falling_sum += down_change;
    }
  } else {
    rising_sum += up;
    falling_sum += down;
    if (rising.count < rising.period) return kNotYet;
  }
  const double total = rising_sum + falling_sum;
  if (total == 0.0) [[unlikely]] return 0.0;
  return 100.0 * rising_sum / total;
}

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::MoneyFlowIndex> : ClassicPeriodIndicator<classic::MoneyFlowIndex> {
  static constexpr const char* kName = "MoneyFlowIndex";
  static constexpr auto kConstructor =
      constructor<&classic::MoneyFlowIndex::create>(with_default("period", 14));
};

template <>
struct Checkpoint<classic::MoneyFlowIndex> {
  using R = classic::MoneyFlowIndex;
  static constexpr auto kFields = std::tuple{
      component<&R::rising>("rising"), component<&R::falling>("falling"),
      number<&R::rising_sum>("rising_sum"), number<&R::falling_sum>("falling_sum"),
      number<&R::previous_typical>("previous_typical"), choice<&R::started>("started", 1),
      derived<&R::nonfinite, &R::count_nonfinite>(), tally<&R::since_exact>("since_exact"),
      derived<&R::exact_every, &R::slides_between_exact>(),
      rule<R>([](const R& r) noexcept {
                return r.falling.period == r.rising.period && r.falling.index == r.rising.index &&
                       r.falling.count == r.rising.count && count_within_period(r.rising);
              },
              "the rising and falling windows must move together and not pass the period"),
      rule<R>([](const R& r) noexcept {
                return r.started || (r.rising.count == 0 && r.previous_typical == 0.0);
              },
              "no flow may come before the first bar"),
      rule<R>([](const R& r) noexcept {
                return r.rising.count != 0 || (r.rising_sum == 0.0 && r.falling_sum == 0.0);
              },
              "the sums must be 0 before the first flow"),
      since_exact_rule<R, &R::rising>()};
};

template <>
struct Warmup<classic::MoneyFlowIndex> {
  using R = classic::MoneyFlowIndex;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return record.started ? std::uint64_t{record.rising.count} + 1 : 0;
  }
};

}  // namespace barworks
