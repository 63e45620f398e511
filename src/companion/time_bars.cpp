#include "time_bars.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <string_view>

#include "answers.h"
#include "bar_builder.h"
#include "classes.h"
#include "input.h"
#include "loop.h"
#include "state.h"
#include "stored_form.h"

namespace barworks::companion {

namespace {

using Builder = Instance<BarBuilder>;

PyTypeObject* builder_class = nullptr;
// From barworks/bars.py, handed over when it is imported.
PyObject* time_bar_type = nullptr;
PyObject* timestamp_of = nullptr;
PyObject* duration_of = nullptr;

constexpr std::string_view kStoredName = "barworks.BarBuilder";

bool prepared() noexcept {
  if (time_bar_type != nullptr) [[likely]] return true;
  PyErr_SetString(PyExc_RuntimeError, "import barworks before making bars");
  return false;
}

// A time as messages show it: "2024-01-01T10:04:59Z (1704103499000000000)",
// the fraction of a second only where there is one.
struct TimeText {
  char text[80];
};

TimeText describe_time(std::int64_t nanoseconds) noexcept {
  constexpr std::int64_t kDay = 86'400'000'000'000;
  std::int64_t days = nanoseconds / kDay;
  std::int64_t within = nanoseconds % kDay;
  if (within < 0) {
    within += kDay;
    --days;
  }
  const std::chrono::year_month_day date{
      std::chrono::sys_days{std::chrono::days{static_cast<int>(days)}}};
  const std::chrono::hh_mm_ss clock{std::chrono::nanoseconds{within}};
  TimeText out;
  const int wrote = std::snprintf(
      out.text, sizeof out.text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()));
  auto at = static_cast<std::size_t>(wrote > 0 ? wrote : 0);
  const auto fraction = static_cast<long long>(clock.subseconds().count());
  if (fraction != 0) {
    at += static_cast<std::size_t>(
        std::snprintf(out.text + at, sizeof out.text - at, ".%09lld", fraction));
  }
  std::snprintf(out.text + at, sizeof out.text - at, "Z (%lld)",
                static_cast<long long>(nanoseconds));
  return out;
}

// ValueError for a refused piece; `where` says which, in a run.
[[gnu::cold]] void raise_refusal(Refusal refusal, const BarBuilder& builder,
                                 std::int64_t timestamp, const char* where) noexcept {
  const TimeText at = describe_time(timestamp);
  switch (refusal) {
    case Refusal::kNaN:
      PyErr_Format(PyExc_ValueError,
                   "%sa NaN price or volume at %s is refused: its bar would be NaN; drop or fill "
                   "it first",
                   where, at.text);
      return;
    case Refusal::kLate: {
      const TimeText bucket = describe_time(builder.bar.start);
      if (builder.forming) {
        PyErr_Format(PyExc_ValueError,
                     "%s%s is older than the bucket forming since %s: an earlier bucket is "
                     "complete and cannot take it",
                     where, at.text, bucket.text);
      } else {
        PyErr_Format(PyExc_ValueError,
                     "%s%s falls in or before the bucket starting at %s, which flush() gave out",
                     where, at.text, bucket.text);
      }
      return;
    }
    case Refusal::kTooEarly:
      PyErr_Format(PyExc_ValueError,
                   "%s%s falls in a bucket that starts before the earliest time int64 "
                   "nanoseconds hold (1677-09-21)",
                   where, at.text);
      return;
    case Refusal::kNone:
    case Refusal::kStopped:
      return;  // the sink's own error is set
  }
}

// An int64 of nanoseconds, from a timestamp (an int of nanoseconds, or any
// the Python half reads: datetime, numpy datetime64, pandas Timestamp) or a
// duration (all read there).
// `convert` reads everything else; an int is taken as nanoseconds where
// `ints_are_nanoseconds`.
bool convert_time(PyObject* object, const char* parameter, PyObject* convert,
                  bool ints_are_nanoseconds, std::int64_t& nanoseconds) noexcept {
  PyObject* whole = nullptr;
  if (ints_are_nanoseconds && PyLong_CheckExact(object)) [[likely]] {
    whole = Py_NewRef(object);
  } else {
    PyObject* name = PyUnicode_FromString(parameter);
    if (name == nullptr) return false;
    PyObject* call[] = {object, name};
    whole = PyObject_Vectorcall(convert, call, 2, nullptr);
    Py_DECREF(name);
    if (whole == nullptr) return false;
    if (!PyLong_Check(whole)) [[unlikely]] {
      PyErr_Format(PyExc_TypeError, "argument '%s': the conversion gave '%T', not int", parameter,
                   whole);
      Py_DECREF(whole);
      return false;
    }
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(whole, &overflow);
  Py_DECREF(whole);
  if (overflow != 0) [[unlikely]] {
    PyErr_Format(PyExc_ValueError,
                 "argument '%s': %R lies outside the int64 nanoseconds from 1677-09-21 to "
                 "2262-04-11",
                 parameter, object);
    return false;
  }
  if (value == -1 && PyErr_Occurred()) return false;
  nanoseconds = value;
  return true;
}

bool convert_timestamp(PyObject* object, const char* parameter, std::int64_t& nanoseconds) noexcept {
  return convert_time(object, parameter, timestamp_of, true, nanoseconds);
}

// fill="none" or "previous"; false with ValueError set.
bool parse_fill(PyObject* fill, Fill& parsed) noexcept {
  const int choice = parse_choice(fill, "fill", "none", "previous");
  parsed = choice == 1 ? Fill::kPrevious : Fill::kNone;
  return choice >= 0;
}

// A bar of the Python half's type, made as tuple.__new__(TimeBar, fields)
// makes a named tuple: its cells filled in place (its layout is a tuple's,
// checked when the type was handed over).
PyObject* new_time_bar(const TimeBar& bar) noexcept {
  auto* type = reinterpret_cast<PyTypeObject*>(time_bar_type);
  PyObject* made = type->tp_alloc(type, 6);
  if (made == nullptr) return nullptr;
  PyObject* start = PyLong_FromLongLong(bar.start);
  if (start == nullptr) {
    Py_DECREF(made);
    return nullptr;
  }
  PyTuple_SET_ITEM(made, 0, start);
  const double fields[] = {bar.open, bar.high, bar.low, bar.close, bar.volume};
  for (Py_ssize_t i = 0; i < 5; ++i) {
    PyObject* field = PyFloat_FromDouble(fields[i]);
    if (field == nullptr) {
      Py_DECREF(made);
      return nullptr;
    }
    PyTuple_SET_ITEM(made, i + 1, field);
  }
  return made;
}

// The bars one add completes, as a list of bars.
struct ListSink {
  const BarBuilder& builder;
  PyObject* list;

  bool completed(const TimeBar& bar) noexcept {
    PyObject* item = new_time_bar(bar);
    if (item == nullptr) return false;
    const int appended = PyList_Append(list, item);
    Py_DECREF(item);
    return appended == 0;
  }
  bool filled(std::int64_t first, std::uint64_t count) noexcept {
    return builder.put_flat_bars(first, count, [&](const TimeBar& bar) { return completed(bar); });
  }
};

PyObject* new_builder(PyTypeObject* type, const BarBuilder& record) noexcept {
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) return nullptr;
  Builder& builder = instance_of<BarBuilder>(object);
  new (&builder.payload) BarBuilder(record);
  new (&builder.access) AccessFlag(kFree);
  return object;
}

PyObject* builder_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  static const char* const kKeywords[] = {"", "origin", "fill", nullptr};
  PyObject* every = nullptr;
  PyObject* origin = nullptr;
  PyObject* fill = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$OO:BarBuilder", kKeywords, &every, &origin,
                                   &fill)) {
    return nullptr;
  }
  if (!prepared()) return nullptr;
  std::int64_t every_ns = 0, origin_ns = 0;
  Fill parsed = Fill::kNone;
  if (!convert_time(every, "every", duration_of, false, every_ns)) return nullptr;
  if (origin != nullptr && !convert_timestamp(origin, "origin", origin_ns)) return nullptr;
  if (fill != nullptr && !parse_fill(fill, parsed)) return nullptr;
  auto record = BarBuilder::create(every_ns, origin_ns, parsed);
  if (!record) {
    raise_error(record.error());
    return nullptr;
  }
  return new_builder(type, *record);
}

