#include "batch.h"

#include <algorithm>
#include <array>
#include <new>
#include <tuple>
#include <utility>

#include "lookback.h"
#include "loop.h"

namespace barworks::companion {

namespace {

// Steps through columns of equal size together, in the longest stretches
// that lie within one chunk of each: `visit(from, length, columns)` with
// each column's Column at `from`. An absent column (null) is given as an
// empty Column.
template <std::size_t N, class Visit>
void for_each_stretch(const std::array<const Values*, N>& columns, Py_ssize_t size,
                      Visit visit) noexcept {
  std::array<Py_ssize_t, N> chunk{}, within{};
  for (Py_ssize_t from = 0; from < size;) {
    Py_ssize_t length = size - from;
    std::array<Column, N> at{};
    for (std::size_t k = 0; k < N; ++k) {
      if (columns[k] == nullptr) continue;
      ColumnChunk current = columns[k]->chunk(chunk[k]);
      // Chunks that are done (or empty) give way to the next.
      while (within[k] == current.size) {
        within[k] = 0;
        current = columns[k]->chunk(++chunk[k]);
      }
      at[k] = Column{current.column.data + within[k] * current.column.stride,
                     current.column.stride};
      length = std::min(length, current.size - within[k]);
    }
    visit(from, length, at);
    for (std::size_t k = 0; k < N; ++k) within[k] += length;
    from += length;
  }
}

// With the object held exclusively and its inputs pinned or converted: make
// the answers, run with the interpreter lock released when the run is long,
// and blank the warm-up answers when asked. `reader(columns)` builds the
// input of each step from the columns at the start of a stretch.
template <class Record, std::size_t N, class Reader>
PyObject* run_batch(Instance<Record>& instance, const std::array<const Values*, N>& columns,
                    Py_ssize_t size, Reader reader, bool blank_warmup) noexcept {
  using Rows = RowOf<Record>;
  static_assert(names_its_parts<Record>(),
                "a class answering a tuple names its parts in PythonClass<>::kAnswers");
  Answers answers;
  if (!answers.create(size, Rows::kColumns, kGivesCodes<Record>)) return nullptr;
  const std::uint64_t left = blank_warmup ? warmup_left(instance.payload) : 0;
  auto* rows = answers.cells<typename Rows::Cell>();
  // The access flag, held exclusively, keeps every other caller out while
  // the lock is away; it is taken and given back under the lock.
  PyThreadState* saved = size >= kReleaseLockFrom ? PyEval_SaveThread() : nullptr;
  // The run works on a local record, moved out and back: the answers'
  // stores and the window's cannot alias a local that nothing else sees,
  // so the running state stays in registers instead of being stored and
  // reloaded on every step. The instance is held exclusively meanwhile.
  Record local(std::move(instance.payload));
  for_each_stretch(columns, size,
                   [&](Py_ssize_t from, Py_ssize_t length, const std::array<Column, N>& at) {
                     run(local, length, reader(at), rows + from * Rows::kColumns);
                   });
  instance.payload.~Record();
  new (&instance.payload) Record(std::move(local));
  if (saved != nullptr) PyEval_RestoreThread(saved);
  if constexpr (!kGivesCodes<Record>) {
    const auto blanked = static_cast<Py_ssize_t>(std::min<std::uint64_t>(left, size));
    blank_rows(rows, blanked, Rows::kColumns);
  }
  return answers.release();
}

// nulls="raise" (or left out) or "nan"; false with ValueError set.
bool parse_nulls(PyObject* nulls, Nulls& parsed) noexcept {
  const int choice = nulls == nullptr ? 0 : parse_choice(nulls, "nulls", "raise", "nan");
  parsed = choice == 1 ? Nulls::kNaN : Nulls::kRefuse;
  return choice >= 0;
}

// `nulls` may be left out of every call, "raise" then.
constexpr std::array<const char*, 4> kFeedParameters{"indicator", "values", "warmup", "nulls"};
constexpr std::array<const char*, 8> kFeedBarsParameters{"indicator", "high",   "low",
                                                          "close",     "warmup", "open",
                                                          "volume",    "nulls"};
constexpr std::array<const char*, 3> kFeedBarRecordsParameters{"indicator", "bars", "warmup"};
constexpr std::array<const char*, 5> kFeedPairsParameters{"indicator", "x", "y", "warmup",
                                                          "nulls"};
template <std::size_t N>
constexpr std::array<ParameterDefault, N> kNullsLeftOut = [] {
  std::array<ParameterDefault, N> defaults{};
  defaults[N - 1].present = true;
  return defaults;
}();

}  // namespace

int parse_choice(PyObject* choice, const char* parameter, const char* first,
                 const char* second) noexcept {
  if (PyUnicode_Check(choice)) {
    if (PyUnicode_EqualToUTF8(choice, first)) return 0;
    if (PyUnicode_EqualToUTF8(choice, second)) return 1;
  }
  PyErr_Format(PyExc_ValueError, "argument '%s': expected '%s' or '%s', not %R", parameter, first,
               second, choice);
  return -1;
}

int parse_warmup(PyObject* warmup) noexcept {
  return parse_choice(warmup, "warmup", "value", "nan");
}

void refuse_input_kind(const char* class_name, InputKind kind, bool peeking) noexcept {
  const char* takes = "float inputs";
  const char* entry = peeking ? "barworks.peek() with one value" : "barworks.feed() with one column";
  if (kind == InputKind::kBar) {
    takes = "Bar inputs";
    entry = peeking ? "barworks.peek_bar()" : "barworks.feed_bars()";
  } else if (kind == InputKind::kPair) {
    takes = "pairs of floats";
    entry = peeking ? "barworks.peek(indicator, x, y)" : "barworks.feed(indicator, x, y)";
  }
  PyErr_Format(PyExc_TypeError, "argument 'indicator': %s takes %s; use %s", class_name, takes,
               entry);
}

PyObject* feed(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  std::array<PyObject*, 4> slots{};
  PyObject* const* bound =
      bind("feed", kFeedParameters, args, nargs, kwnames, slots, kNullsLeftOut<4>.data());
  if (bound == nullptr) return nullptr;
  const int blank_warmup = parse_warmup(bound[2]);
  Nulls nulls;
  if (blank_warmup < 0 || !parse_nulls(bound[3], nulls)) return nullptr;
  return dispatch(bound[0], [&]<class Record>(Instance<Record>& instance) -> PyObject* {
    if constexpr (kInputKind<Record> != InputKind::kFloat) {
      refuse_input_kind<Record>(false);
      return nullptr;
    } else {
      if (refuse_codes_warmup<Record>(blank_warmup)) return nullptr;
      // The object is taken before the inputs are converted, as next takes
      // it before converting its argument: a conversion that calls back
      // into the object finds it busy, and nothing lands before the run.
      Borrow borrow;
      if (!hold(instance, borrow, Access::kExclusive)) return nullptr;
      Values values;
      if (!values.take(bound[1], "values", nulls)) return nullptr;
      return run_batch(instance, std::array<const Values*, 1>{&values}, values.size(),
                       [](const std::array<Column, 1>& at) { return ColumnReader{at[0]}; },
                       blank_warmup);
    }
  });
}

void refuse_missing_column(const char* class_name, const char* column, const char* entry) noexcept {
  PyErr_Format(PyExc_TypeError, "%s reads the %s column; pass %s(..., %s=...)", class_name,
               column, entry, column);
}

namespace {

// ValueError unless every given column has the close's length.
bool same_lengths(const BarColumns& columns) noexcept {
  const Values &high = columns.high, &low = columns.low, &close = columns.close;
  if (high.size() != low.size() || high.size() != close.size()) [[unlikely]] {
    PyErr_Format(PyExc_ValueError,
                 "arguments 'high', 'low' and 'close' must have the same length, got %zd, %zd "
                 "and %zd",
                 high.size(), low.size(), close.size());
    return false;
  }
  for (const auto& [given, values, name] :
       {std::tuple{columns.has_open, &columns.open, "open"},
        std::tuple{columns.has_volume, &columns.volume, "volume"}}) {
    if (given && values->size() != close.size()) [[unlikely]] {
      PyErr_Format(PyExc_ValueError,
                   "argument '%s' must have the length of 'close', %zd, not %zd", name,
                   close.size(), values->size());
      return false;
    }
  }
  return true;
}

// The bar-fed run over the columns. Each step builds the bar the record
// reads: a Bar of the prices for _barworks's classes, a Candle for the
// classic ones, with the open and volume where the class reads them.
template <class Record>
PyObject* run_bars(Instance<Record>& instance, const BarColumns& columns,
                   bool blank_warmup) noexcept {
  if (!has_columns_read<Record>(columns.has_open, columns.has_volume, "feed_bars")) return nullptr;
  if (!same_lengths(columns)) return nullptr;
  // The open and volume take part only where the class reads them.
  const std::array<const Values*, 5> stepped{
      kReadsOpen<Record> ? &columns.open : nullptr, &columns.high, &columns.low, &columns.close,
      kReadsVolume<Record> ? &columns.volume : nullptr};
  return run_batch(
      instance, stepped, columns.close.size(),
      [](const std::array<Column, 5>& at) {
        const auto& [opens, highs, lows, closes, volumes] = at;
        return bar_reader<Record>(opens, highs, lows, closes, volumes);
      },
      blank_warmup);
}

template <class Take>
PyObject* feed_bar_kind(PyObject* indicator, int blank_warmup, Take take) noexcept {
  return dispatch(indicator, [&]<class Record>(Instance<Record>& instance) -> PyObject* {
    if constexpr (!TakesBars<Record>) {
      refuse_input_kind<Record>(false);
      return nullptr;
    } else {
      Borrow borrow;
      if (!hold(instance, borrow, Access::kExclusive)) return nullptr;
      BarColumns columns;
      if (!take(columns)) return nullptr;
      return run_bars(instance, columns, blank_warmup);
    }
  });
}

}  // namespace

PyObject* feed_bars(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) noexcept {
  std::array<PyObject*, 8> slots{};
  PyObject* const* bound = bind("feed_bars", kFeedBarsParameters, args, nargs, kwnames, slots,
                                kNullsLeftOut<8>.data());
  if (bound == nullptr) return nullptr;
  const int blank_warmup = parse_warmup(bound[4]);
  Nulls nulls;
  if (blank_warmup < 0 || !parse_nulls(bound[7], nulls)) return nullptr;
  PyObject* open = bound[5];
  PyObject* volume = bound[6];
  return feed_bar_kind(bound[0], blank_warmup, [&](BarColumns& columns) {
    columns.has_open = open != nullptr && open != Py_None;
    columns.has_volume = volume != nullptr && volume != Py_None;
    return columns.high.take(bound[1], "high", nulls) && columns.low.take(bound[2], "low", nulls) &&
           columns.close.take(bound[3], "close", nulls) &&
           (!columns.has_open || columns.open.take(open, "open", nulls)) &&
           (!columns.has_volume || columns.volume.take(volume, "volume", nulls));
  });
}

PyObject* feed_pairs(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
  std::array<PyObject*, 5> slots{};
  PyObject* const* bound = bind("feed_pairs", kFeedPairsParameters, args, nargs, kwnames, slots,
                                kNullsLeftOut<5>.data());
  if (bound == nullptr) return nullptr;
  const int blank_warmup = parse_warmup(bound[3]);
  Nulls nulls;
  if (blank_warmup < 0 || !parse_nulls(bound[4], nulls)) return nullptr;
  return dispatch(bound[0], [&]<class Record>(Instance<Record>& instance) -> PyObject* {
    if constexpr (!TakesPairs<Record>) {
      refuse_input_kind<Record>(false);
      return nullptr;
    } else {
      // Taken before the inputs convert, as feed takes it.
      Borrow borrow;
      if (!hold(instance, borrow, Access::kExclusive)) return nullptr;
      Values x, y;
      if (!x.take(bound[1], "x", nulls) || !y.take(bound[2], "y", nulls)) return nullptr;
      if (x.size() != y.size()) [[unlikely]] {
        PyErr_Format(PyExc_ValueError,
                     "arguments 'x' and 'y' must have the same length, got %zd and %zd",
                     x.size(), y.size());
        return nullptr;
      }
      return run_batch(instance, std::array<const Values*, 2>{&x, &y}, x.size(),
                       [](const std::array<Column, 2>& at) {
                         return [=](Py_ssize_t i) { return Pair{at[0][i], at[1][i]}; };
                       },
                       blank_warmup);
    }
  });
}

PyObject* feed_bar_records(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) noexcept {
  std::array<PyObject*, 3> slots{};
  PyObject* const* bound =
      bind("feed_bar_records", kFeedBarRecordsParameters, args, nargs, kwnames, slots);
  if (bound == nullptr) return nullptr;
  const int blank_warmup = parse_warmup(bound[2]);
  if (blank_warmup < 0) return nullptr;
  return feed_bar_kind(bound[0], blank_warmup,
                       [&](BarColumns& columns) { return take_bars(bound[1], columns); });
}

}  // namespace barworks::companion
