// barworks.BarBuilder and the native half of barworks.resample: bars of
// fixed-length time buckets by the one rule of bar_builder.h, a piece at a
// time or whole columns at a time. The Python half (barworks/bars.py) makes
// the bar type and reads the kinds of timestamp and duration.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace barworks::companion {

// Makes the BarBuilder class and adds it to the module; false with an
// exception set.
bool add_bar_builder_class(PyObject* module) noexcept;

// use_time_types(time_bar, timestamp, duration): the bar type bars are made
// as (a named tuple of start, open, high, low, close, volume) and the
// functions that turn any timestamp, and any duration, into int nanoseconds.
PyObject* use_time_types(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

// resample(timestamps, prices, volumes, every, origin, fill): the columns
// start, open, high, low, close and volume of the bars a new builder makes
// from int64 timestamps and the prices and volumes (None: no volume).
PyObject* resample(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

// builder_state(builder) and restore_builder(data): the stored form of a
// builder, as barworks.state gives an object's, and back.
PyObject* builder_state(PyObject* module, PyObject* builder) noexcept;
PyObject* restore_builder(PyObject* module, PyObject* data) noexcept;

// Forgets the class and the Python half's objects after the interpreter was
// finalised (no C API).
void forget_time_types() noexcept;

}  // namespace barworks::companion
