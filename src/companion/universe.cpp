#include "universe.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "../warmup.h"
#include "loop.h"
#include "packed.h"
#include "state.h"
#include "tiles.h"

namespace barworks::companion {

namespace {

// The inputs of one step, one column of lane values each: a float class
// reads the first, a pair class the first two (x, y), a bar class all five
// in the order open, high, low, close, volume (those it does not read are
// never touched).
using StepColumns = std::array<Column, 5>;
inline constexpr std::size_t kOpenColumn = 0;
inline constexpr std::size_t kCloseColumn = 3;
inline constexpr std::size_t kVolumeColumn = 4;

using RunMatrices = std::array<Matrix, 5>;

template <class Record>
auto reader(const StepColumns& columns) noexcept {
  if constexpr (TakesBars<Record>) {
    return bar_reader<Record>(columns[0], columns[1], columns[2], columns[3], columns[4]);
  } else if constexpr (TakesPairs<Record>) {
    const Column xs = columns[0], ys = columns[1];
    return [=](Py_ssize_t i) { return Pair{xs[i], ys[i]}; };
  } else {
    return ColumnReader{columns[0]};
  }
}

// One class's records as lanes: what the Lanes object does to them, through
// this table, without knowing their type. Everything is written once over
// the record's own members (update, reset, the checkpoint lists).
struct LaneKind {
  const char* name;
  std::string_view stored_name;
  std::size_t size;
  InputKind input;
  Py_ssize_t columns;
  bool codes;
  bool reads_open;
  bool reads_close;
  bool reads_volume;
  bool wants_dense_inputs;
  void (*destroy)(void* lane) noexcept;
  // Move-constructs the record at `from` into the raw memory `to`, then
  // destroys the one at `from`.
  void (*relocate)(void* to, void* from) noexcept;
  void (*reset)(void* lane) noexcept;
  // The stored form with its header; only its size when `out` is null.
  std::size_t (*store)(const void* lane, unsigned char* out) noexcept;
  // Builds a record into the raw memory `lane` from a stored form's
  // fields; false with ValueError or MemoryError set and nothing built.
  bool (*load)(void* lane, const checkpoint::Header& header) noexcept;
  // One step of `count` lanes (only those `where` marks, when given).
  void (*step)(void* lanes, Py_ssize_t count, const StepColumns& inputs,
               const unsigned char* where, void* answers) noexcept;
  // `steps` steps of every lane, lane by lane (a window extreme's over
  // dense rows side by side), into (steps, count[, k]) answers (run_lanes);
  // false, with nothing run, when memory is short.
  bool (*run)(void* lanes, Py_ssize_t count, Py_ssize_t steps, const RunMatrices& inputs,
              bool blank_warmup, void* answers) noexcept;
  // For a class whose lanes can lay their fields side by side (null for
  // the others): lays out the records' fields, null when memory is short
  // (the records then step as they are); writes them back into the
  // records and frees them; one step of them, as `step` is of the records
  // (which give the parameters).
  void* (*pack)(const void* lanes, Py_ssize_t count) noexcept;
  std::uint64_t (*warmup_left)(const void* lane) noexcept;
  // How many of the lanes take only their rule side by side from here on.
  Py_ssize_t (*count_steady)(const void* lanes, Py_ssize_t count) noexcept;
  void (*unpack)(void* packed, void* lanes) noexcept;
  void (*step_packed)(void* packed, void* lanes, const StepColumns& inputs,
                      const unsigned char* where, void* answers) noexcept;
};

template <class Record>
void destroy_lane(void* lane) noexcept {
  std::destroy_at(static_cast<Record*>(lane));
}

template <class Record>
void relocate_lane(void* to, void* from) noexcept {
  Record* source = static_cast<Record*>(from);
  new (to) Record(std::move(*source));
  std::destroy_at(source);
}

template <class Record>
void reset_lane(void* lane) noexcept {
  static_cast<Record*>(lane)->reset();
}

template <class Record>
std::size_t store_lane(const void* lane, unsigned char* out) noexcept {
  return checkpoint::store(*static_cast<const Record*>(lane), checkpoint::kStoredNameView<Record>,
                           out);
}

template <class Record>
bool load_lane(void* lane, const checkpoint::Header& header) noexcept {
  Record record{};
  checkpoint::Fault fault;
  const auto outcome = checkpoint::load(header.fields, header.size, header.version,
                                        checkpoint::kStoredName<Record>, record, fault);
  if (!checkpoint::raise_unless_loaded(outcome, fault)) return false;
  new (lane) Record(std::move(record));
  return true;
}

template <class Record>
void step_lanes(void* lanes, Py_ssize_t count, const StepColumns& inputs,
                const unsigned char* where, void* answers) noexcept {
  using Rows = RowOf<Record>;
  constexpr Py_ssize_t kColumns = Rows::kColumns;
  Record* records = static_cast<Record*>(lanes);
  auto* cells = static_cast<typename Rows::Cell*>(answers);
  const auto read = reader<Record>(inputs);
  if (where == nullptr) {
    for (Py_ssize_t j = 0; j < count; ++j) Rows::store(cells + j * kColumns, step(records[j], read(j)));
    return;
  }
  for (Py_ssize_t j = 0; j < count; ++j) {
    if (where[j] != 0) {
      Rows::store(cells + j * kColumns, step(records[j], read(j)));
    } else {
      store_unstepped(cells + j * kColumns, kColumns);
    }
  }
}

// A run takes the lanes a tile at a time over a stretch of steps at a time,
// so that its scratch stays small whatever the run's length: a tile's row
// of single-number answers is written as eight whole lines.
inline constexpr Py_ssize_t kLaneTile = 64;
inline constexpr Py_ssize_t kStretch = Py_ssize_t{1} << 10;
// Each lane's room in the scratch is a stretch and this many cells long: a
// whole stretch, a power of two, would put every lane's cell of a step in
// the same set of the cache.
inline constexpr Py_ssize_t kLaneRoomPadding = 8;

// The tile's answers, each lane's one after another, laid into their rows
// of `rows` (row_cells cells apart) row by row, so that each row's cells of
// the tile are written together; single numbers two rows of two lanes at a
// time, as gather_tile reads them.
template <class Cell, Py_ssize_t kColumns>
void scatter_tile(const Cell* own, Py_ssize_t span, Py_ssize_t lane_room, Py_ssize_t tile,
                  Cell* rows, Py_ssize_t row_cells) noexcept {
  Py_ssize_t t = 0;
  if constexpr (std::is_same_v<Cell, double> && kColumns == 1) {
    for (; t + 2 <= span; t += 2) {
      double* const upper = rows + t * row_cells;
      double* const lower = upper + row_cells;
      Py_ssize_t k = 0;
      for (; k + 2 <= tile; k += 2) {
        const auto [first_row, second_row] =
            transposed(load_lanes<DoublePair>(own + k * lane_room + t),
                       load_lanes<DoublePair>(own + (k + 1) * lane_room + t));
        store_lanes(upper + k, first_row);
        store_lanes(lower + k, second_row);
      }
      if (k < tile) {
        upper[k] = own[k * lane_room + t];
        lower[k] = own[k * lane_room + t + 1];
      }
    }
  }
  for (; t < span; ++t) {
    Cell* const row = rows + t * row_cells;
    for (Py_ssize_t k = 0; k < tile; ++k) {
      for (Py_ssize_t c = 0; c < kColumns; ++c) {
        row[k * kColumns + c] = own[(k * lane_room + t) * kColumns + c];
      }
    }
  }
}

// The warm-up answers each lane has still to give, read before a run steps
// the lanes (`left_of(j)` for lane j); null when memory is short.
template <class LeftOf>
std::uint64_t* warmups_left(Py_ssize_t count, LeftOf left_of) noexcept {
  auto* left = static_cast<std::uint64_t*>(
      PyMem_RawMalloc(static_cast<std::size_t>(count) * sizeof(std::uint64_t)));
  if (left == nullptr) return nullptr;
  for (Py_ssize_t j = 0; j < count; ++j) left[j] = left_of(j);
  return left;
}

// Blanks those answers of a run of `steps` rows of `count` lanes, each
// `columns` cells, and frees `left`.
void blank_warmups(std::uint64_t* left, Py_ssize_t count, Py_ssize_t steps, Py_ssize_t columns,
                   double* cells) noexcept {
  for (Py_ssize_t j = 0; j < count; ++j) {
    const auto blank = static_cast<Py_ssize_t>(std::min<std::uint64_t>(left[j], steps));
    for (Py_ssize_t t = 0; t < blank; ++t) {
      store_unstepped(cells + (t * count + j) * columns, columns);
    }
  }
  PyMem_RawFree(left);
}

// A window extreme's lanes over a matrix whose rows hold them side by side
// run row by row (ExtremumRows), each lane's warm-up answers blanked after;
// false, with nothing run, where that cannot take them.
template <class Order>
bool run_extremum_rows(Extremum<Order>* records, Py_ssize_t count, Py_ssize_t steps,
                       const Matrix& inputs, bool blank_warmup, double* answers) noexcept {
  if (!inputs.dense_rows()) return false;
  ExtremumRows<Order> rows{records, static_cast<std::size_t>(count),
                           static_cast<std::size_t>(steps), inputs.data, inputs.step_stride,
                           answers};
  if (!rows.runs()) return false;
  using Trail = typename ExtremumRows<Order>::Trail;
  static_assert(alignof(Trail) == alignof(double) && sizeof(Trail) % sizeof(double) == 0);
  void* scratch = PyMem_RawMalloc(rows.count * sizeof(Trail) + rows.copy_cells() * sizeof(double));
  if (scratch == nullptr) return false;
  std::uint64_t* left = nullptr;
  if (blank_warmup) {
    left = warmups_left(count, [&](Py_ssize_t j) { return warmup_left(records[j]); });
    if (left == nullptr) {
      PyMem_RawFree(scratch);
      return false;
    }
  }
  auto* trails = static_cast<Trail*>(scratch);
  rows.run(trails, reinterpret_cast<double*>(trails + rows.count));
  PyMem_RawFree(scratch);
  if (left != nullptr) blank_warmups(left, count, steps, 1, answers);
  return true;
}

// Each lane runs its column through the batch loop on a local record (as
// feed runs one object), a stretch of steps at a time, into a scratch of a
// tile of lanes' answers, then its answers are laid into its column of the
// answers. The inputs of a row-major matrix, whose lanes are strided, are
// first gathered a tile of lanes at a time, each lane's one after another: a row
// holds the tile's values side by side, so each row is read once for the
// tile, where a lane read in place takes a line of its own for each input
// (and several for a batch path reading its column some steps back).
template <class Record>
bool run_lanes(void* lanes, Py_ssize_t count, Py_ssize_t steps, const RunMatrices& inputs,
               bool blank_warmup, void* answers) noexcept {
  using Rows = RowOf<Record>;
  using Cell = typename Rows::Cell;
  constexpr Py_ssize_t kColumns = Rows::kColumns;
  Record* records = static_cast<Record*>(lanes);
  auto* cells = static_cast<Cell*>(answers);
  if constexpr (kIsExtremum<Record>) {
    if (run_extremum_rows(records, count, steps, inputs[0], blank_warmup, cells)) return true;
  }
  // The scratch: the tile's gathered inputs, then its answers.
  std::size_t strided = 0;
  for (const Matrix& matrix : inputs) strided += matrix.data != nullptr && !matrix.dense_lanes();
  const auto tile_cells = static_cast<std::size_t>((std::min(steps, kStretch) + kLaneRoomPadding) *
                                                   std::min(kLaneTile, count));
  void* scratch = PyMem_RawMalloc(
      std::max<std::size_t>(1, tile_cells * (strided * sizeof(double) + kColumns * sizeof(Cell))));
  if (scratch == nullptr) return false;
  auto* gathered = static_cast<double*>(scratch);
  auto* own = reinterpret_cast<Cell*>(gathered + tile_cells * strided);
  for (Py_ssize_t from = 0; from < steps; from += kStretch) {
    const Py_ssize_t span = std::min(kStretch, steps - from);
    const Py_ssize_t lane_room = span + kLaneRoomPadding;
    for (Py_ssize_t first = 0; first < count; first += kLaneTile) {
      const Py_ssize_t tile = std::min(kLaneTile, count - first);
      std::array<double*, 5> rooms{};
      double* room = gathered;
      for (std::size_t c = 0; c < rooms.size(); ++c) {
        const Matrix& matrix = inputs[c];
        if (matrix.data == nullptr || matrix.dense_lanes()) continue;
        rooms[c] = room;
        room += std::min(kLaneTile, count) * lane_room;
        gather_tile(matrix, from, span, first, tile, lane_room, rooms[c]);
      }
      for (Py_ssize_t k = 0; k < tile; ++k) {
        const Py_ssize_t j = first + k;
        StepColumns columns;
        for (std::size_t c = 0; c < columns.size(); ++c) {
          columns[c] = rooms[c] != nullptr
                           ? Column{reinterpret_cast<const char*>(rooms[c] + k * lane_room),
                                    sizeof(double)}
                           : inputs[c].lane(j, from);
        }
        Record& lane = records[j];
        const std::uint64_t left = blank_warmup ? warmup_left(lane) : 0;
        Record local(std::move(lane));
        Cell* const lane_answers = own + k * lane_room * kColumns;
        run(local, span, reader<Record>(columns), lane_answers);
        std::destroy_at(&lane);
        new (&lane) Record(std::move(local));
        if constexpr (!kGivesCodes<Record>) {
          blank_rows(lane_answers, static_cast<Py_ssize_t>(std::min<std::uint64_t>(left, span)),
                     kColumns);
        }
      }
      scatter_tile<Cell, kColumns>(own, span, lane_room, tile,
                                   cells + (from * count + first) * kColumns, count * kColumns);
    }
  }
  PyMem_RawFree(scratch);
  return true;
}

template <class Record>
void* pack_lanes(const void* lanes, Py_ssize_t count) noexcept {
  void* room = PyMem_RawMalloc(sizeof(PackedLanes<Record>));
  if (room == nullptr) return nullptr;
  auto* packed = new (room) PackedLanes<Record>();
  if (packed->pack(static_cast<const Record*>(lanes), count)) return packed;
  std::destroy_at(packed);
  PyMem_RawFree(room);
  return nullptr;
}

template <class Record>
std::uint64_t lane_warmup_left(const void* lane) noexcept {
  return warmup_left(*static_cast<const Record*>(lane));
}

template <class Record>
Py_ssize_t count_steady_lanes(const void* lanes, Py_ssize_t count) noexcept {
  const Record* records = static_cast<const Record*>(lanes);
  return std::count_if(records, records + count, [](const Record& r) { return is_steady(r); });
}

template <class Record>
void unpack_lanes(void* packed, void* lanes) noexcept {
  auto* fields = static_cast<PackedLanes<Record>*>(packed);
  fields->unpack(static_cast<Record*>(lanes));
  std::destroy_at(fields);
  PyMem_RawFree(packed);
}

template <class Record>
void step_packed_lanes(void* packed, void* lanes, const StepColumns& inputs,
                       const unsigned char* where, void* answers) noexcept {
  static_cast<PackedLanes<Record>*>(packed)->step(
      static_cast<Record*>(lanes), inputs, reader<Record>(inputs), where,
      static_cast<typename RowOf<Record>::Cell*>(answers));
}

template <class Record>
inline constexpr bool kPacks = SideBySide<Record>;

template <class Record>
constexpr LaneKind make_kind() noexcept {
  static_assert(alignof(Record) <= alignof(std::max_align_t),
                "lanes lie in memory aligned for any scalar");
  static_assert(names_its_parts<Record>(),
                "a class answering a tuple names its parts in PythonClass<>::kAnswers");
  LaneKind kind{PythonClass<Record>::kName,
                checkpoint::kStoredNameView<Record>,
                sizeof(Record),
                kInputKind<Record>,
                RowOf<Record>::kColumns,
                kGivesCodes<Record>,
                kReadsOpen<Record>,
                kReadsClose<Record>,
                kReadsVolume<Record>,
                kWantsDenseInputs<Record>,
                &destroy_lane<Record>,
                &relocate_lane<Record>,
                &reset_lane<Record>,
                &store_lane<Record>,
                &load_lane<Record>,
                &step_lanes<Record>,
                &run_lanes<Record>,
                nullptr,
                &lane_warmup_left<Record>,
                &count_steady_lanes<Record>,
                nullptr,
                nullptr};
  if constexpr (kPacks<Record>) {
    kind.pack = &pack_lanes<Record>;
    kind.unpack = &unpack_lanes<Record>;
    kind.step_packed = &step_packed_lanes<Record>;
  }
  return kind;
}

template <class Record>
inline constexpr LaneKind kKind = make_kind<Record>();

// The kind of the class a stored form names; null when no streamed class
// has that name.
template <class... Records>
const LaneKind* kind_named(std::string_view name, ClassList<Records...>) noexcept {
  const LaneKind* kind = nullptr;
  (void)((name == checkpoint::kStoredNameView<Records> ? (kind = &kKind<Records>, true) : false) ||
         ...);
  return kind;
}

// ---------------------------------------------------------------------------
// The Lanes object.

struct Lanes {
  PyObject_HEAD
  const LaneKind* kind;
  unsigned char* records;
  Py_ssize_t count;
  Py_ssize_t capacity;
  // The stored form of a new lane (what add() appends), and of a reset
  // lane, which a reset copy of every lane set must match: the check that
  // it is of the same class and parameters.
  PyObject* fresh;
  PyObject* reset_form;
  AccessFlag access;
  // The lanes' fields side by side while steps run on them (null when the
  // records hold their own): whatever else reads or changes the lanes
  // settles them back into the records first.
  void* packed;
};

PyTypeObject* lanes_class = nullptr;

void* lane_at(const Lanes& lanes, Py_ssize_t i) noexcept {
  return lanes.records + static_cast<std::size_t>(i) * lanes.kind->size;
}

void settle(Lanes& lanes) noexcept {
  if (lanes.packed == nullptr) return;
  lanes.kind->unpack(lanes.packed, lanes.records);
  lanes.packed = nullptr;
}

// The stored form of a record as bytes.
PyObject* stored_bytes(const LaneKind& kind, const void* lane) noexcept {
  const std::size_t size = kind.store(lane, nullptr);
  PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (bytes == nullptr) return nullptr;
  kind.store(lane, reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes)));
  return bytes;
}

