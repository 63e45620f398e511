// barworks._native.Lanes: the records of one class, one per symbol, held
// side by side in one array and stepped together by the record's own update;
// the native half of barworks.Universe (barworks/universe.py), which keeps
// the symbols' names and speaks pandas and polars.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace barworks::companion {

// Makes the Lanes class and adds it to the module; false with an exception
// set.
bool add_lanes_class(PyObject* module) noexcept;

// lanes(stored, count): `count` lanes, each the record `stored` (a stored
// form from barworks.state) holds.
PyObject* new_lanes(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

// Forgets the class after the interpreter was finalised (no C API).
void forget_lanes_class() noexcept;

}  // namespace barworks::companion
