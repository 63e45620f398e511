#pragma once

#include <cmath>
#include <cstdint>
#include <utility>

#include "../error.h"
#include "../window.h"
#include "exact_window.h"
#include "family.h"

namespace barworks::classic {

// The sums of the last `shortest_period`, `middle_period` and `longest`
// inputs of one series (shortest <= middle <= longest), for an indicator
// that weighs a series over three horizons. One window of the last
// `longest` inputs serves all three: each step adds the input to every sum
// and takes away the one that left that sum's horizon. The sums are
// recomputed from the window every `longest` inputs (every 64 for shorter
// windows), so they stay exact where running sums would drift. A slide's
// rounding is in proportion to the largest sum since the last
// recomputation, so a sum that falls below 1/16 of that peak (large inputs
// leaving, a flat stretch starting) is recomputed at once, and a window of
// zeros sums to exactly 0. While a NaN or infinite input is in the window
// the sums are not kept; once it has left they are recomputed.
struct TrailingSums {
  CircularWindow window;        // the last `longest` inputs
  std::uint32_t shortest_period;
  std::uint32_t middle_period;
  double shortest_sum;
  double middle_sum;
  double longest_sum;
  double shortest_peak;         // largest |sum| since the last exact computation
  double middle_peak;
  double longest_peak;
  std::uint32_t nonfinite;      // non-finite inputs in the window
  std::uint32_t since_exact;    // slides since the last exact recomputation
  std::uint32_t exact_every;    // slides between exact recomputations

  // The lengths must be in order; 0 is refused.
  static Expected<TrailingSums> create(std::uint32_t shortest_period, std::uint32_t middle_period,
                                       std::uint32_t longest) noexcept {
    if (shortest_period == 0) return std::unexpected(kPeriodZero);
    auto window = CircularWindow::create(longest);
    if (!window) return std::unexpected(window.error());
    TrailingSums made{std::move(*window), shortest_period, middle_period, 0.0, 0.0, 0.0,
                      0.0, 0.0, 0.0, 0, 0, 0};
    made.exact_every = made.slides_between_exact();
    return made;
  }
  // Takes x; false while a non-finite input is in the window, when the
  // sums are not to be read.
  [[gnu::always_inline]] bool push(double x) noexcept;
  bool full() const noexcept { return window.count == window.period; }
  void reset() noexcept {
    window.clear();
    shortest_sum = middle_sum = longest_sum = 0.0;
    shortest_peak = middle_peak = longest_peak = 0.0;
    nonfinite = since_exact = 0;
  }
  std::uint32_t slides_between_exact() const noexcept {
    return classic::slides_between_exact(window.period);
  }
  std::uint32_t count_nonfinite() const noexcept { return classic::count_nonfinite(window.values); }

 private:
  // The input `length` steps back, 0.0 where the window has not reached it.
  double input_back(std::uint32_t length) const noexcept {
    const std::uint32_t index = window.index;
    return window.values[index >= length ? index - length : index + window.period - length];
  }
  // Newest to oldest, so that each shorter sum is a stage of the longer.
  [[gnu::cold, gnu::noinline]] void recompute() noexcept {
    double sum = 0.0;
    std::uint32_t slot = window.index;
    for (std::uint32_t taken = 1; taken <= window.period; ++taken) {
      slot = slot == 0 ? window.period - 1 : slot - 1;
      sum += window.values[slot];
      if (taken == shortest_period) shortest_sum = sum;
      if (taken == middle_period) middle_sum = sum;
    }
    longest_sum = sum;
    shortest_peak = std::fabs(shortest_sum);
    middle_peak = std::fabs(middle_sum);
    longest_peak = std::fabs(longest_sum);
    since_exact = 0;
  }
};

inline bool TrailingSums::push(double x) noexcept {
  const bool was_full = full();
  const double left_shortest = input_back(shortest_period);
  const double left_middle = input_back(middle_period);
  const double old = window.push(x);
  const double change = x - old;
  const bool rebuild = nonfinite_moved(x, old, change, nonfinite);
  if (nonfinite != 0) [[unlikely]] return false;
  if (was_full && (rebuild || ++since_exact == exact_every)) [[unlikely]] {
    recompute();
    return true;
  }
  shortest_sum += x - left_shortest;
  middle_sum += x - left_middle;
  longest_sum += change;
  const double shortest_size = std::fabs(shortest_sum);
  const double middle_size = std::fabs(middle_sum);
  const double longest_size = std::fabs(longest_sum);
  // Maxima, not branches: a new peak comes at random.
  shortest_peak = shortest_size > shortest_peak ? shortest_size : shortest_peak;
  middle_peak = middle_size > middle_peak ? middle_size : middle_peak;
  longest_peak = longest_size > longest_peak ? longest_size : longest_peak;
  const bool fell = (shortest_size * 16.0 < shortest_peak) | (middle_size * 16.0 < middle_peak) |
                    (longest_size * 16.0 < longest_peak);
  if (fell) [[unlikely]] recompute();
  return true;
}

}  // namespace barworks::classic

namespace barworks {

// The count of non-finite inputs follows from the window; the sums and
// their peaks are stored as they are, since an exact recomputation would
// round differently.
template <>
struct Checkpoint<classic::TrailingSums> {
  using R = classic::TrailingSums;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"), period<&R::shortest_period>("shortest_period", 0),
      period<&R::middle_period>("middle_period", 0), number<&R::shortest_sum>("shortest_sum"),
      number<&R::middle_sum>("middle_sum"), number<&R::longest_sum>("longest_sum"),
      number<&R::shortest_peak>("shortest_peak"), number<&R::middle_peak>("middle_peak"),
      number<&R::longest_peak>("longest_peak"), derived<&R::nonfinite, &R::count_nonfinite>(),
      tally<&R::since_exact>("since_exact"), derived<&R::exact_every, &R::slides_between_exact>(),
      rule<R>([](const R& r) noexcept {
                return r.shortest_period <= r.middle_period &&
                       r.middle_period <= r.window.period && count_within_period(r.window);
              },
              "the lengths must be in order and the count must not pass the longest"),
      rule<R>([](const R& r) noexcept {
                return r.window.count != 0 ||
                       (r.shortest_sum == 0.0 && r.middle_sum == 0.0 && r.longest_sum == 0.0 &&
                        r.shortest_peak == 0.0 && r.middle_peak == 0.0 && r.longest_peak == 0.0);
              },
              "the sums and their peaks must be 0 before the first input"),
      since_exact_rule<R>()};
};
static_assert(checkpoint_layout::lists_every_member<classic::TrailingSums>());

}  // namespace barworks
