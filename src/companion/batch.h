// Whole runs of inputs through one object: the entries behind barworks.feed
// (one column or two, x and y, for a pair class) and barworks.feed_bars.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace barworks::companion {

// feed(indicator, values, warmup, nulls)
PyObject* feed(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames) noexcept;
// feed_bars(indicator, high, low, close, warmup, open, volume, nulls)
PyObject* feed_bars(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) noexcept;
// feed_pairs(indicator, x, y, warmup, nulls)
PyObject* feed_pairs(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept;
// feed_bar_records(indicator, bars, warmup)
PyObject* feed_bar_records(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) noexcept;

}  // namespace barworks::companion
