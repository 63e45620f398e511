// Inputs of a batch: a float64 buffer or Arrow column read where it lies
// for the whole run, or the values of any other numbers or the items of a
// sequence converted one by one as next converts its argument.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>
#include <optional>

#include "../lanes.h"
#include "arrow.h"

namespace barworks::companion {

// A run of doubles, possibly strided, possibly unaligned (a memoryview cast
// from bytes at an odd offset): read through memcpy, which compiles to a
// plain load.
struct Column {
  const char* data = nullptr;
  Py_ssize_t stride = sizeof(double);

  double operator[](Py_ssize_t i) const noexcept {
    double value;
    std::memcpy(&value, data + i * stride, sizeof value);
    return value;
  }
  // Values i and i + 1 side by side.
  DoublePair pair(Py_ssize_t i) const noexcept { return DoublePair{(*this)[i], (*this)[i + 1]}; }
  bool dense() const noexcept { return stride == static_cast<Py_ssize_t>(sizeof(double)); }
};

// A run of doubles one after another, possibly unaligned: with the stride
// known, a loop over it vectorizes, and a pair of neighbours is one load.
struct DenseColumn {
  const char* data = nullptr;

  double operator()(Py_ssize_t i) const noexcept {
    double value;
    std::memcpy(&value, data + i * static_cast<Py_ssize_t>(sizeof value), sizeof value);
    return value;
  }
  // As Column reads, so that a loop is written once over either.
  double operator[](Py_ssize_t i) const noexcept { return (*this)(i); }
  DoublePair pair(Py_ssize_t i) const noexcept {
    DoublePair both;
    std::memcpy(&both, data + i * static_cast<Py_ssize_t>(sizeof(double)), sizeof both);
    return both;
  }
};

// Reads a column as a batch steps through it; offers the dense reading
// where the column is dense.
struct ColumnReader {
  Column column;

  double operator()(Py_ssize_t i) const noexcept { return column[i]; }
  std::optional<DenseColumn> dense() const noexcept {
    if (!column.dense()) return std::nullopt;
    return DenseColumn{column.data};
  }
};

// A stretch of a column: `size` values from where `column` starts.
struct ColumnChunk {
  Column column;
  Py_ssize_t size = 0;
};

// Owns what a Column reads: an exported buffer, held (and so kept from
// being resized or freed) until destruction, the chunks of an Arrow column,
// or a converted copy.
class Values {
 public:
  Values() noexcept = default;
  Values(const Values&) = delete;
  Values& operator=(const Values&) = delete;
  ~Values();

  // Pins a one-dimensional float64 buffer of `object` or the chunks of a
  // float64 Arrow column free of nulls, converts one of other numbers
  // (integers, bools, float32, the other byte order, Arrow decimals) or the
  // items of a sequence. An Arrow null is refused or read as NaN as `nulls`
  // says. False with TypeError or ValueError naming `parameter` (and the
  // index of a bad item or null) set.
  bool take(PyObject* object, const char* parameter, Nulls nulls = Nulls::kRefuse) noexcept;
  // Room for `size` converted doubles; false with MemoryError set.
  bool allocate(Py_ssize_t size) noexcept;
  double* owned() noexcept { return owned_; }

  Py_ssize_t size() const noexcept { return size_; }
  // The stretches the values lie in, in order: one, save for an Arrow
  // column of several chunks read in place.
  Py_ssize_t chunk_count() const noexcept {
    return arrow_in_place_ ? arrow_.chunk_count() : 1;
  }
  ColumnChunk chunk(Py_ssize_t index) const noexcept;
  // The values as one Column, for a caller that reads them by index: the
  // chunks of an Arrow column are first copied into one. False with
  // MemoryError set.
  bool gather(Column& column) noexcept;

 private:
  bool pin(PyObject* object, const char* parameter) noexcept;
  bool convert(PyObject* object, const char* parameter) noexcept;
  bool take_arrow(const char* parameter, Nulls nulls) noexcept;

  Py_buffer view_{};
  bool pinned_ = false;
  double* owned_ = nullptr;
  Py_ssize_t size_ = 0;
  Column column_;
  ArrowColumn arrow_;
  bool arrow_in_place_ = false;
};

// A number buffer's cells as the struct module describes them: a byte-order
// prefix, then one code whose size the exporter gives as itemsize.
struct CellFormat {
  char code = 0;
  bool swapped = false;  // stored in the other byte order than this machine's
};

// One cell of a number format (float64, float32, float16, long double,
// bool, integers of 1 to 8 bytes), converted as next converts the Python
// number it stands for: integers rounded to the nearest double, bools as 0
// or 1, narrower floats exactly.
double read_cell(const char* at, Py_ssize_t size, CellFormat cell) noexcept;

// Whether a buffer's struct format is the one-letter `code` in this
// machine's byte order ("d", "<d", "=d" for float64 here).
bool is_native_format(const char* format, char code) noexcept;

// The columns of a bar-fed run; open and volume only where given.
struct BarColumns {
  Values open, high, low, close, volume;
  bool has_open = false;
  bool has_volume = false;
};

// Converts a sequence of bars (Bar, or objects with numeric open, high, low,
// close and volume attributes) into the five columns; false with an
// exception set.
bool take_bars(PyObject* bars, BarColumns& columns) noexcept;

// Raises the pending conversion error of item `index` of `parameter` as the
// frame raises an argument's: "argument '<parameter>[<index>]': ...".
[[gnu::cold]] void raise_item_error(const char* parameter, Py_ssize_t index) noexcept;

}  // namespace barworks::companion
