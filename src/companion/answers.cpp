#include "answers.h"

#include "input.h"

namespace barworks::companion {

namespace {

// numpy.empty and the two dtypes, imported on the first batch and kept for
// the life of the process, as the classes are.
PyObject* numpy_empty = nullptr;
PyObject* float64_type = nullptr;
PyObject* int8_type = nullptr;
PyObject* int64_type = nullptr;

bool import_numpy() noexcept {
  if (numpy_empty != nullptr) [[likely]] return true;
  PyObject* numpy = PyImport_ImportModule("numpy");
  if (numpy == nullptr) return false;
  PyObject* empty = PyObject_GetAttrString(numpy, "empty");
  PyObject* float64 = PyObject_GetAttrString(numpy, "float64");
  PyObject* int8 = PyObject_GetAttrString(numpy, "int8");
  PyObject* int64 = PyObject_GetAttrString(numpy, "int64");
  Py_DECREF(numpy);
  if (empty == nullptr || float64 == nullptr || int8 == nullptr || int64 == nullptr) {
    Py_XDECREF(empty);
    Py_XDECREF(float64);
    Py_XDECREF(int8);
    Py_XDECREF(int64);
    return false;
  }
  float64_type = float64;
  int8_type = int8;
  int64_type = int64;
  numpy_empty = empty;
  return true;
}

}  // namespace

void forget_numpy() noexcept {
  numpy_empty = nullptr;
  float64_type = nullptr;
  int8_type = nullptr;
  int64_type = nullptr;
}

Answers::~Answers() {
  if (viewed_) PyBuffer_Release(&view_);
  Py_XDECREF(array_);
}

bool Answers::create(Py_ssize_t rows, Py_ssize_t columns, bool codes) noexcept {
  if (!import_numpy()) return false;
  PyObject* shape = columns == 1 ? PyLong_FromSsize_t(rows) : Py_BuildValue("(nn)", rows, columns);
  return shape != nullptr && create_array(shape, rows * columns, codes ? Cells::kInt8 : Cells::kFloat64);
}

bool Answers::create_shaped(const std::array<Py_ssize_t, 3>& shape, bool codes) noexcept {
  if (!import_numpy()) return false;
  PyObject* dimensions = shape[2] == 1 ? Py_BuildValue("(nn)", shape[0], shape[1])
                                       : Py_BuildValue("(nnn)", shape[0], shape[1], shape[2]);
  return dimensions != nullptr && create_array(dimensions, shape[0] * shape[1] * shape[2],
                                               codes ? Cells::kInt8 : Cells::kFloat64);
}

bool Answers::create_times(Py_ssize_t rows) noexcept {
  if (!import_numpy()) return false;
  PyObject* shape = PyLong_FromSsize_t(rows);
  return shape != nullptr && create_array(shape, rows, Cells::kInt64);
}

bool Answers::create_array(PyObject* shape, Py_ssize_t cells, Cells kind) noexcept {
  PyObject* dtype = kind == Cells::kInt8 ? int8_type : kind == Cells::kInt64 ? int64_type : float64_type;
  array_ = PyObject_CallFunctionObjArgs(numpy_empty, shape, dtype, nullptr);
  Py_DECREF(shape);
  if (array_ == nullptr) return false;
  if (PyObject_GetBuffer(array_, &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
    return false;
  }
  viewed_ = true;
  // numpy.empty is looked up once and may have been replaced since (a shim,
  // a test double, a profiler's wrapper): the loop writes exactly `cells`
  // cells, so what came back must hold exactly those.
  const std::size_t cell_size = kind == Cells::kInt8 ? sizeof(std::int8_t) : sizeof(double);
  const char code = kind == Cells::kInt8 ? 'b' : kind == Cells::kInt64 ? 'q' : 'd';
  // int64 is 'l' where a long is 64 bits wide, as here.
  const bool native = is_native_format(view_.format, code) ||
                      (kind == Cells::kInt64 && is_native_format(view_.format, 'l'));
  const bool fits = view_.itemsize == static_cast<Py_ssize_t>(cell_size) && native &&
                    view_.len == cells * static_cast<Py_ssize_t>(cell_size);
  if (!fits) [[unlikely]] {
    PyErr_Format(PyExc_TypeError,
                 "numpy.empty gave %R, not a writable C-contiguous %s array of %zd cells; has "
                 "numpy.empty been replaced?",
                 array_, kind == Cells::kInt8 ? "int8" : kind == Cells::kInt64 ? "int64" : "float64",
                 cells);
    return false;
  }
  return true;
}

PyObject* Answers::release() noexcept {
  if (viewed_) PyBuffer_Release(&view_);
  viewed_ = false;
  PyObject* array = array_;
  array_ = nullptr;
  return array;
}

}  // namespace barworks::companion