void builder_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

// As a method of the frame: the builder held, the timestamp converted, then
// `read(piece)` converting the piece; answers the bars the piece completed,
// or null with the refusal raised and the builder as it was.
template <class Read>
PyObject* add_piece(PyObject* self, PyObject* timestamp_object, Read read) noexcept {
  Builder& builder = instance_of<BarBuilder>(self);
  Borrow borrow;
  if (!hold(builder, borrow, Access::kExclusive)) return nullptr;
  std::int64_t timestamp;
  Candle piece;
  if (!convert_timestamp(timestamp_object, "timestamp", timestamp) || !read(piece)) return nullptr;
  PyObject* completed = PyList_New(0);
  if (completed == nullptr) return nullptr;
  ListSink sink{builder.payload, completed};
  const Refusal refusal = builder.payload.add(timestamp, piece, sink);
  if (refusal == Refusal::kNone) [[likely]] return completed;
  Py_DECREF(completed);
  raise_refusal(refusal, builder.payload, timestamp, "");
  return nullptr;
}

constexpr std::array<const char*, 3> kAddParameters{"timestamp", "price", "volume"};
constexpr std::array<ParameterDefault, 3> kVolumeLeftOut{ParameterDefault{}, ParameterDefault{},
                                                         ParameterDefault{.present = true}};
