// The one loop of inputs through a record, shared by the batch entries over
// one object (batch.cpp) and over a universe's lanes (universe.cpp): what a
// step takes and gives for each kind of class, and the run over a column.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <concepts>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "../classic/lagged_change.h"
#include "../lanes.h"
#include "../nan.h"
#include "answers.h"
#include "classes.h"
#include "input.h"

namespace barworks::companion {

// Below this many inputs (or lanes) a run is shorter than handing the
// interpreter lock to a waiting thread and waiting for it back, so it is
// kept.
inline constexpr Py_ssize_t kReleaseLockFrom = 8192;

// One step of the record's own update on an input as `read` builds it: a
// value, a bar, or a pair taken apart into next's two arguments.
template <class Record>
auto step(Record& record, double value) noexcept { return record.update(value); }
template <class Record>
auto step(Record& record, const Bar& bar) noexcept { return record.update(bar); }
template <class Record>
auto step(Record& record, const Candle& bar) noexcept { return record.update(bar); }
template <class Record>
auto step(Record& record, Pair pair) noexcept { return record.update(pair.x, pair.y); }

template <class Record>
using Input =
    std::conditional_t<TakesBars<Record>, BarOf<Record>, std::conditional_t<TakesPairs<Record>, Pair, double>>;
template <class Record>
using Result = decltype(step(std::declval<Record&>(), std::declval<Input<Record>>()));
template <class Record>
using RowOf = Row<Result<Record>>;

// A tuple answer names each of its parts beside its record.
template <class Record>
constexpr bool names_its_parts() {
  if constexpr (RowOf<Record>::kColumns == 1) {
    return true;
  } else {
    return requires { PythonClass<Record>::kAnswers; } &&
           PythonClass<Record>::kAnswers.size() == RowOf<Record>::kColumns;
  }
}
template <class Record>
inline constexpr bool kGivesCodes = std::is_same_v<Result<Record>, Signal>;

// Records whose step, once started, is a rule of the bar alone, written over
// a number type (a double, or a DoublePair of two bars), folded into the
// state: update(bar) is fold(of_bar(the bar's fields)) while folding().
template <class Record>
concept FoldsBars = TakesCandles<Record> && std::is_trivially_copyable_v<Record> &&
                    requires(Record& record, DoublePair two, double one) {
  { Record::of_bar(two, two, two, two, two) } -> std::same_as<DoublePair>;
  { record.fold(one) } -> std::same_as<double>;
  { record.folding() } -> std::same_as<bool>;
};

// Bars 0 .. size - 1 through a record that folds them, as that many updates
// would: two at a time once it is folding, the rule's divisions and
// selections shared by the pair.
template <FoldsBars Record, class Read>
void run_folded(Record& outside, std::size_t size, const Read& read, double* answers) noexcept {
  // A copy that nothing else sees, so that its state stays in registers:
  // the record itself might be behind the answers' stores for all the
  // compiler knows, and would go through memory on every step.
  Record record = outside;
  std::size_t i = 0;
  for (; i < size && !record.folding(); ++i) answers[i] = record.update(read(i));
  // The columns as Column or, all of those read being dense, DenseColumn.
  const auto fold_pairs = [&](const auto& opens, const auto& highs, const auto& lows,
                              const auto& closes, const auto& volumes) noexcept {
    const auto two = [&i](const auto& column, bool reads) noexcept {
      return reads ? column.pair(static_cast<Py_ssize_t>(i)) : DoublePair{kNaN, kNaN};
    };
    for (; i + 2 <= size; i += 2) {
      const DoublePair values = Record::of_bar(two(opens, kReadsOpen<Record>), two(highs, true),
                                               two(lows, true), two(closes, kReadsClose<Record>),
                                               two(volumes, kReadsVolume<Record>));
      answers[i] = record.fold(values[0]);
      answers[i + 1] = record.fold(values[1]);
    }
  };
  if ((!kReadsOpen<Record> || read.opens.dense()) && read.highs.dense() && read.lows.dense() &&
      (!kReadsClose<Record> || read.closes.dense()) &&
      (!kReadsVolume<Record> || read.volumes.dense())) {
    fold_pairs(DenseColumn{read.opens.data}, DenseColumn{read.highs.data},
               DenseColumn{read.lows.data}, DenseColumn{read.closes.data},
               DenseColumn{read.volumes.data});
  } else {
    fold_pairs(read.opens, read.highs, read.lows, read.closes, read.volumes);
  }
  if (i < size) answers[i] = record.update(read(i));
  outside = record;
}

// A record whose batch path reads blocks of inputs in place, only where they
// lie at a fixed stride: a universe's feed runs its lanes through that path,
// side by side over a row-major matrix's rows, or else one at a time over
// their gathered inputs, rather than in steps of every lane.
template <class Record>
inline constexpr bool kWantsDenseInputs = kIsExtremum<Record>;

// The one loop: each input through the record's own update, each answer
// stored in its row. `read` builds the input of step i. A record whose
// answer is a change against an input a fixed distance back runs through
// run_lagged, a window extreme through run_extremum, a record folding a rule
// of each bar through run_folded, and a record with a batch path of its
// own through its answer_values over the column or its answer_bars over the
// price columns: each answers from the inputs themselves once it can.
template <class Record, class Read>
void run(Record& record, Py_ssize_t size, Read read, typename RowOf<Record>::Cell* rows) noexcept {
  if constexpr (classic::LaggedChange<Record>) {
    classic::run_lagged(record, static_cast<std::size_t>(size), read, rows);
  } else if constexpr (kIsExtremum<Record>) {
    run_extremum(record, static_cast<std::size_t>(size), read, rows);
  } else if constexpr (requires { answer_values(record, std::size_t{}, read.column, rows); }) {
    const auto count = static_cast<std::size_t>(size);
    if (read.column.dense()) {
      answer_values(record, count, DenseColumn{read.column.data}, rows);
    } else {
      answer_values(record, count, read.column, rows);
    }
  } else if constexpr (FoldsBars<Record> && requires { read.highs; }) {
    run_folded(record, static_cast<std::size_t>(size), read, rows);
  } else if constexpr (requires { answer_bars(record, std::size_t{}, read.highs, read.lows,
                                              read.closes, rows); }) {
    const auto count = static_cast<std::size_t>(size);
    if (read.highs.dense() && read.lows.dense() && (!kReadsClose<Record> || read.closes.dense())) {
      answer_bars(record, count, DenseColumn{read.highs.data}, DenseColumn{read.lows.data},
                  DenseColumn{read.closes.data}, rows);
    } else {
      answer_bars(record, count, read.highs, read.lows, read.closes, rows);
    }
  } else {
    constexpr Py_ssize_t kColumns = RowOf<Record>::kColumns;
    for (Py_ssize_t i = 0; i < size; ++i) RowOf<Record>::store(rows + i * kColumns, step(record, read(i)));
  }
}

// The bar a record reads from columns: a Bar of the prices for _barworks's
// classes, a Candle for the classic ones, with the open and volume where
// the class reads them (the others are never read and so never given).
template <class Record>
struct BarReader {
  Column opens, highs, lows, closes, volumes;

