// A matrix of answers handed to an Arrow consumer (a polars frame) through
// the PyCapsule interface: a stream of one struct array whose children are
// the matrix's columns, each a run of doubles the consumer reads in place.
#include "arrow_export.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "arrow.h"
#include "tiles.h"

namespace barworks::companion {

namespace {

// The columns, one after another, and their names; freed by whichever
// release comes last, from any thread, since a consumer may keep a column
// (a child array) past the stream and the rest.
struct Export {
  std::atomic<std::int64_t> holders;
  std::int64_t rows;
  std::int64_t columns;
  double* values;   // column j at values + j * rows
  char** names;     // each a copy
  bool handed_out;  // the stream's one batch
};

Export* hold(Export* shared) noexcept {
  shared->holders.fetch_add(1, std::memory_order_relaxed);
  return shared;
}

void let_go(Export* shared) noexcept {
  if (shared->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  for (std::int64_t j = 0; j < shared->columns; ++j) std::free(shared->names[j]);
  std::free(shared->names);
  std::free(shared->values);
  shared->~Export();
  std::free(shared);
}

// A column's schema and array: each holds the export, so that a consumer
// may move it out of its parent and keep it alone.
void release_column_schema(ArrowSchema* schema) noexcept {
  let_go(static_cast<Export*>(schema->private_data));
  schema->release = nullptr;
}

struct ColumnArray {
  Export* shared;
  const void* buffers[2];
};

void release_column_array(ArrowArray* array) noexcept {
  auto* column = static_cast<ColumnArray*>(array->private_data);
  let_go(column->shared);
  std::free(column);
  array->release = nullptr;
}

// The struct's schema and array own their children's structs; each releases
// the children the consumer has not moved out.
struct Parent {
  Export* shared;
  const void* buffers[1];
};

template <class Node>
void release_children(Node* node) noexcept {
  for (std::int64_t j = 0; j < node->n_children; ++j) {
    if (node->children[j]->release != nullptr) node->children[j]->release(node->children[j]);
  }
}

void release_struct_schema(ArrowSchema* schema) noexcept {
  release_children(schema);
  std::free(schema->children);  // the pointers, then the structs after them
  let_go(static_cast<Export*>(schema->private_data));
  schema->release = nullptr;
}

void release_struct_array(ArrowArray* array) noexcept {
  release_children(array);
  std::free(array->children);
  auto* parent = static_cast<Parent*>(array->private_data);
  let_go(parent->shared);
  std::free(parent);
  array->release = nullptr;
}

// Room for `count` pointers to children and the children after them.
template <class Node>
Node** children_room(std::int64_t count) noexcept {
  const std::size_t size =
      static_cast<std::size_t>(count) * (sizeof(Node*) + sizeof(Node)) + 1;
  auto** room = static_cast<Node**>(std::malloc(size));
  if (room == nullptr) return nullptr;
  auto* nodes = reinterpret_cast<Node*>(room + count);
  for (std::int64_t j = 0; j < count; ++j) room[j] = nodes + j;
  return room;
}

Export* export_of(ArrowArrayStream* stream) noexcept {
  return static_cast<Export*>(stream->private_data);
}

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
  Export* shared = export_of(stream);
  ArrowSchema** children = children_room<ArrowSchema>(shared->columns);
  if (children == nullptr) return ENOMEM;
  for (std::int64_t j = 0; j < shared->columns; ++j) {
    *children[j] = ArrowSchema{"g", shared->names[j], nullptr, 0, 0, nullptr, nullptr,
                               &release_column_schema, hold(shared)};
  }
  *out = ArrowSchema{"+s", "", nullptr, 0, shared->columns, children, nullptr,
                     &release_struct_schema, hold(shared)};
  return 0;
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
  Export* shared = export_of(stream);
  if (shared->handed_out) {
    std::memset(out, 0, sizeof *out);  // the end of the stream: released
    return 0;
  }
  const std::int64_t count = shared->columns;
  ArrowArray** children = children_room<ArrowArray>(count);
  auto* parent = static_cast<Parent*>(std::malloc(sizeof(Parent)));
  bool made = children != nullptr && parent != nullptr;
  std::int64_t ready = 0;
  for (; made && ready < count; ++ready) {
    auto* column = static_cast<ColumnArray*>(std::malloc(sizeof(ColumnArray)));
    if (column == nullptr) {
      made = false;
      break;
    }
    *column = ColumnArray{hold(shared), {nullptr, shared->values + ready * shared->rows}};
    *children[ready] = ArrowArray{shared->rows, 0,       0,       2, 0, column->buffers,
                                  nullptr,      nullptr, &release_column_array, column};
  }
  if (!made) {
    for (std::int64_t j = 0; j < ready; ++j) children[j]->release(children[j]);
    std::free(children);
    std::free(parent);
    return ENOMEM;
  }
  *parent = Parent{hold(shared), {nullptr}};
  *out = ArrowArray{shared->rows, 0,       0,       1, count, parent->buffers,
                    children,     nullptr, &release_struct_array, parent};
  shared->handed_out = true;
  return 0;
}

const char* stream_error(ArrowArrayStream*) noexcept { return "out of memory"; }

void release_stream(ArrowArrayStream* stream) noexcept {
  let_go(export_of(stream));
  stream->release = nullptr;
}

// The capsule's destructor releases a stream no consumer took.
void drop_capsule(PyObject* capsule) noexcept {
  auto* stream =
      static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
  if (stream == nullptr) {
    PyErr_Clear();
    return;
  }
  if (stream->release != nullptr) stream->release(stream);
  std::free(stream);
}

// An export of `columns` columns of `rows` values named by `names`, its
// values not yet written; null when memory is short.
Export* make_export(std::int64_t rows, std::int64_t columns, const char* const* names) noexcept {
  auto* shared = static_cast<Export*>(std::malloc(sizeof(Export)));
  if (shared == nullptr) return nullptr;
  new (shared) Export{{1}, rows, columns, nullptr, nullptr, false};
  shared->values = static_cast<double*>(
      std::malloc(static_cast<std::size_t>(rows * columns) * sizeof(double) + 1));
  shared->names = static_cast<char**>(std::calloc(static_cast<std::size_t>(columns) + 1,
                                                  sizeof(char*)));
  bool made = shared->values != nullptr && shared->names != nullptr;
  for (std::int64_t j = 0; made && j < columns; ++j) {
    const std::size_t length = std::strlen(names[j]) + 1;
    shared->names[j] = static_cast<char*>(std::malloc(length));
    made = shared->names[j] != nullptr;
    if (made) std::memcpy(shared->names[j], names[j], length);
  }
  if (!made) {
    if (shared->names == nullptr) shared->columns = 0;
    let_go(shared);
    return nullptr;
  }
  return shared;
}

// The (rows, columns) row-major `matrix` into the export's columns, a tile
// of columns at a time, so that each row's cells of the tile are read
// together.
void copy_columns(const double* matrix, Export& shared) noexcept {
  constexpr std::int64_t kTile = 64;
  const std::int64_t rows = shared.rows, columns = shared.columns;
  const Matrix answers{reinterpret_cast<const char*>(matrix),
                       static_cast<Py_ssize_t>(columns * sizeof(double)), sizeof(double)};
  for (std::int64_t first = 0; first < columns; first += kTile) {
    const std::int64_t tile = first + kTile < columns ? kTile : columns - first;
    gather_tile(answers, 0, rows, first, tile, rows, shared.values + first * rows);
  }
}

}  // namespace

PyObject* columns_as_arrow(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  if (nargs != 2) {
    PyErr_SetString(PyExc_TypeError, "columns_as_arrow(matrix, names) takes two arguments");
    return nullptr;
  }
  Py_buffer view;
  if (PyObject_GetBuffer(args[0], &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | PyBUF_ND) < 0) {
    return nullptr;
  }
  PyObject* names = PySequence_Fast(args[1], "names must be a sequence of strings");
  const bool shaped = view.ndim == 2 && view.format != nullptr &&
                      std::strcmp(view.format, "d") == 0 && names != nullptr &&
                      PySequence_Fast_GET_SIZE(names) == view.shape[1];
  if (!shaped) {
    if (names != nullptr) {
      PyErr_SetString(PyExc_ValueError,
                      "columns_as_arrow takes a two-dimensional float64 matrix and a name "
                      "for each of its columns");
    }
    Py_XDECREF(names);
    PyBuffer_Release(&view);
    return nullptr;
  }
  const std::int64_t rows = view.shape[0], columns = view.shape[1];
  const char** texts = static_cast<const char**>(
      PyMem_Malloc(static_cast<std::size_t>(columns + 1) * sizeof(const char*)));
  bool read = texts != nullptr;
  if (!read) PyErr_NoMemory();
  for (std::int64_t j = 0; read && j < columns; ++j) {
    texts[j] = PyUnicode_AsUTF8(PySequence_Fast_GET_ITEM(names, j));
    read = texts[j] != nullptr;
  }
  // The names are copied with the lock held, since the sequence's strings
  // could go with it released; the values are copied without it.
  Export* shared = read ? make_export(rows, columns, texts) : nullptr;
  if (read && shared == nullptr) PyErr_NoMemory();
  if (shared != nullptr) {
    Py_BEGIN_ALLOW_THREADS
    copy_columns(static_cast<const double*>(view.buf), *shared);
    Py_END_ALLOW_THREADS
  }
  PyMem_Free(texts);
  Py_DECREF(names);
  PyBuffer_Release(&view);
  if (shared == nullptr) return nullptr;
  auto* stream = static_cast<ArrowArrayStream*>(std::malloc(sizeof(ArrowArrayStream)));
  if (stream == nullptr) {
    let_go(shared);
    return PyErr_NoMemory();
  }
  *stream = ArrowArrayStream{&stream_schema, &stream_next, &stream_error, &release_stream, shared};
  PyObject* capsule = PyCapsule_New(stream, "arrow_array_stream", &drop_capsule);
  if (capsule == nullptr) {
    release_stream(stream);
    std::free(stream);
  }
  return capsule;
}

}  // namespace barworks::companion
