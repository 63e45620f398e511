// Warm-up counts: how many answers an object gives before it has seen a full
// window, counted as batch libraries count them for the same window lengths,
// so that feed(..., warmup="nan") lines up with their output.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>

#include "classes.h"

namespace barworks::companion {

// Stands for "has seen at least its lookback" where a record keeps no count.
inline constexpr std::uint64_t kWarmedUp = std::numeric_limits<std::uint64_t>::max();

// ---------------------------------------------------------------------------
// The lookback of each class: the count of leading answers that rest on less
// than a full window.

// period - 1: the first full window is the period-th input.
template <class Record>
  requires requires(const Record& record) { record.length(); }
std::uint64_t lookback(const Record& record) noexcept {
  return std::uint64_t{record.length()} - 1;
}
// period: the first change (or true range) needs the input before it.
inline std::uint64_t lookback(const RelativeStrengthIndex& record) noexcept {
  return record.length();
}
inline std::uint64_t lookback(const RateOfChange& record) noexcept { return record.length(); }
inline std::uint64_t lookback(const AverageTrueRange& record) noexcept { return record.length(); }
inline std::uint64_t lookback(const TrueRange&) noexcept { return 1; }
// The first answer is 0.0 by rule, so at least that one is blanked.
inline std::uint64_t lookback(const SharpeRatio& record) noexcept {
  return std::max<std::uint64_t>(record.length() - 1, 1);
}
// The slower average's warm-up, then the signal line's over the MACD line.
inline std::uint64_t lookback(const MovingAverageConvergenceDivergence& record) noexcept {
  const std::uint64_t slower = std::max(record.long_average.period, record.short_average.period);
  return (slower - 1) + (std::uint64_t{record.signal_average.period} - 1);
}
template <class Average>
std::uint64_t lookback(const Crossover<Average>& record) noexcept {
  return lookback(record.long_average);
}

// The classic classes answer NaN for exactly these counts themselves (after
// any leading NaN inputs, which they skip), so blanking them changes nothing.
inline std::uint64_t lookback(const classic::RelativeStrengthIndex& record) noexcept {
  return record.length();
}
inline std::uint64_t lookback(const classic::RateOfChange& record) noexcept {
  return record.length();
}
inline std::uint64_t lookback(const classic::AverageTrueRange& record) noexcept {
  return record.length();
}
inline std::uint64_t lookback(const classic::MovingAverageConvergenceDivergence& record) noexcept {
  return (std::uint64_t{record.slow_average.period} - 1) +
         (std::uint64_t{record.signal_average.period} - 1);
}

// ---------------------------------------------------------------------------
// How many inputs a record has taken since construction or reset, as far as
// its state tells: exact up to its lookback where it counts them; where it
// only knows whether it has started, 0 or kWarmedUp.

inline std::uint64_t inputs_seen(const CircularWindow& window) noexcept { return window.count; }
inline std::uint64_t inputs_seen(const SimpleMovingAverage& record) noexcept {
  return inputs_seen(record.window);
}
inline std::uint64_t inputs_seen(const StandardDeviation& record) noexcept {
  return inputs_seen(record.window);
}
inline std::uint64_t inputs_seen(const RateOfChange& record) noexcept {
  return inputs_seen(record.window);
}
inline std::uint64_t inputs_seen(const RelativeStrengthIndex& record) noexcept {
  return inputs_seen(record.changes);
}
inline std::uint64_t inputs_seen(const SharpeRatio& record) noexcept {
  return inputs_seen(record.average);
}
inline std::uint64_t inputs_seen(const ExponentialMovingAverage& record) noexcept {
  return record.first ? 0 : kWarmedUp;
}
inline std::uint64_t inputs_seen(const MovingAverageConvergenceDivergence& record) noexcept {
  return inputs_seen(record.long_average);
}
inline std::uint64_t inputs_seen(const TrueRange& record) noexcept {
  return record.has_previous ? kWarmedUp : 0;
}
// Reset restarts only the smoothing, so the smoothing's start counts.
inline std::uint64_t inputs_seen(const AverageTrueRange& record) noexcept {
  return inputs_seen(record.average);
}
template <class Average>
std::uint64_t inputs_seen(const Crossover<Average>& record) noexcept {
  return inputs_seen(record.long_average);
}
// Minimum and Maximum keep no count and reset keeps their write slot: the
// slots written since are those no longer holding the fill value, bit for
// bit. An input equal to the fill (+inf for Minimum, -inf for Maximum) is
// therefore counted as not yet seen.
template <class Order>
std::uint64_t inputs_seen(const Extremum<Order>& record) noexcept {
  const auto fill = std::bit_cast<std::uint64_t>(Order::kFill);
  return static_cast<std::uint64_t>(
      std::count_if(record.values.begin(), record.values.end(),
                    [&](double value) { return std::bit_cast<std::uint64_t>(value) != fill; }));
}

// The classic records count what they have taken up to their lookback;
// skipped leading NaN inputs are not counted, as the records do not count them.
inline std::uint64_t inputs_seen(const classic::ExponentialMovingAverage& record) noexcept {
  return record.taken();
}
inline std::uint64_t inputs_seen(const classic::StandardDeviation& record) noexcept {
  return inputs_seen(record.window);
}
inline std::uint64_t inputs_seen(const classic::RateOfChange& record) noexcept {
  return inputs_seen(record.window);
}
// The first input (or bar) only supplies the reference for the first change.
inline std::uint64_t inputs_seen(const classic::RelativeStrengthIndex& record) noexcept {
  return record.has_previous ? std::uint64_t{record.gains.count} + 1 : 0;
}
inline std::uint64_t inputs_seen(const classic::AverageTrueRange& record) noexcept {
  return record.range.has_previous ? std::uint64_t{record.average.count} + 1 : 0;
}
// The slow average counts up to its seed, the signal average from there on.
inline std::uint64_t inputs_seen(const classic::MovingAverageConvergenceDivergence& record) noexcept {
  if (!record.slow_average.ready()) return record.slow_average.taken();
  return std::uint64_t{record.slow_average.period} - 1 + record.signal_average.taken();
}

// The answers of the coming inputs still inside the warm-up.
template <class Record>
std::uint64_t warmup_left(const Record& record) noexcept {
  const std::uint64_t needed = lookback(record);
  return needed - std::min(inputs_seen(record), needed);
}

// lookback(indicator): the class's count for this object's window lengths.
PyObject* lookback_of(PyObject* module, PyObject* indicator) noexcept;

}  // namespace barworks::companion
