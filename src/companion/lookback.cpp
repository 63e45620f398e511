#include "lookback.h"

namespace barworks::companion {

PyObject* lookback_of(PyObject*, PyObject* indicator) noexcept {
  return dispatch(indicator, [&]<class Record>(Instance<Record>& instance) -> PyObject* {
    // Only the window lengths are read, which never change: shared access.
    Borrow borrow;
    if (!hold(instance, borrow, Access::kShared)) return nullptr;
    return PyLong_FromUnsignedLongLong(Warmup<Record>::lookback(instance.payload));
  });
}

PyObject* answer_names(PyObject*, PyObject* indicator) noexcept {
  return dispatch(indicator, [&]<class Record>(Instance<Record>&) -> PyObject* {
    if constexpr (requires { PythonClass<Record>::kAnswers; }) {
      constexpr auto& names = PythonClass<Record>::kAnswers;
      PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(names.size()));
      if (tuple == nullptr) return nullptr;
      for (std::size_t i = 0; i < names.size(); ++i) {
        PyObject* name = PyUnicode_FromString(names[i]);
        if (name == nullptr) {
          Py_DECREF(tuple);
          return nullptr;
        }
        PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), name);
      }
      return tuple;
    } else {
      Py_RETURN_NONE;
    }
  });
}

}  // namespace barworks::companion
