// Answers handed to Arrow consumers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace barworks::companion {

// columns_as_arrow(matrix, names): a PyCapsule "arrow_array_stream" of one
// struct array whose children are the (rows, columns) float64 matrix's
// columns, named by `names`; copied once into memory the stream owns.
PyObject* columns_as_arrow(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

}  // namespace barworks::companion