// A stored form read from a bytes-like object, kept pinned while read.
class StoredForm {
 public:
  StoredForm() noexcept = default;
  StoredForm(const StoredForm&) = delete;
  StoredForm& operator=(const StoredForm&) = delete;
  ~StoredForm() {
    if (pinned_) PyBuffer_Release(&view_);
  }

  // Reads the header; false with ValueError or TypeError set.
  bool take(PyObject* data) noexcept {
    if (PyObject_GetBuffer(data, &view_, PyBUF_SIMPLE) < 0) return false;
    pinned_ = true;
    checkpoint::Fault fault;
    if (!checkpoint::read_header(static_cast<const unsigned char*>(view_.buf),
                                 static_cast<std::size_t>(view_.len), header, fault)) {
      PyErr_SetString(PyExc_ValueError, fault.text);
      return false;
    }
    return true;
  }

  checkpoint::Header header{};

 private:
  Py_buffer view_{};
  bool pinned_ = false;
};

// A record of `kind` built into raw memory from `stored`, after checking it
// is of that class and, by its reset copy, of the lanes' parameters; false
// with ValueError set (saying which of the two differs) and nothing built.
bool load_checked(const Lanes& lanes, PyObject* stored, void* into) noexcept {
  const LaneKind& kind = *lanes.kind;
  StoredForm form;
  if (!form.take(stored)) return false;
  if (form.header.class_name != kind.stored_name) {
    PyErr_Format(PyExc_ValueError, "expected a %s, got a %.*s", kind.name,
                 static_cast<int>(form.header.class_name.size()), form.header.class_name.data());
    return false;
  }
  if (!kind.load(into, form.header)) return false;
  // A copy, reset, shows the parameters alone.
  void* copy = PyMem_RawMalloc(kind.size);
  if (copy == nullptr) {
    kind.destroy(into);
    PyErr_NoMemory();
    return false;
  }
  bool same = false;
  if (kind.load(copy, form.header)) {
    kind.reset(copy);
    const std::size_t size = kind.store(copy, nullptr);
    const auto expected = static_cast<std::size_t>(PyBytes_GET_SIZE(lanes.reset_form));
    if (size == expected) {
      unsigned char* written = static_cast<unsigned char*>(PyMem_RawMalloc(size));
      if (written != nullptr) {
        kind.store(copy, written);
        same = std::memcmp(written, PyBytes_AS_STRING(lanes.reset_form), size) == 0;
        PyMem_RawFree(written);
      } else {
        PyErr_NoMemory();
      }
    }
    kind.destroy(copy);
  }
  PyMem_RawFree(copy);
  if (same) return true;
  kind.destroy(into);
  if (!PyErr_Occurred()) {
    PyErr_Format(PyExc_ValueError,
                 "expected a %s with the universe's parameters; this one's differ", kind.name);
  }
  return false;
}

