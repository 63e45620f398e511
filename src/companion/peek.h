// The answer next would give, with the object left exactly as it was: for
// the bar that is still forming. Each record's snapshot holds only what one
// step writes (for a window, its counters and the one slot written), so a
// peek costs one update and never copies a window.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "classes.h"

namespace barworks::companion {

// What a record's update may change, saved before a step and put back after.
// A record that owns nothing (the averages, the true ranges, MACD) is copied
// whole; the others state their parts below.
template <class Record>
struct Snapshot {
  static_assert(std::is_trivially_copyable_v<Record>,
                "a record that owns a window needs a Snapshot of the parts its update writes");
  Record saved;
  explicit Snapshot(const Record& record) noexcept : saved(record) {}
  void restore(Record& record) const noexcept { record = saved; }
};

// A circular window's counters and the slot the next push overwrites.
template <>
struct Snapshot<CircularWindow> {
  std::uint32_t index;
  std::uint32_t count;
  double slot;
  explicit Snapshot(const CircularWindow& window) noexcept
      : index(window.index), count(window.count), slot(window.values[window.index]) {}
  void restore(CircularWindow& window) const noexcept {
    window.values[index] = slot;
    window.index = index;
    window.count = count;
  }
};

template <>
struct Snapshot<SimpleMovingAverage> {
  Snapshot<CircularWindow> window;
  double sum;
  explicit Snapshot(const SimpleMovingAverage& record) noexcept
      : window(record.window), sum(record.sum) {}
  void restore(SimpleMovingAverage& record) const noexcept {
    window.restore(record.window);
    record.sum = sum;
  }
};

template <>
struct Snapshot<StandardDeviation> {
  Snapshot<CircularWindow> window;
  double sum;
  double sum_sq;
  explicit Snapshot(const StandardDeviation& record) noexcept
      : window(record.window), sum(record.sum), sum_sq(record.sum_sq) {}
  void restore(StandardDeviation& record) const noexcept {
    window.restore(record.window);
    record.sum = sum;
    record.sum_sq = sum_sq;
  }
};

template <>
struct Snapshot<RateOfChange> {
  Snapshot<CircularWindow> window;
  explicit Snapshot(const RateOfChange& record) noexcept : window(record.window) {}
  void restore(RateOfChange& record) const noexcept { window.restore(record.window); }
};

template <>
struct Snapshot<RelativeStrengthIndex> {
  Snapshot<CircularWindow> changes;
  double previous;
  explicit Snapshot(const RelativeStrengthIndex& record) noexcept
      : changes(record.changes), previous(record.previous) {}
  void restore(RelativeStrengthIndex& record) const noexcept {
    changes.restore(record.changes);
    record.previous = previous;
  }
};

template <class Order>
struct Snapshot<Extremum<Order>> {
  std::size_t index;
  std::size_t extreme_index;
  double slot;
  explicit Snapshot(const Extremum<Order>& record) noexcept
      : index(record.index),
        extreme_index(record.extreme_index),
        slot(record.values[static_cast<std::uint32_t>(record.index)]) {}
  void restore(Extremum<Order>& record) const noexcept {
    record.values[static_cast<std::uint32_t>(index)] = slot;
    record.index = index;
    record.extreme_index = extreme_index;
  }
};

template <>
struct Snapshot<SharpeRatio> {
  Snapshot<SimpleMovingAverage> average;
  Snapshot<StandardDeviation> deviation;
  std::uint32_t steps;
  explicit Snapshot(const SharpeRatio& record) noexcept
      : average(record.average), deviation(record.deviation), steps(record.steps) {}
  void restore(SharpeRatio& record) const noexcept {
    average.restore(record.average);
    deviation.restore(record.deviation);
    record.steps = steps;
  }
};

template <class Average>
struct Snapshot<Crossover<Average>> {
  Snapshot<Average> short_average;
  Snapshot<Average> long_average;
  explicit Snapshot(const Crossover<Average>& record) noexcept
      : short_average(record.short_average), long_average(record.long_average) {}
  void restore(Crossover<Average>& record) const noexcept {
    short_average.restore(record.short_average);
    long_average.restore(record.long_average);
  }
};

// The classic rate of change pushes one value into its window.
template <>
struct Snapshot<classic::RateOfChange> {
  Snapshot<CircularWindow> window;
  explicit Snapshot(const classic::RateOfChange& record) noexcept : window(record.window) {}
  void restore(classic::RateOfChange& record) const noexcept { window.restore(record.window); }
};

// The classic standard deviation writes one window slot and its scalars.
// Its periodic exact recomputation reads the whole window but writes only
// the reference, the mean, the sums and the counters, so these few fields
// still cover every step; such a peek costs what that next() would, one pass
// over the window, and copies none of it.
template <>
struct Snapshot<classic::StandardDeviation> {
  Snapshot<CircularWindow> window;
  double reference;
  double mean;
  double squares;
  double peak;
  double last;
  std::uint32_t equal_run;
  std::uint32_t nonfinite;
  std::uint32_t since_exact;
  explicit Snapshot(const classic::StandardDeviation& record) noexcept
      : window(record.window),
        reference(record.reference),
        mean(record.mean),
        squares(record.squares),
        peak(record.peak),
        last(record.last),
        equal_run(record.equal_run),
        nonfinite(record.nonfinite),
        since_exact(record.since_exact) {}
  void restore(classic::StandardDeviation& record) const noexcept {
    window.restore(record.window);
    record.reference = reference;
    record.mean = mean;
    record.squares = squares;
    record.peak = peak;
    record.last = last;
    record.equal_run = equal_run;
    record.nonfinite = nonfinite;
    record.since_exact = since_exact;
  }
};

// peek(indicator, value)
PyObject* peek(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames) noexcept;
// peek_bar(indicator, bar)
PyObject* peek_bar(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) noexcept;
}  // namespace barworks::companion
