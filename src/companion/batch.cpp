#include "batch.h"

#include <array>
#include <new>
#include <tuple>
#include <utility>

#include "lookback.h"
#include "loop.h"

namespace barworks::companion {

namespace {

// With the object held exclusively and its inputs pinned or converted: make
// the answers, run with the interpreter lock released when the run is long,
// and blank the warm-up answers when asked.
template <class Record, class Read>
PyObject* run_batch(Instance<Record>& instance, Py_ssize_t size, Read read,
                    bool blank_warmup) noexcept {
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
  run(local, size, read, rows);
  instance.payload.~Record();
  new (&instance.payload) Record(std::move(local));
  if (saved != nullptr) PyEval_RestoreThread(saved);
  if constexpr (!kGivesCodes<Record>) {
    const auto blanked = static_cast<Py_ssize_t>(std::min<std::uint64_t>(left, size));
    blank_rows(rows, blanked, Rows::kColumns);
  }
  return answers.release();
}

constexpr std::array<const char*, 3> kFeedParameters{"indicator", "values", "warmup"};
constexpr std::array<const char*, 7> kFeedBarsParameters{"indicator", "high", "low", "close",
                                                          "warmup", "open", "volume"};
constexpr std::array<const char*, 3> kFeedBarRecordsParameters{"indicator", "bars", "warmup"};
constexpr std::array<const char*, 4> kFeedPairsParameters{"indicator", "x", "y", "warmup"};

}  // namespace

int parse_warmup(PyObject* warmup) noexcept {
  if (PyUnicode_Check(warmup)) {
    if (PyUnicode_EqualToUTF8(warmup, "value")) return 0;
    if (PyUnicode_EqualToUTF8(warmup, "nan")) return 1;
  }
  PyErr_Format(PyExc_ValueError, "argument 'warmup': expected 'value' or 'nan', not %R", warmup);
  return -1;
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
  std::array<PyObject*, 3> slots{};
  PyObject* const* bound = bind("feed", kFeedParameters, args, nargs, kwnames, slots);
  if (bound == nullptr) return nullptr;
  const int blank_warmup = parse_warmup(bound[2]);
  if (blank_warmup < 0) return nullptr;
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
      if (!values.take(bound[1], "values")) return nullptr;
      return run_batch(instance, values.size(), ColumnReader{values.column()}, blank_warmup);
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
  const Column opens = columns.open.column(), highs = columns.high.column(),
               lows = columns.low.column(), closes = columns.close.column(),
               volumes = columns.volume.column();
  const Py_ssize_t size = columns.close.size();
  return run_batch(instance, size, bar_reader<Record>(opens, highs, lows, closes, volumes),
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
  std::array<PyObject*, 7> slots{};
  PyObject* const* bound = bind("feed_bars", kFeedBarsParameters, args, nargs, kwnames, slots);
  if (bound == nullptr) return nullptr;
  const int blank_warmup = parse_warmup(bound[4]);
  if (blank_warmup < 0) return nullptr;
  PyObject* open = bound[5];
  PyObject* volume = bound[6];
  return feed_bar_kind(bound[0], blank_warmup, [&](BarColumns& columns) {
    columns.has_open = open != nullptr && open != Py_None;
    columns.has_volume = volume != nullptr && volume != Py_None;
    return columns.high.take(bound[1], "high") && columns.low.take(bound[2], "low") &&
           columns.close.take(bound[3], "close") &&
           (!columns.has_open || columns.open.take(open, "open")) &&
           (!columns.has_volume || columns.volume.take(volume, "volume"));
  });
}

PyObject* feed_pairs(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
  std::array<PyObject*, 4> slots{};
  PyObject* const* bound = bind("feed_pairs", kFeedPairsParameters, args, nargs, kwnames, slots);
  if (bound == nullptr) return nullptr;
  const int blank_warmup = parse_warmup(bound[3]);
  if (blank_warmup < 0) return nullptr;
  return dispatch(bound[0], [&]<class Record>(Instance<Record>& instance) -> PyObject* {
    if constexpr (!TakesPairs<Record>) {
      refuse_input_kind<Record>(false);
      return nullptr;
    } else {
      // Taken before the inputs convert, as feed takes it.
      Borrow borrow;
      if (!hold(instance, borrow, Access::kExclusive)) return nullptr;
      Values x, y;
      if (!x.take(bound[1], "x") || !y.take(bound[2], "y")) return nullptr;
      if (x.size() != y.size()) [[unlikely]] {
        PyErr_Format(PyExc_ValueError,
                     "arguments 'x' and 'y' must have the same length, got %zd and %zd",
                     x.size(), y.size());
        return nullptr;
      }
      const Column xs = x.column(), ys = y.column();
      return run_batch(instance, x.size(), [=](Py_ssize_t i) { return Pair{xs[i], ys[i]}; },
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