// Room for one more lane; false with MemoryError set.
bool reserve_one(Lanes& lanes) noexcept {
  if (lanes.count < lanes.capacity) return true;
  const Py_ssize_t capacity = std::max<Py_ssize_t>(4, lanes.capacity * 2);
  auto* records = static_cast<unsigned char*>(
      PyMem_RawMalloc(static_cast<std::size_t>(capacity) * lanes.kind->size));
  if (records == nullptr) {
    PyErr_NoMemory();
    return false;
  }
  for (Py_ssize_t i = 0; i < lanes.count; ++i) {
    lanes.kind->relocate(records + static_cast<std::size_t>(i) * lanes.kind->size,
                         lane_at(lanes, i));
  }
  PyMem_RawFree(lanes.records);
  lanes.records = records;
  lanes.capacity = capacity;
  return true;
}

// Appends a lane built from `stored`, checked as load_checked checks it.
bool append_lane(Lanes& lanes, PyObject* stored) noexcept {
  if (!reserve_one(lanes)) return false;
  if (!load_checked(lanes, stored, lane_at(lanes, lanes.count))) return false;
  ++lanes.count;
  return true;
}

// Holds the lanes for a call; false with the access error raised.
bool hold_lanes(Lanes& lanes, Borrow& borrow, Access access) noexcept {
  borrow = Borrow(lanes.access, access);
  if (borrow) [[likely]] return true;
  raise_access_error(reinterpret_cast<PyObject*>(&lanes), lanes.access, access);
  return false;
}

