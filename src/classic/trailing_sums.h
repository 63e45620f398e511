#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "../branch_free.h"
#include "../error.h"
#include "../lanes.h"
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
  // Slides the sums of two records of the same lengths in step, as push
  // would, for `steps` inputs each: full windows without non-finite inputs,
  // none of the inputs non-finite or overflowing against the one it
  // replaces. `history` holds pairs, a's input then b's: the windows,
  // oldest first, then the inputs. After step k the sums go to
  // shortest_after[2k .. 2k + 2) and the others alike. The caller writes
  // the windows (push_all).
  static void slide_in_step(TrailingSums& a, TrailingSums& b, const double* history,
                            std::uint32_t steps, double* shortest_after, double* middle_after,
                            double* longest_after) noexcept;
  bool full() const noexcept { return window.count == window.period; }
  // Once the window is full, push's rule over a number type: a lone
  // record's every input, a universe's lane's, or a pair of lanes' on the
  // common path (pair_on_common_path); `window` pushes and gives its slots.
  // A pair's lanes each keep their own count of slides.
  template <class Number, class Values, class Count>
  [[gnu::always_inline]] static bool advance(const TrailingSums& shared, Number x, Values& window,
                                             Number& shortest_sum, Number& middle_sum,
                                             Number& longest_sum, Number& shortest_peak,
                                             Number& middle_peak, Number& longest_peak,
                                             Count& nonfinite, Count& since_exact) noexcept;
  // A pair of lanes without a non-finite input in their windows or coming
  // in, nor a change that overflows. Read before either lane is touched.
  template <class Values, class Count>
  static bool pair_on_common_path(const TrailingSums&, DoublePair x, const Values& window,
                                  const DoublePair&, const DoublePair&, const DoublePair&,
                                  const DoublePair&, const DoublePair&, const DoublePair&,
                                  const Count& nonfinite, const Count&) noexcept {
    const DoublePair change = x - window.slot(window.write_slot());
    const DoublePair largest = splat<DoublePair>(std::numeric_limits<double>::max());
    return (nonfinite[0] | nonfinite[1]) == 0 && every_lane(absolute(change) <= largest);
  }
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
  // The sums alone, x in and out the inputs that left each horizon.
  template <class Number>
  [[gnu::always_inline]] static void slide_sums(Number x, Number left_shortest,
                                                Number left_middle, Number left_longest,
                                                Number& shortest, Number& middle,
                                                Number& longest) noexcept {
    shortest += x - left_shortest;
    middle += x - left_middle;
    longest += x - left_longest;
  }
  // One slide of the sums and their peaks, of one record or two side by
  // side: x in, and out the inputs that left each horizon. Set where a sum
  // fell below 1/16 of its peak, which calls for an exact recomputation.
  template <class Number>
  [[gnu::always_inline]] static auto slide(Number x, Number left_shortest, Number left_middle,
                                           Number left_longest, Number& shortest,
                                           Number& middle, Number& longest,
                                           Number& shortest_peak, Number& middle_peak,
                                           Number& longest_peak) noexcept {
    slide_sums(x, left_shortest, left_middle, left_longest, shortest, middle, longest);
    const Number shortest_size = absolute(shortest);
    const Number middle_size = absolute(middle);
    const Number longest_size = absolute(longest);
    // Maxima, not branches: a new peak comes at random.
    shortest_peak = greater_or_second(shortest_size, shortest_peak);
    middle_peak = greater_or_second(middle_size, middle_peak);
    longest_peak = greater_or_second(longest_size, longest_peak);
    return (shortest_size * 16.0 < shortest_peak) | (middle_size * 16.0 < middle_peak) |
           (longest_size * 16.0 < longest_peak);
  }
  // The sums computed afresh from the window, newest to oldest, so that
  // each shorter sum is a stage of the longer; back(t) is the input t steps
  // back, 1 the newest.
  template <class Number>
  struct Sums {
    Number shortest;
    Number middle;
    Number longest;
  };
  template <class Number, class Back>
  [[gnu::always_inline]] static Sums<Number> sums_from(Back back, std::uint32_t shortest_period,
                                                       std::uint32_t middle_period,
                                                       std::uint32_t longest) noexcept {
    Number sum = splat<Number>(0.0);
    Sums<Number> sums;
    std::size_t taken = 1;  // wide, so that a stride through memory reduces to a step
    for (; taken <= shortest_period; ++taken) sum += back(taken);
    sums.shortest = sum;
    for (; taken <= middle_period; ++taken) sum += back(taken);
    sums.middle = sum;
    for (; taken <= longest; ++taken) sum += back(taken);
    sums.longest = sum;
    return sums;
  }
  template <class Back>
  void recompute_from(Back back) noexcept {
    const Sums<double> sums = sums_from<double>(back, shortest_period, middle_period,
                                                window.period);
    shortest_sum = sums.shortest;
    middle_sum = sums.middle;
    longest_sum = sums.longest;
    shortest_peak = std::fabs(shortest_sum);
    middle_peak = std::fabs(middle_sum);
    longest_peak = std::fabs(longest_sum);
    since_exact = 0;
  }
  // The sums of a window, one lane's or a pair's, whose newest input is in
  // slot `newest`. Given a handle on the slots rather than the record, so
  // that the record's address does not escape the loops.
  template <class Number, class Slots>
  [[gnu::cold, gnu::noinline]] static Sums<Number> exact_sums(Slots window,
                                                              std::uint32_t shortest_period,
                                                              std::uint32_t middle_period,
                                                              std::uint32_t longest,
                                                              std::uint32_t newest) noexcept {
    const auto back = [&](std::uint32_t taken) {
      const std::uint32_t age = taken - 1;
      return window.slot(newest >= age ? newest - age : newest + longest - age);
    };
    return sums_from<Number>(back, shortest_period, middle_period, longest);
  }
  [[gnu::cold, gnu::noinline]] void recompute() noexcept {
    recompute_from([this](std::uint32_t taken) { return input_back(taken); });
  }
  // The same, for the window whose newest input is at `newest`, each input
  // `stride` doubles after the one before.
  [[gnu::cold, gnu::noinline]] void recompute_ending(const double* newest,
                                                     std::uint32_t stride) noexcept {
    recompute_from([=](std::size_t taken) { return *(newest - (taken - 1) * stride); });
  }
};

