// What every record shares whose sums slide over a window and are recomputed
// exactly from it: how often, and the count of non-finite inputs that stops
// the slide while one is in the window.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "../checkpoint.h"
#include "../lanes.h"
#include "../window.h"

namespace barworks::classic {

// A slide's rounding is a few ulps of the spread, so sliding sums stay
// exact to a few times 1e-14 over this many slides; a short window is not
// recomputed more often, where a recomputation would cost more than the
// slides it replaces.
inline constexpr std::uint32_t kFewestSlides = 64;

constexpr std::uint32_t slides_between_exact(std::uint32_t period) noexcept {
  return period > kFewestSlides ? period : kFewestSlides;
}

inline std::uint32_t count_nonfinite(const Window& values) noexcept {
  std::uint32_t found = 0;
  for (const double value : values) found += !std::isfinite(value);
  return found;
}

// Counts the inputs that entered (x) and left (old) a window when they are
// not finite. Their difference `change` is finite whenever both are, so one
// test keeps the count off the common path. True when the sums must be
// recomputed: a non-finite input came or went, or the difference of two
// finite ones overflowed.
[[gnu::always_inline]] inline bool nonfinite_moved(double x, double old, double change,
                                                   std::uint32_t& nonfinite) noexcept {
  if (std::fabs(change) <= std::numeric_limits<double>::max()) [[likely]] return false;
  nonfinite += !std::isfinite(x);
  nonfinite -= !std::isfinite(old);
  return true;
}

// A count of slides since the last exact computation, raised by one; true
// when the next exact computation is due. Two lanes' counts side by side
// have forms of their own.
[[gnu::always_inline]] inline bool exact_due(std::uint32_t& since_exact,
                                             std::uint32_t every) noexcept {
  return ++since_exact == every;
}
// The same where each lane of a pair counts on its own: a mask of the lanes
// due, for a lone count whether it is.
[[gnu::always_inline]] inline bool exact_due_each(std::uint32_t& since_exact,
                                                  std::uint32_t every) noexcept {
  return exact_due(since_exact, every);
}
inline void restart(std::uint32_t& since_exact, bool where = true) noexcept {
  if (where) since_exact = 0;
}

// A run of equal inputs, once an input equal to the one before it or not
// (`equal`) comes: one more, up to `limit`, or a run of one. It saturates:
// only a run of a whole window matters, and a wrapped count would read as a
// run of none. Two lanes' runs side by side have a form of their own.
inline void extend_run(std::uint32_t& run, bool equal, std::uint32_t limit) noexcept {
  run = equal ? run + (run < limit) : 1;
}

// Whether a pair of lanes of such a record, side by side, both take the
// slide: neither has a non-finite input in its window or coming in, or a
// change that overflows, and both are as far from their next exact
// recomputation. Read before either lane is touched: `window` still holds
// the inputs x replaces at its write slot.
template <class Values, class Count>
bool pair_slides(DoublePair x, const Values& window, const Count& nonfinite,
                 const Count& since_exact) noexcept {
  const DoublePair change = x - window.slot(window.write_slot());
  const DoublePair largest = splat<DoublePair>(std::numeric_limits<double>::max());
  return (nonfinite[0] | nonfinite[1]) == 0 && since_exact[0] == since_exact[1] &&
         every_lane(absolute(change) <= largest);
}

// What a record shares that answers from the one record it embeds, of type
// `Inner`, as a base without members: a step of the record, lone or a pair
// of lanes side by side, is the embedded record's, answered by the record's
// static answer() over a number type. The embedded record is the member
// that the record's lane fields all lie within.
template <class Record, class Inner>
struct AnsweredFrom {
  bool steady() const noexcept { return inner(static_cast<const Record&>(*this)).steady(); }
  template <class Number, class... Fields>
  [[gnu::always_inline]] static Number advance(const Record& shared, Number x,
                                               Fields&... fields) noexcept {
    return Record::answer(Inner::advance(inner(shared), x, fields...));
  }
  template <class... Fields>
  static bool pair_on_common_path(const Record& shared, DoublePair x,
                                  const Fields&... fields) noexcept {
    return Inner::pair_on_common_path(inner(shared), x, fields...);
  }

 private:
  static const Inner& inner(const Record& record) noexcept {
    return []<auto First, auto... Rest>(const Record& of, FieldList<First, Rest...>)
               -> const Inner& { return of.*(First.outer); }(
        record, typename LaneFields<Record>::List{});
  }
};

// A batch of inputs from a column through a record whose sums slide over its
// full `window`, as that many updates would take them. Where every input
// of the window lies in the column and the next exact recomputation is
// steps away, `slide(i, end)` slides steps i .. end - 1 from the column
// (the leaving inputs read in place), answering each, and returns the step
// it stopped before: the end, or a step that would leave the common path
// (a non-finite or overflowing change, whatever else the record watches).
// The window is then written once, as the updates would have left it, and
// `one(i)` takes that step, or any other, through update and answers it.
// The record keeps the counts `nonfinite`, `since_exact` and `exact_every`.
// A slide that recomputes the sums in place (kRecomputesInPlace) is given
// the rest of the column, keeps `since_exact` itself and stops only before
// a step it cannot take.
template <bool kRecomputesInPlace = false, class Record, class Column, class Slide, class One>
[[gnu::always_inline]] inline void run_from_column(Record& record, CircularWindow& window,
                                                   std::size_t size, const Column& values,
                                                   Slide slide, One one) noexcept {
  const std::uint32_t period = window.period;
  std::size_t i = 0;
  while (i < size) {
    const bool slides = window.count == period && record.nonfinite == 0 && i >= period &&
                        (kRecomputesInPlace || record.since_exact + 1 < record.exact_every);
    if (!slides) {
      one(i++);
      continue;
    }
    const std::size_t end =
        kRecomputesInPlace
            ? size
            : std::min<std::size_t>(size, i + (record.exact_every - 1 - record.since_exact));
    const std::size_t j = slide(i, end);
    if constexpr (!kRecomputesInPlace) record.since_exact += static_cast<std::uint32_t>(j - i);
    window.push_all(values, i, j);
    i = j;
    if (j < end) one(i++);
  }
}

}  // namespace barworks::classic

namespace barworks {

// The checkpoint rules such a record over one `window` states: its slides
// since the last exact computation, and, where it answers exactly 0.0 for a
// window of equal inputs, their run.
template <class R, CircularWindow R::* Window = &R::window>
constexpr Rule<R> since_exact_rule() {
  return rule<R>(
      [](const R& r) noexcept {
        const bool full = (r.*Window).count == (r.*Window).period;
        return full ? r.since_exact < r.slides_between_exact() : r.since_exact == 0;
      },
      "the slides since the last exact computation must be fewer than the larger of the period "
      "and 64, and none while the window fills");
}

template <class R>
constexpr Rule<R> equal_run_rule() {
  return rule<R>(
      [](const R& r) noexcept {
        return (r.equal_run != 0 || r.window.count == 0) && r.equal_run <= r.window.count;
      },
      "the run of equal inputs must count the last input and no input before the window's");
}

}  // namespace barworks