// A lane index in [0, count); false with IndexError set.
bool lane_index(const Lanes& lanes, PyObject* object, Py_ssize_t& index) noexcept {
  index = PyNumber_AsSsize_t(object, PyExc_IndexError);
  if (index == -1 && PyErr_Occurred()) return false;
  if (index < 0 || index >= lanes.count) {
    PyErr_Format(PyExc_IndexError, "lane %zd is out of range for %zd lanes", index, lanes.count);
    return false;
  }
  return true;
}

// A boolean mask of one flag per lane, read in place: a contiguous
// one-dimensional buffer of bools (numpy's bool).
class Mask {
 public:
  Mask() noexcept = default;
  Mask(const Mask&) = delete;
  Mask& operator=(const Mask&) = delete;
  ~Mask() {
    if (pinned_) PyBuffer_Release(&view_);
  }

  // None for every lane; false with TypeError or ValueError set.
  bool take(PyObject* object, Py_ssize_t lanes) noexcept {
    if (object == Py_None) return true;
    if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) return false;
    pinned_ = true;
    if (view_.ndim != 1 || view_.itemsize != 1 || !is_native_format(view_.format, '?')) {
      PyErr_Format(PyExc_TypeError, "argument 'where': expected a one-dimensional array of bools, "
                                    "got '%T'", object);
      return false;
    }
    if (view_.len != lanes) {
      PyErr_Format(PyExc_ValueError, "argument 'where': expected %zd flags, one per symbol, got %zd",
                   lanes, view_.len);
      return false;
    }
    flags_ = static_cast<const unsigned char*>(view_.buf);
    return true;
  }
  const unsigned char* flags() const noexcept { return flags_; }

 private:
  Py_buffer view_{};
  bool pinned_ = false;
  const unsigned char* flags_ = nullptr;
};