inline bool TrailingSums::push(double x) noexcept {
  if (full()) [[likely]] {
    return advance(*this, x, window, shortest_sum, middle_sum, longest_sum, shortest_peak,
                   middle_peak, longest_peak, nonfinite, since_exact);
  }
  const double left_shortest = input_back(shortest_period);
  const double left_middle = input_back(middle_period);
  const double old = window.push(x);
  (void)nonfinite_moved(x, old, x - old, nonfinite);
  if (nonfinite != 0) [[unlikely]] return false;
  const bool fell = slide(x, left_shortest, left_middle, old, shortest_sum, middle_sum, longest_sum,
                          shortest_peak, middle_peak, longest_peak);
  if (fell) [[unlikely]] recompute();
  return true;
}

template <class Number, class Values, class Count>
inline bool TrailingSums::advance(const TrailingSums& shared, Number x, Values& window,
                                  Number& shortest_sum, Number& middle_sum, Number& longest_sum,
                                  Number& shortest_peak, Number& middle_peak,
                                  Number& longest_peak, Count& nonfinite,
                                  Count& since_exact) noexcept {
  const std::uint32_t period = shared.window.period;
  // The slot x goes to; the inputs that leave the shorter horizons lie
  // their lengths behind it.
  const std::uint32_t slot = window.write_slot();
  const auto back = [&](std::uint32_t length) {
    return window.slot(slot >= length ? slot - length : slot + period - length);
  };
  const Number left_shortest = back(shared.shortest_period);
  const Number left_middle = back(shared.middle_period);
  const Number old = window.push(x);
  bool rebuild = false;
  if constexpr (std::is_same_v<Number, double>) {
    rebuild = nonfinite_moved(x, old, x - old, nonfinite);
    if (nonfinite != 0) [[unlikely]] return false;
  }
  // Recomputed where a recomputation is due or a sum fell, lane by lane,
  // the slide set aside and the count starting again.
  decltype(x < x) where =
      lanes_where<Number>(rebuild) | exact_due_each(since_exact, shared.exact_every);
  if (!every_lane(where)) [[likely]] {
    where = where | slide(x, left_shortest, left_middle, old, shortest_sum, middle_sum,
                          longest_sum, shortest_peak, middle_peak, longest_peak);
  }
  if (any_lane(where)) [[unlikely]] {
    const Sums<Number> sums = exact_sums<Number>(window.slots(), shared.shortest_period,
                                                 shared.middle_period, period, slot);
    shortest_sum = select(where, sums.shortest, shortest_sum);
    middle_sum = select(where, sums.middle, middle_sum);
    longest_sum = select(where, sums.longest, longest_sum);
    shortest_peak = select(where, absolute(sums.shortest), shortest_peak);
    middle_peak = select(where, absolute(sums.middle), middle_peak);
    longest_peak = select(where, absolute(sums.longest), longest_peak);
    restart(since_exact, where);
  }
  return true;
}

