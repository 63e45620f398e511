// Arrow data taken through the PyCapsule interface (__arrow_c_array__,
// __arrow_c_stream__) without the library that made it: the C data
// interface's structs, the arrays moved out of their capsules and released
// when the run is done.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace barworks::companion {

// The C data interface's ABI, as every Arrow implementation lays it out.
#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  int64_t flags;
  int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  void (*release)(struct ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  int64_t length;
  int64_t null_count;
  int64_t offset;
  int64_t n_buffers;
  int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);
  void* private_data;
};

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
  int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
  int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
  const char* (*get_last_error)(struct ArrowArrayStream*);
  void (*release)(struct ArrowArrayStream*);
  void* private_data;
};

#endif  // ARROW_C_STREAM_INTERFACE

// What a null in the input becomes: refused (ValueError naming its
// position), or read as NaN.
enum class Nulls { kRefuse, kNaN };

// One chunk of float64 values one after another, where the producer put it.
struct DenseChunk {
  const char* data = nullptr;
  Py_ssize_t size = 0;
};

// The chunks of one Arrow column, moved out of the producer's capsules and
// released through its callbacks on destruction.
class ArrowColumn {
 public:
  ArrowColumn() noexcept = default;
  ArrowColumn(const ArrowColumn&) = delete;
  ArrowColumn& operator=(const ArrowColumn&) = delete;
  ~ArrowColumn();

  // Takes the Arrow data `object` exports (__arrow_c_array__, else
  // __arrow_c_stream__): 1 when it did, 0 when it exports none (nothing
  // set), -1 with an exception set (a table, a type that is not numbers, a
  // failing producer).
  int take(PyObject* object, const char* parameter) noexcept;

  Py_ssize_t size() const noexcept { return size_; }
  // Whether the values are float64, readable in place where free of nulls.
  bool is_float64() const noexcept;
  // The position of the first null, or -1 when there is none.
  Py_ssize_t first_null() const noexcept;
  Py_ssize_t chunk_count() const noexcept { return count_; }
  // Chunk `index` of a float64 column.
  DenseChunk chunk(Py_ssize_t index) const noexcept;
  // Every value converted as next converts the number it stands for, nulls
  // as NaN, into `out` (size() cells); false with an exception set.
  bool convert(double* out) const noexcept;

 private:
  bool take_array(PyObject* pair, PyObject* object, const char* parameter) noexcept;
  bool take_stream(PyObject* capsule, PyObject* object, const char* parameter) noexcept;
  bool read_type(PyObject* object, const char* parameter) noexcept;
  bool check_arrays(PyObject* object, const char* parameter) const noexcept;
  bool add(ArrowArray& array) noexcept;

  ArrowSchema schema_{};
  ArrowArray* arrays_ = nullptr;
  Py_ssize_t count_ = 0;
  Py_ssize_t capacity_ = 0;
  Py_ssize_t size_ = 0;
  // The values' type, read from the schema's format.
  char kind_ = 0;   // a struct module code (d, f, e, b, B, h, ...), '?' bools, 'D' decimals, 'n' nulls
  int width_ = 0;   // bytes per value (decimals: 4, 8, 16 or 32)
  int scale_ = 0;   // decimals: the value is the integer times 10**-scale
};

}  // namespace barworks::companion