// A (steps, lanes) float64 matrix read in place: a two-dimensional buffer
// of doubles in this machine's order, any strides.
class Table {
 public:
  Table() noexcept = default;
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  ~Table() {
    if (pinned_) PyBuffer_Release(&view_);
  }

  bool take(PyObject* object, const char* parameter, Py_ssize_t lanes) noexcept {
    if (PyObject_GetBuffer(object, &view_, PyBUF_STRIDES | PyBUF_FORMAT) < 0) return false;
    pinned_ = true;
    if (view_.ndim != 2 || view_.itemsize != 8 || !is_native_format(view_.format, 'd')) {
      PyErr_Format(PyExc_TypeError,
                   "argument '%s': expected a two-dimensional float64 array, got '%T'", parameter,
                   object);
      return false;
    }
    if (view_.shape[1] != lanes) {
      PyErr_Format(PyExc_ValueError,
                   "argument '%s': expected one column per symbol, %zd, got %zd columns",
                   parameter, lanes, view_.shape[1]);
      return false;
    }
    return true;
  }
  Py_ssize_t steps() const noexcept { return view_.shape[0]; }
  Matrix matrix() const noexcept {
    return Matrix{static_cast<const char*>(view_.buf), view_.strides[0], view_.strides[1]};
  }

 private:
  Py_buffer view_{};
  bool pinned_ = false;
};

// TypeError: the universe's class takes another kind of input.
[[gnu::cold]] void refuse_step_kind(const LaneKind& kind) noexcept {
  const char* takes = kind.input == InputKind::kBar    ? "bars; use next_bars() or feed_bars()"
                      : kind.input == InputKind::kPair ? "pairs; use next(x, y) or feed(x, y)"
                                                       : "one value; use next(values) or feed(values)";
  PyErr_Format(PyExc_TypeError, "a universe of %s takes %s", kind.name, takes);
}

bool refuse_unless_input(const Lanes& lanes, InputKind input) noexcept {
  if (lanes.kind->input == input) return true;
  refuse_step_kind(*lanes.kind);
  return false;
}

bool refuse_warmup_codes(const LaneKind& kind, bool blank_warmup) noexcept {
  if (!kind.codes || !blank_warmup) return false;
  PyErr_Format(PyExc_ValueError,
               "argument 'warmup': %s answers int8 signal codes, which have no NaN; use "
               "warmup='value'",
               kind.name);
  return true;
}

// One step with the inputs converted: the answers, the lock released for
// many lanes (the lanes held exclusively meanwhile).
PyObject* step_with(Lanes& lanes, const StepColumns& columns, const Mask& mask) noexcept {
  const LaneKind& kind = *lanes.kind;
  Answers answers;
  if (!answers.create(lanes.count, kind.columns, kind.codes)) return nullptr;
  void* cells = answers.cells<void>();
  PyThreadState* saved = lanes.count >= kReleaseLockFrom ? PyEval_SaveThread() : nullptr;
  if (kind.pack != nullptr && lanes.packed == nullptr && lanes.count > 0) {
    lanes.packed = kind.pack(lanes.records, lanes.count);
  }
  if (lanes.packed != nullptr) {
    kind.step_packed(lanes.packed, lanes.records, columns, mask.flags(), cells);
  } else {
    kind.step(lanes.records, lanes.count, columns, mask.flags(), cells);
  }
  if (saved != nullptr) PyEval_RestoreThread(saved);
  return answers.release();
}

bool take_lane_values(Values& values, PyObject* object, const char* parameter,
                      Py_ssize_t lanes) noexcept {
  if (!values.take(object, parameter)) return false;
  if (values.size() == lanes) return true;
  PyErr_Format(PyExc_ValueError, "argument '%s': expected %zd values, one per symbol, got %zd",
               parameter, lanes, values.size());
  return false;
}

// next(values, where) / next(x, y, where) / next(open, high, low, close,
// volume, where): every column given is taken (None where a bar column is
// left out).
PyObject* step_columns(Lanes& lanes, InputKind input, PyObject* const* given, std::size_t count,
                       const char* const* names, PyObject* where) noexcept {
  if (!refuse_unless_input(lanes, input)) return nullptr;
  Borrow borrow;
  if (!hold_lanes(lanes, borrow, Access::kExclusive)) return nullptr;
  std::array<Values, 5> values;
  StepColumns columns{};
  for (std::size_t c = 0; c < count; ++c) {
    if (given[c] == Py_None) continue;
    if (!take_lane_values(values[c], given[c], names[c], lanes.count) ||
        !values[c].gather(columns[c]))
      return nullptr;
  }
  Mask mask;
  if (!mask.take(where, lanes.count)) return nullptr;
  return step_with(lanes, columns, mask);
}