constexpr std::array<const char*, 2> kAddBarParameters{"timestamp", "bar"};

// add(timestamp, price, volume=0)
PyObject* builder_add(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
  std::array<PyObject*, 3> bound{};
  if (kwnames == nullptr && (nargs == 2 || nargs == 3)) [[likely]] {
    for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = args[i];
  } else {
    const CallSignature signature{"BarBuilder", "add", kAddParameters.data(), 3,
                                  kVolumeLeftOut.data()};
    if (!bind_vector(signature, args, nargs, kwnames, bound.data())) return nullptr;
  }
  return add_piece(self, bound[0], [&](Candle& piece) {
    Argument<double> price, volume;
    volume.value = 0.0;  // a trade without a volume
    if (!price.convert(bound[1])) [[unlikely]] {
      raise_argument_error("price");
      return false;
    }
    if (bound[2] != nullptr && !volume.convert(bound[2])) [[unlikely]] {
      raise_argument_error("volume");
      return false;
    }
    const double at = price.get();
    piece = Candle{at, at, at, at, volume.get()};
    return true;
  });
}

// add_bar(timestamp, bar)
PyObject* builder_add_bar(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) noexcept {
  std::array<PyObject*, 2> bound{};
  const CallSignature signature{"BarBuilder", "add_bar", kAddBarParameters.data(), 2};
  if (!bind_vector(signature, args, nargs, kwnames, bound.data())) return nullptr;
  return add_piece(self, bound[0], [&](Candle& piece) {
    Argument<const Candle&> bar;
    if (!bar.convert(bound[1])) [[unlikely]] {
      raise_argument_error("bar");
      return false;
    }
    piece = bar.get();
    return true;
  });
}

PyObject* builder_flush(PyObject* self, PyObject*) noexcept {
  Builder& builder = instance_of<BarBuilder>(self);
  Borrow borrow;
  if (!hold(builder, borrow, Access::kExclusive)) return nullptr;
  if (!builder.payload.forming) Py_RETURN_NONE;
  PyObject* bar = new_time_bar(builder.payload.bar);
  if (bar != nullptr) builder.payload.close_forming();
  return bar;
}

PyObject* builder_reset(PyObject* self, PyObject*) noexcept {
  Builder& builder = instance_of<BarBuilder>(self);
  Borrow borrow;
  if (!hold(builder, borrow, Access::kExclusive)) return nullptr;
  builder.payload.reset();
  Py_RETURN_NONE;
}