  auto operator()(Py_ssize_t i) const noexcept {
    if constexpr (TakesCandles<Record>) {
      return Candle{kReadsOpen<Record> ? opens[i] : kNaN, highs[i], lows[i],
                    kReadsClose<Record> ? closes[i] : kNaN,
                    kReadsVolume<Record> ? volumes[i] : kNaN};
    } else {
      return Bar{0.0, highs[i], lows[i], closes[i], 0};
    }
  }
};

template <class Record>
BarReader<Record> bar_reader(Column opens, Column highs, Column lows, Column closes,
                             Column volumes) noexcept {
  return BarReader<Record>{opens, highs, lows, closes, volumes};
}

// Which of two words the argument `parameter` is: 0 for `first`, 1 for
// `second`; -1 with ValueError set for anything else.
int parse_choice(PyObject* choice, const char* parameter, const char* first,
                 const char* second) noexcept;

// warmup="value" (0) or "nan" (1); -1 with ValueError set.
int parse_warmup(PyObject* warmup) noexcept;

// ValueError for warmup="nan" on a class answering int8 codes, which have
// no NaN; false when the call stands.
template <class Record>
bool refuse_codes_warmup(bool blank_warmup) noexcept {
  if (!kGivesCodes<Record> || !blank_warmup) return false;
  PyErr_Format(PyExc_ValueError,
               "argument 'warmup': %s answers int8 signal codes, which have no NaN; use "
               "warmup='value'",
               PythonClass<Record>::kName);
  return true;
}

// TypeError: the class reads a column the call left out (`entry` is how the
// call names it: "feed_bars").
[[gnu::cold]] void refuse_missing_column(const char* class_name, const char* column,
                                         const char* entry) noexcept;

// Refuses a bar call that leaves out a column the class reads; false with
// TypeError set.
template <class Record>
bool has_columns_read(bool has_open, bool has_volume, const char* entry) noexcept {
  if (kReadsOpen<Record> && !has_open) {
    refuse_missing_column(PythonClass<Record>::kName, "open", entry);
    return false;
  }
  if (kReadsVolume<Record> && !has_volume) {
    refuse_missing_column(PythonClass<Record>::kName, "volume", entry);
    return false;
  }
  return true;
}

}  // namespace barworks::companion