// A run of a class whose lanes lie side by side: each row of the matrices
// is a step of every lane at once, and its answers fill a row of the
// answers. False, with nothing run, for any other class, or when memory
// for the layout of lanes already steady is short; and for a class whose
// own batch path reads blocks of inputs (a window's extremes), which runs
// its own way.
bool run_side_by_side(Lanes& lanes, Py_ssize_t steps, const RunMatrices& matrices,
                      bool blank_warmup, unsigned char* answers) noexcept {
  const LaneKind& kind = *lanes.kind;
  if (kind.pack == nullptr || kind.wants_dense_inputs || lanes.count == 0) return false;
  // A matrix whose rows are not dense (a column-major one, as a polars
  // frame gives) is copied a block of rows at a time into dense rows: the
  // transpose of a tile, each of its lanes read as a row.
  constexpr Py_ssize_t kRowBlock = 16;
  const Py_ssize_t block_cells = kRowBlock * lanes.count;
  std::size_t strided = 0;
  for (const Matrix& matrix : matrices) {
    strided += matrix.data != nullptr && !matrix.dense_rows();
  }
  double* blocks = nullptr;
  if (strided != 0) {
    blocks = static_cast<double*>(
        PyMem_RawMalloc(strided * static_cast<std::size_t>(block_cells) * sizeof(double)));
    if (blocks == nullptr) return false;
  }
  std::uint64_t* left = nullptr;
  if (blank_warmup) {
    left = warmups_left(lanes.count,
                        [&](Py_ssize_t j) { return kind.warmup_left(lane_at(lanes, j)); });
    if (left == nullptr) {
      PyMem_RawFree(blocks);
      return false;
    }
  }
  PyThreadState* saved = steps * lanes.count >= kReleaseLockFrom ? PyEval_SaveThread() : nullptr;
  // Lanes still warming up (all of a new universe's) step as records, each
  // a lane at a time, which they would do laid out too, and with their
  // fields copied out and back: the fields are laid out once at least half
  // the lanes are steady. A layout that then finds memory short leaves the
  // records to step as they are.
  bool may_pack = lanes.packed == nullptr;
  const auto pack_once_steady = [&] {
    if (!may_pack || 2 * kind.count_steady(lanes.records, lanes.count) < lanes.count) return;
    lanes.packed = kind.pack(lanes.records, lanes.count);
    may_pack = false;
  };
  pack_once_steady();
  // Lanes already steady that find memory short for their layout run
  // nothing here.
  const bool runs = lanes.packed != nullptr || may_pack;
  const std::size_t row_bytes =
      static_cast<std::size_t>(lanes.count * kind.columns) * (kind.codes ? 1 : sizeof(double));
  std::array<double*, 5> block_of{};
  for (std::size_t c = 0, b = 0; c < matrices.size(); ++c) {
    const Matrix& matrix = matrices[c];
    if (matrix.data != nullptr && !matrix.dense_rows()) {
      block_of[c] = blocks + block_cells * static_cast<Py_ssize_t>(b++);
    }
  }
  for (Py_ssize_t from = 0; runs && from < steps; from += kRowBlock) {
    const Py_ssize_t rows = std::min(kRowBlock, steps - from);
    for (std::size_t c = 0; c < matrices.size(); ++c) {
      if (block_of[c] == nullptr) continue;
      const Matrix& matrix = matrices[c];
      const Matrix lanes_as_rows{matrix.data, matrix.lane_stride, matrix.step_stride};
      gather_tile(lanes_as_rows, 0, lanes.count, from, rows, lanes.count, block_of[c]);
    }
    for (Py_ssize_t t = from; t < from + rows; ++t) {
      StepColumns columns;
      for (std::size_t c = 0; c < columns.size(); ++c) {
        const Matrix& matrix = matrices[c];
        columns[c] = block_of[c] != nullptr
                         ? Column{reinterpret_cast<const char*>(block_of[c] +
                                                                (t - from) * lanes.count),
                                  sizeof(double)}
                         : Column{matrix.data == nullptr ? nullptr
                                                         : matrix.data + t * matrix.step_stride,
                                  matrix.lane_stride};
      }
      unsigned char* const row = answers + t * row_bytes;
      if (lanes.packed != nullptr) {
        kind.step_packed(lanes.packed, lanes.records, columns, nullptr, row);
        continue;
      }
      kind.step(lanes.records, lanes.count, columns, nullptr, row);
      pack_once_steady();
    }
  }
  if (left != nullptr) {
    if (runs) {
      blank_warmups(left, lanes.count, steps, kind.columns, reinterpret_cast<double*>(answers));
    } else {
      PyMem_RawFree(left);
    }
  }
  if (saved != nullptr) PyEval_RestoreThread(saved);
  PyMem_RawFree(blocks);
  return runs;
}

PyObject* run_columns(Lanes& lanes, InputKind input, PyObject* const* given, std::size_t count,
                      const char* const* names, PyObject* warmup) noexcept {
  if (!refuse_unless_input(lanes, input)) return nullptr;
  const int blank_warmup = parse_warmup(warmup);
  if (blank_warmup < 0 || refuse_warmup_codes(*lanes.kind, blank_warmup)) return nullptr;
  Borrow borrow;
  if (!hold_lanes(lanes, borrow, Access::kExclusive)) return nullptr;
  settle(lanes);
  std::array<Table, 5> tables;
  RunMatrices matrices{};
  Py_ssize_t steps = -1;
  for (std::size_t c = 0; c < count; ++c) {
    if (given[c] == Py_None) continue;
    if (!tables[c].take(given[c], names[c], lanes.count)) return nullptr;
    if (steps >= 0 && tables[c].steps() != steps) {
      PyErr_Format(PyExc_ValueError, "argument '%s': expected %zd rows, as the others have, got %zd",
                   names[c], steps, tables[c].steps());
      return nullptr;
    }
    steps = tables[c].steps();
    // A column the class never reads is checked, but not gathered.
    const bool unread = input == InputKind::kBar &&
                        ((c == kOpenColumn && !lanes.kind->reads_open) ||
                         (c == kCloseColumn && !lanes.kind->reads_close) ||
                         (c == kVolumeColumn && !lanes.kind->reads_volume));
    if (!unread) matrices[c] = tables[c].matrix();
  }
  const LaneKind& kind = *lanes.kind;
  Answers answers;
  if (!answers.create_shaped({steps, lanes.count, kind.columns}, kind.codes)) return nullptr;
  if (run_side_by_side(lanes, steps, matrices, blank_warmup != 0, answers.cells<unsigned char>())) {
    return answers.release();
  }
  PyThreadState* saved =
      steps * lanes.count >= kReleaseLockFrom ? PyEval_SaveThread() : nullptr;
  const bool ran = kind.run(lanes.records, lanes.count, steps, matrices, blank_warmup != 0,
                            answers.cells<void>());
  if (saved != nullptr) PyEval_RestoreThread(saved);
  if (!ran) return PyErr_NoMemory();
  return answers.release();
}