PyObject* builder_forming(PyObject* self, void*) noexcept {
  Builder& builder = instance_of<BarBuilder>(self);
  Borrow borrow;
  if (!hold(builder, borrow, Access::kShared)) return nullptr;
  if (!builder.payload.forming) Py_RETURN_NONE;
  return new_time_bar(builder.payload.bar);
}

PyMethodDef builder_methods[] = {
    {"add", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&builder_add)),
     METH_FASTCALL | METH_KEYWORDS,
     "add($self, timestamp, price, volume=0)\n--\n\n"
     "Adds one trade; answers the list of bars it completed."},
    {"add_bar", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&builder_add_bar)),
     METH_FASTCALL | METH_KEYWORDS,
     "add_bar($self, timestamp, bar)\n--\n\n"
     "Adds one finer bar starting at timestamp; answers the list of bars it completed."},
    {"flush", &builder_flush, METH_NOARGS,
     "flush($self, /)\n--\n\n"
     "Gives out the forming bar (None when there is none); later trades must fall after it."},
    {"reset", &builder_reset, METH_NOARGS,
     "reset($self, /)\n--\n\nForgets every trade: as new, with the same buckets."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef builder_getset[] = {
    {"forming", &builder_forming, nullptr,
     "The bar of the bucket still forming, None before the first trade and after flush().",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot builder_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&builder_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&builder_dealloc)},
    {Py_tp_methods, builder_methods},
    {Py_tp_getset, builder_getset},
    {Py_tp_doc,
     const_cast<char*>("BarBuilder(every, /, *, origin=0, fill='none')\n--\n\n"
                       "Bars of buckets `every` long from `origin`, built from trades or finer "
                       "bars.")},
    {0, nullptr},
};

