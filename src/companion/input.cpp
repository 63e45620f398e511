#include "input.h"

#include <bit>
#include <cstdio>
#include <string_view>

#include "classes.h"

namespace barworks::companion {

namespace {

// The struct codes that mean a native double on this machine.
bool is_float64_format(const char* format) noexcept {
  if (format == nullptr) return false;
  const std::string_view code(format);
  if (code == "d" || code == "@d" || code == "=d") return true;
  return std::endian::native == std::endian::little ? code == "<d" : code == ">d";
}

// A tuple of the items of `object` (itself when it is a tuple): a snapshot
// that Python code run by a conversion cannot shrink under the loop.
PyObject* items_of(PyObject* object, const char* parameter) noexcept {
  if (!PySequence_Check(object)) [[unlikely]] {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': expected a float64 buffer or a sequence of numbers, not '%T'",
                 parameter, object);
    return nullptr;
  }
  return PySequence_Tuple(object);
}

}  // namespace

Values::~Values() {
  if (pinned_) PyBuffer_Release(&view_);
  PyMem_Free(owned_);
}

bool Values::take(PyObject* object, const char* parameter) noexcept {
  if (PyObject_CheckBuffer(object)) {
    if (PyObject_GetBuffer(object, &view_, PyBUF_STRIDES | PyBUF_FORMAT) == 0) {
      // An array of Python objects (numpy's dtype object) holds numbers to
      // convert one by one, not doubles.
      if (view_.format == nullptr || std::string_view(view_.format) != "O") {
        pinned_ = true;
        return pin(object, parameter);
      }
      PyBuffer_Release(&view_);
      return convert(object, parameter);
    }
    // An exporter that cannot describe itself as a strided buffer (numpy's
    // object arrays among them) may still be a sequence of numbers.
    if (!PySequence_Check(object)) return false;
    PyErr_Clear();
  }
  return convert(object, parameter);
}

bool Values::pin(PyObject* object, const char* parameter) noexcept {
  if (!is_float64_format(view_.format) || view_.itemsize != sizeof(double)) [[unlikely]] {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': expected a buffer of float64 (format 'd'), got format '%s' from "
                 "'%T'",
                 parameter, view_.format != nullptr ? view_.format : "B", object);
    return false;
  }
  if (view_.ndim != 1) [[unlikely]] {
    PyErr_Format(PyExc_ValueError,
                 "argument '%s': expected a one-dimensional buffer, got %d dimensions", parameter,
                 view_.ndim);
    return false;
  }
  size_ = view_.shape[0];
  column_ = Column{static_cast<const char*>(view_.buf), view_.strides[0]};
  return true;
}

bool Values::allocate(Py_ssize_t size) noexcept {
  if (static_cast<std::size_t>(size) > PY_SSIZE_T_MAX / sizeof(double)) [[unlikely]] {
    PyErr_NoMemory();
    return false;
  }
  // One byte at least, so that an empty run still has a valid address.
  owned_ = static_cast<double*>(PyMem_Malloc(size > 0 ? size * sizeof(double) : 1));
  if (owned_ == nullptr) [[unlikely]] {
    PyErr_NoMemory();
    return false;
  }
  size_ = size;
  column_ = Column{reinterpret_cast<const char*>(owned_), sizeof(double)};
  return true;
}

bool Values::convert(PyObject* object, const char* parameter) noexcept {
  PyObject* items = items_of(object, parameter);
  if (items == nullptr) return false;
  const Py_ssize_t size = PyTuple_GET_SIZE(items);
  bool converted = allocate(size);
  for (Py_ssize_t i = 0; converted && i < size; ++i) {
    Argument<double> item;
    if (item.convert(PyTuple_GET_ITEM(items, i))) [[likely]] {
      owned_[i] = item.get();
    } else {
      raise_item_error(parameter, i);
      converted = false;
    }
  }
  Py_DECREF(items);
  return converted;
}

bool take_bars(PyObject* bars, Values& high, Values& low, Values& close) noexcept {
  PyObject* items = items_of(bars, "bars");
  if (items == nullptr) return false;
  const Py_ssize_t size = PyTuple_GET_SIZE(items);
  bool converted = high.allocate(size) && low.allocate(size) && close.allocate(size);
  for (Py_ssize_t i = 0; converted && i < size; ++i) {
    // Read in place under shared access, as a bar-fed next reads its bar.
    Argument<const Bar&> item;
    if (item.convert(PyTuple_GET_ITEM(items, i))) [[likely]] {
      high.owned()[i] = item.get().high;
      low.owned()[i] = item.get().low;
      close.owned()[i] = item.get().close;
    } else {
      raise_item_error("bars", i);
      converted = false;
    }
  }
  Py_DECREF(items);
  return converted;
}

void raise_item_error(const char* parameter, Py_ssize_t index) noexcept {
  char name[96];
  std::snprintf(name, sizeof name, "%s[%zd]", parameter, index);
  raise_argument_error(name);
}

}  // namespace barworks::companion