Lanes& lanes_of(PyObject* self) noexcept { return *reinterpret_cast<Lanes*>(self); }

bool arity(const char* name, Py_ssize_t nargs, Py_ssize_t wanted) noexcept {
  if (nargs == wanted) return true;
  PyErr_Format(PyExc_TypeError, "Lanes.%s() takes %zd arguments (%zd given)", name, wanted, nargs);
  return false;
}

constexpr std::array<const char*, 5> kBarNames{"open", "high", "low", "close", "volume"};
constexpr std::array<const char*, 2> kPairNames{"x", "y"};
constexpr std::array<const char*, 1> kValueNames{"values"};

// next(values, where)
PyObject* lanes_next(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (!arity("next", nargs, 2)) return nullptr;
  return step_columns(lanes_of(self), InputKind::kFloat, args, 1, kValueNames.data(), args[1]);
}
// next_pairs(x, y, where)
PyObject* lanes_next_pairs(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (!arity("next_pairs", nargs, 3)) return nullptr;
  return step_columns(lanes_of(self), InputKind::kPair, args, 2, kPairNames.data(), args[2]);
}

// Refuses bar columns that leave out one the class reads.
bool has_bar_columns(const LaneKind& kind, PyObject* const* args, const char* entry) noexcept {
  if (kind.input != InputKind::kBar) return true;
  const char* missing = kind.reads_open && args[0] == Py_None     ? "open"
                        : kind.reads_volume && args[4] == Py_None ? "volume"
                                                                  : nullptr;
  if (missing == nullptr) return true;
  refuse_missing_column(kind.name, missing, entry);
  return false;
}

// next_bars(open, high, low, close, volume, where)
PyObject* lanes_next_bars(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (!arity("next_bars", nargs, 6)) return nullptr;
  Lanes& lanes = lanes_of(self);
  if (!has_bar_columns(*lanes.kind, args, "next_bars")) return nullptr;
  return step_columns(lanes, InputKind::kBar, args, 5, kBarNames.data(), args[5]);
}
// feed(values, warmup)
PyObject* lanes_feed(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (!arity("feed", nargs, 2)) return nullptr;
  return run_columns(lanes_of(self), InputKind::kFloat, args, 1, kValueNames.data(), args[1]);
}
// feed_pairs(x, y, warmup)
PyObject* lanes_feed_pairs(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (!arity("feed_pairs", nargs, 3)) return nullptr;
  return run_columns(lanes_of(self), InputKind::kPair, args, 2, kPairNames.data(), args[2]);
}
// feed_bars(open, high, low, close, volume, warmup)
PyObject* lanes_feed_bars(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (!arity("feed_bars", nargs, 6)) return nullptr;
  Lanes& lanes = lanes_of(self);
  if (!has_bar_columns(*lanes.kind, args, "feed_bars")) return nullptr;
  return run_columns(lanes, InputKind::kBar, args, 5, kBarNames.data(), args[5]);
}

// state(i): lane i's stored form, as barworks.state gives an object's.
PyObject* lanes_state(PyObject* self, PyObject* index) noexcept {
  Lanes& lanes = lanes_of(self);
  Borrow borrow;
  if (!hold_lanes(lanes, borrow, Access::kShared)) return nullptr;
  Py_ssize_t i;
  if (!lane_index(lanes, index, i)) return nullptr;
  settle(lanes);
  return stored_bytes(*lanes.kind, lane_at(lanes, i));
}

// set(i, stored): lane i becomes the record `stored` holds.
PyObject* lanes_set(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (!arity("set", nargs, 2)) return nullptr;
  Lanes& lanes = lanes_of(self);
  Borrow borrow;
  if (!hold_lanes(lanes, borrow, Access::kExclusive)) return nullptr;
  Py_ssize_t i;
  if (!lane_index(lanes, args[0], i)) return nullptr;
  settle(lanes);
  if (!reserve_one(lanes)) return nullptr;
  // Built beside the lanes first, so a refused one leaves lane i as it was.
  void* spare = lane_at(lanes, lanes.count);
  if (!load_checked(lanes, args[1], spare)) return nullptr;
  lanes.kind->destroy(lane_at(lanes, i));
  lanes.kind->relocate(lane_at(lanes, i), spare);
  Py_RETURN_NONE;
}

// append(stored or None): a lane at the end, a new one for None.
PyObject* lanes_append(PyObject* self, PyObject* stored) noexcept {
  Lanes& lanes = lanes_of(self);
  Borrow borrow;
  if (!hold_lanes(lanes, borrow, Access::kExclusive)) return nullptr;
  settle(lanes);
  if (!append_lane(lanes, stored == Py_None ? lanes.fresh : stored)) return nullptr;
  Py_RETURN_NONE;
}

// remove(i): lane i leaves; those after it move down one, untouched.
PyObject* lanes_remove(PyObject* self, PyObject* index) noexcept {
  Lanes& lanes = lanes_of(self);
  Borrow borrow;
  if (!hold_lanes(lanes, borrow, Access::kExclusive)) return nullptr;
  Py_ssize_t i;
  if (!lane_index(lanes, index, i)) return nullptr;
  settle(lanes);
  lanes.kind->destroy(lane_at(lanes, i));
  for (Py_ssize_t j = i + 1; j < lanes.count; ++j) {
    lanes.kind->relocate(lane_at(lanes, j - 1), lane_at(lanes, j));
  }
  --lanes.count;
  Py_RETURN_NONE;
}

PyObject* lanes_input(PyObject* self, void*) noexcept {
  const InputKind input = lanes_of(self).kind->input;
  return PyUnicode_FromString(input == InputKind::kBar    ? "bar"
                              : input == InputKind::kPair ? "pair"
                                                          : "float");
}

PyObject* lanes_fresh(PyObject* self, void*) noexcept {
  return Py_NewRef(lanes_of(self).fresh);
}

