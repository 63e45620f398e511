// Inputs of a batch: a float64 buffer pinned for the whole run, or the items
// of a sequence converted one by one as next converts its argument.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>
#include <optional>

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
};

// A run of doubles one after another, possibly unaligned: with the stride
// known, a loop over it vectorizes.
struct DenseColumn {
  const char* data = nullptr;

  double operator()(Py_ssize_t i) const noexcept {
    double value;
    std::memcpy(&value, data + i * static_cast<Py_ssize_t>(sizeof value), sizeof value);
    return value;
  }
};

// Reads a column as a batch steps through it; offers the dense reading
// where the column is dense.
struct ColumnReader {
  Column column;

  double operator()(Py_ssize_t i) const noexcept { return column[i]; }
  std::optional<DenseColumn> dense() const noexcept {
    if (column.stride != static_cast<Py_ssize_t>(sizeof(double))) return std::nullopt;
    return DenseColumn{column.data};
  }
};

// Owns what a Column reads: either an exported buffer, held (and so kept
// from being resized or freed) until destruction, or a converted copy.
class Values {
 public:
  Values() noexcept = default;
  Values(const Values&) = delete;
  Values& operator=(const Values&) = delete;
  ~Values();

  // Pins a one-dimensional float64 buffer of `object`, converts one of
  // other numbers (integers, bools, float32, the other byte order) or the
  // items of a sequence. False with TypeError or ValueError naming
  // `parameter` (and the index of a bad item) set.
  bool take(PyObject* object, const char* parameter) noexcept;
  // Room for `size` converted doubles; false with MemoryError set.
  bool allocate(Py_ssize_t size) noexcept;
  double* owned() noexcept { return owned_; }

  Py_ssize_t size() const noexcept { return size_; }
  Column column() const noexcept { return column_; }

 private:
  bool pin(PyObject* object, const char* parameter) noexcept;
  bool convert(PyObject* object, const char* parameter) noexcept;

  Py_buffer view_{};
  bool pinned_ = false;
  double* owned_ = nullptr;
  Py_ssize_t size_ = 0;
  Column column_;
};

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