inline void TrailingSums::slide_in_step(TrailingSums& a, TrailingSums& b,
                                        const double* history, std::uint32_t steps,
                                        double* shortest_after, double* middle_after,
                                        double* longest_after) noexcept {
  const std::uint32_t period = a.window.period;
  const double* const taken = history + 2 * period;  // step k's inputs at 2k
  const double* const leaving_shortest = history + 2 * (period - a.shortest_period);
  const double* const leaving_middle = history + 2 * (period - a.middle_period);
  DoublePair shortest{a.shortest_sum, b.shortest_sum};
  DoublePair middle{a.middle_sum, b.middle_sum};
  DoublePair longest{a.longest_sum, b.longest_sum};
  DoublePair shortest_peak{a.shortest_peak, b.shortest_peak};
  DoublePair middle_peak{a.middle_peak, b.middle_peak};
  DoublePair longest_peak{a.longest_peak, b.longest_peak};
  TrailingSums* const records[2] = {&a, &b};
  // A lane's slides after step s are since[lane] + s + 1 - from[lane]:
  // counted from the step after its last recomputation.
  std::uint32_t since[2] = {a.since_exact, b.since_exact};
  std::uint32_t from[2] = {0, 0};
  // The step at which a lane's next recomputation falls due.
  const auto due_at = [&] {
    return std::min(from[0] + (a.exact_every - since[0]), from[1] + (b.exact_every - since[1])) -
           1;
  };
  std::uint32_t due = due_at();
  // One step as push takes it: the slide, and a recomputation where one
  // falls due or a sum fell.
  const auto exact_step = [&](std::uint32_t step) {
    const std::uint32_t k = 2 * step;
    const LaneMask fell = slide(load_lanes<DoublePair>(taken + k),
                                load_lanes<DoublePair>(leaving_shortest + k),
                                load_lanes<DoublePair>(leaving_middle + k),
                                load_lanes<DoublePair>(history + k), shortest, middle, longest,
                                shortest_peak, middle_peak, longest_peak);
    // A recomputation due replaces the slide, as in push.
    if (step == due || any_lane(fell)) [[unlikely]] {
      for (int lane = 0; lane < 2; ++lane) {
        TrailingSums& record = *records[lane];
        const bool is_due = since[lane] + (step + 1 - from[lane]) == record.exact_every;
        if (fell[lane] == 0 && !is_due) continue;
        record.recompute_ending(taken + k + lane, 2);
        shortest[lane] = record.shortest_sum;
        middle[lane] = record.middle_sum;
        longest[lane] = record.longest_sum;
        shortest_peak[lane] = record.shortest_peak;
        middle_peak[lane] = record.middle_peak;
        longest_peak[lane] = record.longest_peak;
        since[lane] = 0;
        from[lane] = step + 1;
      }
      due = due_at();
    }
    store_lanes(shortest_after + k, shortest);
    store_lanes(middle_after + k, middle);
    store_lanes(longest_after + k, longest);
  };
  // Stretches before the next recomputation due slide without testing each
  // step for a fall: no sum fell anywhere in one whose smallest size is at
  // least 1/16 of its peak at the end, the largest size taken. A stretch
  // that fails the test is taken again a step at a time.
  constexpr std::uint32_t kStretch = 16;
  std::uint32_t step = 0;
  while (step < steps) {
    const std::uint32_t end = std::min({steps, due, step + kStretch});
    if (end == step) {
      exact_step(step++);
      continue;
    }
    const DoublePair sums_before[3] = {shortest, middle, longest};
    const DoublePair none = splat<DoublePair>(std::numeric_limits<double>::infinity());
    DoublePair shortest_least = none, middle_least = none, longest_least = none;
    DoublePair shortest_most = shortest_peak, middle_most = middle_peak;
    DoublePair longest_most = longest_peak;
    for (std::uint32_t s = step; s < end; ++s) {
      const std::uint32_t k = 2 * s;
      slide_sums(load_lanes<DoublePair>(taken + k), load_lanes<DoublePair>(leaving_shortest + k),
                 load_lanes<DoublePair>(leaving_middle + k), load_lanes<DoublePair>(history + k),
                 shortest, middle, longest);
      shortest_least = less_or_second(absolute(shortest), shortest_least);
      middle_least = less_or_second(absolute(middle), middle_least);
      longest_least = less_or_second(absolute(longest), longest_least);
      shortest_most = greater_or_second(absolute(shortest), shortest_most);
      middle_most = greater_or_second(absolute(middle), middle_most);
      longest_most = greater_or_second(absolute(longest), longest_most);
      store_lanes(shortest_after + k, shortest);
      store_lanes(middle_after + k, middle);
      store_lanes(longest_after + k, longest);
    }
    const LaneMask kept = (shortest_least * 16.0 >= shortest_most) &
                          (middle_least * 16.0 >= middle_most) &
                          (longest_least * 16.0 >= longest_most);
    if (every_lane(kept)) [[likely]] {
      shortest_peak = shortest_most;
      middle_peak = middle_most;
      longest_peak = longest_most;
      step = end;
      continue;
    }
    shortest = sums_before[0];
    middle = sums_before[1];
    longest = sums_before[2];
    for (; step < end; ++step) exact_step(step);
  }
  a.shortest_sum = shortest[0], b.shortest_sum = shortest[1];
  a.middle_sum = middle[0], b.middle_sum = middle[1];
  a.longest_sum = longest[0], b.longest_sum = longest[1];
  a.shortest_peak = shortest_peak[0], b.shortest_peak = shortest_peak[1];
  a.middle_peak = middle_peak[0], b.middle_peak = middle_peak[1];
  a.longest_peak = longest_peak[0], b.longest_peak = longest_peak[1];
  a.since_exact = since[0] + (steps - from[0]);
  b.since_exact = since[1] + (steps - from[1]);
}

}  // namespace barworks::classic

namespace barworks {

// The fields a full window's step reads and writes, in the order advance()
// takes them; a pair of lanes reads the slots its windows write next.
template <>
struct LaneFields<classic::TrailingSums> {
  using R = classic::TrailingSums;
  using List = FieldList<&R::window, &R::shortest_sum, &R::middle_sum, &R::longest_sum,
                         &R::shortest_peak, &R::middle_peak, &R::longest_peak, &R::nonfinite,
                         &R::since_exact>;
};

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