Py_ssize_t lanes_length(PyObject* self) noexcept { return lanes_of(self).count; }

void lanes_dealloc(PyObject* self) noexcept {
  Lanes& lanes = lanes_of(self);
  PyTypeObject* type = Py_TYPE(self);
  if (lanes.kind != nullptr) {
    settle(lanes);
    for (Py_ssize_t i = 0; i < lanes.count; ++i) lanes.kind->destroy(lane_at(lanes, i));
  }
  PyMem_RawFree(lanes.records);
  Py_XDECREF(lanes.fresh);
  Py_XDECREF(lanes.reset_form);
  type->tp_free(self);
  Py_DECREF(type);
}

PyMethodDef lanes_methods[] = {
    {"next", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&lanes_next)),
     METH_FASTCALL, "next($self, values, where, /)\n--\n\nOne step of every lane."},
    {"next_pairs", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&lanes_next_pairs)),
     METH_FASTCALL, "next_pairs($self, x, y, where, /)\n--\n\nOne step of every lane."},
    {"next_bars", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&lanes_next_bars)),
     METH_FASTCALL,
     "next_bars($self, open, high, low, close, volume, where, /)\n--\n\nOne step of every lane."},
    {"feed", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&lanes_feed)),
     METH_FASTCALL, "feed($self, values, warmup, /)\n--\n\nEvery row of a (steps, lanes) matrix."},
    {"feed_pairs", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&lanes_feed_pairs)),
     METH_FASTCALL, "feed_pairs($self, x, y, warmup, /)\n--\n\nEvery row of two matrices."},
    {"feed_bars", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&lanes_feed_bars)),
     METH_FASTCALL,
     "feed_bars($self, open, high, low, close, volume, warmup, /)\n--\n\nEvery row of the "
     "matrices."},
    {"state", &lanes_state, METH_O, "state($self, i, /)\n--\n\nLane i's stored form."},
    {"set", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&lanes_set)),
     METH_FASTCALL, "set($self, i, stored, /)\n--\n\nLane i becomes the stored record."},
    {"append", &lanes_append, METH_O,
     "append($self, stored, /)\n--\n\nA lane at the end: the stored record, or a new one."},
    {"remove", &lanes_remove, METH_O, "remove($self, i, /)\n--\n\nLane i leaves."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef lanes_getset[] = {
    {"input", &lanes_input, nullptr, "What a step takes: 'float', 'pair' or 'bar'.", nullptr},
    {"fresh", &lanes_fresh, nullptr, "The stored form of a new lane.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot lanes_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&lanes_dealloc)},
    {Py_tp_methods, lanes_methods},
    {Py_tp_getset, lanes_getset},
    {Py_sq_length, reinterpret_cast<void*>(&lanes_length)},
    {Py_tp_doc, const_cast<char*>("The records of one class, one per symbol, side by side.")},
    {0, nullptr},
};

PyType_Spec lanes_spec = {
    "barworks._native.Lanes",
    static_cast<int>(sizeof(Lanes)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    lanes_slots,
};

}  // namespace

bool add_lanes_class(PyObject* module) noexcept {
  PyObject* type = PyType_FromModuleAndSpec(module, &lanes_spec, nullptr);
  if (type == nullptr) return false;
  if (PyModule_AddObjectRef(module, "Lanes", type) < 0) {
    Py_DECREF(type);
    return false;
  }
  lanes_class = reinterpret_cast<PyTypeObject*>(type);
  return true;
}

void forget_lanes_class() noexcept { lanes_class = nullptr; }

PyObject* new_lanes(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "lanes() takes 2 arguments (%zd given)", nargs);
    return nullptr;
  }
  const Py_ssize_t count = PyLong_AsSsize_t(args[1]);
  if (count == -1 && PyErr_Occurred()) return nullptr;
  if (count < 0) {
    PyErr_SetString(PyExc_ValueError, "a universe holds no fewer than 0 symbols");
    return nullptr;
  }
  const LaneKind* kind = nullptr;
  {
    StoredForm form;
    if (!form.take(args[0])) return nullptr;
    kind = kind_named(form.header.class_name, Dispatched{});
    if (kind == nullptr) {
      PyErr_Format(PyExc_TypeError, "a universe holds an indicator or strategy class, not %.*s",
                   static_cast<int>(form.header.class_name.size()),
                   form.header.class_name.data());
      return nullptr;
    }
  }
  PyObject* object = lanes_class->tp_alloc(lanes_class, 0);
  if (object == nullptr) return nullptr;
  Lanes& lanes = lanes_of(object);
  lanes.kind = kind;
  lanes.records = nullptr;
  lanes.count = 0;
  lanes.capacity = 0;
  lanes.fresh = Py_NewRef(args[0]);
  lanes.reset_form = nullptr;
  lanes.packed = nullptr;
  new (&lanes.access) AccessFlag(kFree);
  // The reset form comes from the prototype itself, built once here.
  void* prototype = PyMem_RawMalloc(kind->size);
  if (prototype == nullptr) {
    Py_DECREF(object);
    return PyErr_NoMemory();
  }
  bool built = false;
  {
    StoredForm form;
    if (form.take(args[0]) && kind->load(prototype, form.header)) {
      kind->reset(prototype);
      lanes.reset_form = stored_bytes(*kind, prototype);
      kind->destroy(prototype);
      built = lanes.reset_form != nullptr;
    }
  }
  PyMem_RawFree(prototype);
  if (!built) {
    Py_DECREF(object);
    return nullptr;
  }
  // Lanes built one after another, so their windows lie close together.
  auto* records = static_cast<unsigned char*>(
      PyMem_RawMalloc(std::max<std::size_t>(1, static_cast<std::size_t>(count) * kind->size)));
  if (records == nullptr) {
    Py_DECREF(object);
    return PyErr_NoMemory();
  }
  lanes.records = records;
  lanes.capacity = count;
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (!append_lane(lanes, lanes.fresh)) {
      Py_DECREF(object);
      return nullptr;
    }
  }
  return object;
}

}  // namespace barworks::companion
