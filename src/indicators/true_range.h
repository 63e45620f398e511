#pragma once

#include <cstddef>
#include <type_traits>

#include "../bar.h"
#include "../branch_free.h"
#include "../checkpoint.h"
#include "../describe.h"
#include "../lanes.h"
#include "../nan.h"
#include "../warmup.h"

namespace barworks {

// The range of one bar widened by any gap from the previous close p:
//   max(max(h - l, |h - p|), |l - p|)
// where max ignores a NaN operand and keeps its left operand on ties. The
// first bar, and the first after reset, has no p and gives the plain h - l,
// negative when high is below low. Every bar's close becomes the next p,
// NaN or infinite ones included, so a NaN close makes the following bar
// fall back to its own h - l; the result is NaN only when h - l and both
// differences to p are NaN.
struct TrueRange {
  bool has_previous;
  double previous_close;

  static TrueRange create() noexcept { return TrueRange{false, 0.0}; }
  double update(const Bar& bar) noexcept;
  void reset() noexcept;

  // Once a close is known, the rule over a number type, for a lone bar or
  // lanes side by side; `previous_close` is the lane's or lanes'.
  bool steady() const noexcept { return has_previous; }
  template <class Number>
  static Number advance(const TrueRange&, Number, Number high, Number low, Number close, Number,
                        Number& previous_close) noexcept;
};

// The widest of a bar's span and its gaps to the previous close, a NaN
// made the one NaN once at the end.
template <class Number>
[[gnu::always_inline]] inline Number widest_of(Number span, Number gap_high,
                                               Number gap_low) noexcept {
  return canonical(max_ignoring_nan(max_ignoring_nan(span, gap_high), gap_low));
}
// For a pair of bars whose spans are numbers, each maximum that ignores NaN
// is one maxpd, x > y ? x : y, with the operands swapped: it keeps the span
// or widest so far on a tie and passes over a NaN gap, the one operand that
// can be NaN, and the range is never NaN. The same bits in a third of the
// instructions.
[[gnu::always_inline]] inline DoublePair widest_of(DoublePair span, DoublePair gap_high,
                                                   DoublePair gap_low) noexcept {
  if (!any_nan(span)) [[likely]] {
    return greater_or_second(gap_low, greater_or_second(gap_high, span));
  }
  return widest_of<DoublePair>(span, gap_high, gap_low);
}

// The true range of canonical prices against the previous close, for one
// bar or for two side by side (DoublePair lanes): the rule is written once.
template <class Number>
[[gnu::always_inline]] inline Number true_range_of(Number high, Number low,
                                                   Number previous_close) noexcept {
  return widest_of(high - low, absolute(high - previous_close), absolute(low - previous_close));
}

// Inline: batch loops and the records that embed a true range run it
// without a call.
template <class Number>
[[gnu::always_inline]] inline Number TrueRange::advance(const TrueRange&, Number, Number high,
                                                        Number low, Number close, Number,
                                                        Number& previous_close) noexcept {
  const Number result = true_range_of(canonical(high), canonical(low), previous_close);
  previous_close = canonical(close);
  return result;
}
inline double TrueRange::update(const Bar& bar) noexcept {
  if (has_previous) [[likely]] {
    return advance(*this, bar.open, bar.high, bar.low, bar.close, 0.0, previous_close);
  }
  const double result = canonical(bar.high) - canonical(bar.low);
  previous_close = canonical(bar.close);
  has_previous = true;
  return result;
}

// Answers bars from .. size - 1 from columns of highs, lows and closes (read
// by index), as that many updates would, the bars before `from` having been
// taken already. After the first bar each range is a function of the bar's
// own high and low and the close before it, so the rest are taken two at a
// time. Each range then goes through `then(range, i)`, which answers bar i,
// or each pair through `then(ranges, i)` where `then` takes one, answering
// bars i and i + 1 (a division shared). A record built on the true range
// smooths it there, in the same pass, so that the ranges are worked out
// while the smoothing waits on its own chain; inlined, so that a smoothing's
// state stays in registers rather than going through memory beside the
// answers. A NaN range is always made the one NaN, whatever NaNs come in, so
// the columns are read as they are.
template <class Column, class Then>
[[gnu::always_inline]] inline void run_true_range(TrueRange& record, std::size_t from,
                                                  std::size_t size, const Column& highs,
                                                  const Column& lows, const Column& closes,
                                                  double* answers, Then then) noexcept {
  if (from >= size) return;
  answers[from] = then(record.update(Bar{0.0, highs[from], lows[from], closes[from], 0}), from);
  std::size_t i = from + 1;
  for (; i + 2 <= size; i += 2) {
    const auto at = static_cast<std::ptrdiff_t>(i);
    const DoublePair ranges =
        true_range_of(highs.pair(at), lows.pair(at), closes.pair(at - 1));
    if constexpr (std::is_invocable_r_v<DoublePair, Then, DoublePair, std::size_t>) {
      const DoublePair answered = then(ranges, i);
      answers[i] = answered[0];
      answers[i + 1] = answered[1];
    } else {
      answers[i] = then(ranges[0], i);
      answers[i + 1] = then(ranges[1], i + 1);
    }
  }
  if (i < size) {
    answers[i] = then(true_range_of(highs[i], lows[i], closes[i - 1]), i);
  }
  record.previous_close = canonical(closes[size - 1]);
}

// A batch of bars from columns, as that many updates would answer them.
template <class Column>
void answer_bars(TrueRange& record, std::size_t size, const Column& highs, const Column& lows,
                 const Column& closes, double* answers) noexcept {
  run_true_range(record, 0, size, highs, lows, closes, answers,
                 [](double range, std::size_t) { return range; });
}

template <>
struct PythonClass<TrueRange> {
  using R = TrueRange;
  static constexpr const char* kName = "TrueRange";
  static constexpr auto kConstructor = constructor<&R::create>();
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

// The previous close is kept even while unused, so that a restored record
// equals the original bit for bit.
template <>
struct Checkpoint<TrueRange> {
  using R = TrueRange;
  static constexpr auto kFields = std::tuple{choice<&R::has_previous>("has_previous", 1),
                                             number<&R::previous_close>("previous_close")};
};

template <>
struct LaneFields<TrueRange> {
  using List = FieldList<&TrueRange::previous_close>;
};

// The first bar has no previous close.
template <>
struct Warmup<TrueRange> {
  static std::uint64_t lookback(const TrueRange&) noexcept { return 1; }
  static std::uint64_t inputs_seen(const TrueRange& record) noexcept {
    return record.has_previous ? kWarmedUp : 0;
  }
};

}  // namespace barworks