PyType_Spec builder_spec = {
    "barworks.BarBuilder",
    static_cast<int>(sizeof(Builder)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    builder_slots,
};

// ---------------------------------------------------------------------------
// Whole columns.

// A run's trades: int64 times, prices, and volumes where given.
struct Trades {
  const std::int64_t* times;
  Column prices;
  Column volumes;  // no data: every volume is 0
  Py_ssize_t size;
};

// How many bars a run gives, short of the last forming one.
struct BarCount {
  std::uint64_t bars = 0;

  bool completed(const TimeBar&) noexcept {
    ++bars;
    return true;
  }
  bool filled(std::int64_t, std::uint64_t count) noexcept {
    constexpr auto kMost = std::numeric_limits<std::uint64_t>::max();
    bars = count > kMost - bars ? kMost : bars + count;
    return true;
  }
};

// The bars of a run, written into their columns.
struct BarColumnsSink {
  const BarBuilder& builder;
  std::int64_t* start;
  std::array<double*, 5> prices;  // open, high, low, close, volume
  Py_ssize_t at = 0;

  bool completed(const TimeBar& bar) noexcept {
    start[at] = bar.start;
    prices[0][at] = bar.open;
    prices[1][at] = bar.high;
    prices[2][at] = bar.low;
    prices[3][at] = bar.close;
    prices[4][at] = bar.volume;
    ++at;
    return true;
  }
  bool filled(std::int64_t first, std::uint64_t count) noexcept {
    return builder.put_flat_bars(first, count, [&](const TimeBar& bar) { return completed(bar); });
  }
};

// Adds every trade in order, as add() would; the position of the one
// refused (with `refusal` saying why), or the size.
template <class Sink>
Py_ssize_t add_trades(BarBuilder& builder, const Trades& trades, Sink& sink,
                      Refusal& refusal) noexcept {
  const auto each = [&](auto volume_at) {
    for (Py_ssize_t i = 0; i < trades.size; ++i) {
      const double price = trades.prices[i];
      refusal = builder.add(trades.times[i], Candle{price, price, price, price, volume_at(i)}, sink);
      if (refusal != Refusal::kNone) [[unlikely]] return i;
    }
    return trades.size;
  };
  if (trades.volumes.data == nullptr) return each([](Py_ssize_t) { return 0.0; });
  return each([&](Py_ssize_t i) { return trades.volumes[i]; });
}

// An int64 buffer of one dimension, held until destruction.
class TimeColumn {
 public:
  TimeColumn() noexcept = default;
  TimeColumn(const TimeColumn&) = delete;
  TimeColumn& operator=(const TimeColumn&) = delete;
  ~TimeColumn() {
    if (held_) PyBuffer_Release(&view_);
  }
  bool take(PyObject* object) noexcept {
    if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) return false;
    held_ = true;
    const bool whole = view_.itemsize == 8 && (is_native_format(view_.format, 'q') ||
                                               is_native_format(view_.format, 'l'));
    if (!whole || view_.ndim != 1) {
      PyErr_Format(PyExc_TypeError,
                   "argument 'timestamps': expected one contiguous column of int64, not '%T'",
                   object);
      return false;
    }
    return true;
  }
  const std::int64_t* data() const noexcept { return static_cast<const std::int64_t*>(view_.buf); }
  Py_ssize_t size() const noexcept { return view_.shape[0]; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

bool take_whole(PyObject* object, const char* parameter, std::int64_t& value) noexcept {
  const long long converted = PyLong_AsLongLong(object);
  if (converted == -1 && PyErr_Occurred()) {
    raise_argument_error(parameter);
    return false;
  }
  value = converted;
  return true;
}

// Without the interpreter lock for a long run.
class LockReleased {
 public:
  explicit LockReleased(Py_ssize_t size) noexcept
      : saved_(size >= kReleaseLockFrom ? PyEval_SaveThread() : nullptr) {}
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;
  ~LockReleased() {
    if (saved_ != nullptr) PyEval_RestoreThread(saved_);
  }

 private:
  PyThreadState* saved_;
};

// The columns of the run's bars: a first pass counts them, so that the
// columns are the only allocation, and a second writes them.
PyObject* run_trades(const BarBuilder& fresh, const Trades& trades) noexcept {
  BarBuilder counting = fresh;
  BarCount count;
  Refusal refusal = Refusal::kNone;
  Py_ssize_t refused;
  {
    LockReleased released(trades.size);
    refused = add_trades(counting, trades, count, refusal);
  }
  if (refused < trades.size) {
    char where[48];
    std::snprintf(where, sizeof where, "trade %zd: ", refused);
    raise_refusal(refusal, counting, trades.times[refused], where);
    return nullptr;
  }
  const std::uint64_t total = count.bars + (counting.forming ? 1 : 0);
  if (total < count.bars || total > static_cast<std::uint64_t>(PY_SSIZE_T_MAX) / sizeof(double)) {
    return PyErr_NoMemory();
  }
  const auto rows = static_cast<Py_ssize_t>(total);
  Answers start;
  std::array<Answers, 5> prices;
  if (!start.create_times(rows)) return nullptr;
  for (Answers& column : prices) {
    if (!column.create(rows, 1, false)) return nullptr;
  }
  BarBuilder writing = fresh;
  BarColumnsSink sink{writing, start.cells<std::int64_t>(),
                      {prices[0].cells<double>(), prices[1].cells<double>(),
                       prices[2].cells<double>(), prices[3].cells<double>(),
                       prices[4].cells<double>()}};
  {
    LockReleased released(trades.size);
    add_trades(writing, trades, sink, refusal);
    if (writing.forming) sink.completed(writing.bar);
  }
  if (sink.at != rows) [[unlikely]] {
    raise_panic("the second pass over the trades gave another count of bars");
    return nullptr;
  }
  return Py_BuildValue("(NNNNNN)", start.release(), prices[0].release(), prices[1].release(),
                       prices[2].release(), prices[3].release(), prices[4].release());
}

}  // namespace

bool add_bar_builder_class(PyObject* module) noexcept {
  PyObject* type = PyType_FromModuleAndSpec(module, &builder_spec, nullptr);
  if (type == nullptr) return false;
  if (PyModule_AddObjectRef(module, "BarBuilder", type) < 0) {
    Py_DECREF(type);
    return false;
  }
  builder_class = reinterpret_cast<PyTypeObject*>(type);
  return true;
}

void forget_time_types() noexcept {
  builder_class = nullptr;
  time_bar_type = nullptr;
  timestamp_of = nullptr;
  duration_of = nullptr;
}

PyObject* use_time_types(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (nargs != 3) {
    PyErr_Format(PyExc_TypeError, "use_time_types() takes 3 arguments (%zd given)", nargs);
    return nullptr;
  }
  auto* type = PyType_Check(args[0]) ? reinterpret_cast<PyTypeObject*>(args[0]) : nullptr;
  if (type == nullptr || !PyType_IsSubtype(type, &PyTuple_Type) ||
      type->tp_basicsize != PyTuple_Type.tp_basicsize ||
      type->tp_itemsize != PyTuple_Type.tp_itemsize) {
    PyErr_Format(PyExc_TypeError,
                 "use_time_types(): the bar type must be a tuple type without slots, not %R",
                 args[0]);
    return nullptr;
  }
  Py_XSETREF(time_bar_type, Py_NewRef(args[0]));
  Py_XSETREF(timestamp_of, Py_NewRef(args[1]));
  Py_XSETREF(duration_of, Py_NewRef(args[2]));
  Py_RETURN_NONE;
}

PyObject* resample(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (nargs != 6) {
    PyErr_Format(PyExc_TypeError, "resample() takes 6 arguments (%zd given)", nargs);
    return nullptr;
  }
  std::int64_t every, origin;
  Fill fill;
  if (!take_whole(args[3], "every", every) || !take_whole(args[4], "origin", origin) ||
      !parse_fill(args[5], fill)) {
    return nullptr;
  }
  auto fresh = BarBuilder::create(every, origin, fill);
  if (!fresh) {
    raise_error(fresh.error());
    return nullptr;
  }
  TimeColumn times;
  Values prices, volumes;
  Trades trades{};
  if (!times.take(args[0]) || !prices.take(args[1], "prices") ||
      !prices.gather(trades.prices)) {
    return nullptr;
  }
  const bool has_volumes = args[2] != Py_None;
  if (has_volumes && (!volumes.take(args[2], "volumes") || !volumes.gather(trades.volumes))) {
    return nullptr;
  }
  if (prices.size() != times.size() || (has_volumes && volumes.size() != times.size())) {
    PyErr_Format(PyExc_ValueError,
                 "arguments 'timestamps', 'prices' and 'volumes' must have the same length, got "
                 "%zd, %zd and %zd",
                 times.size(), prices.size(), has_volumes ? volumes.size() : times.size());
    return nullptr;
  }
  trades.times = times.data();
  trades.size = times.size();
  return run_trades(*fresh, trades);
}

PyObject* builder_state(PyObject*, PyObject* object) noexcept {
  if (builder_class == nullptr || Py_TYPE(object) != builder_class) {
    PyErr_Format(PyExc_TypeError, "builder_state() takes a BarBuilder, not '%T'", object);
    return nullptr;
  }
  return stored_form_of<BarBuilder>(object, kStoredName);
}

PyObject* restore_builder(PyObject*, PyObject* data) noexcept {
  if (!prepared()) return nullptr;
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
  checkpoint::Header header;
  checkpoint::Fault fault;
  BarBuilder record{};
  PyObject* result = nullptr;
  if (!checkpoint::read_header(static_cast<const unsigned char*>(view.buf),
                               static_cast<std::size_t>(view.len), header, fault)) {
    PyErr_SetString(PyExc_ValueError, fault.text);
  } else if (header.class_name != kStoredName) {
    checkpoint::refuse_class(header.class_name, fault);
    PyErr_SetString(PyExc_ValueError, fault.text);
  } else if (checkpoint::raise_unless_loaded(
                 checkpoint::load(header.fields, header.size, header.version, kStoredName.data(),
                                  record, fault),
                 fault)) {
    result = new_builder(builder_class, record);
  }
  PyBuffer_Release(&view);
  return result;
}

}  // namespace barworks::companion
