// The module's entry point and the list of its classes, in registration order.
#include "frame.h"

#include "bar.h"
#include "indicators/average_true_range.h"
#include "indicators/exponential_moving_average.h"
#include "indicators/maximum.h"
#include "indicators/minimum.h"
#include "indicators/moving_average_convergence_divergence.h"
#include "indicators/rate_of_change.h"
#include "indicators/relative_strength_index.h"
#include "indicators/sharpe_ratio.h"
#include "indicators/simple_moving_average.h"
#include "indicators/standard_deviation.h"
#include "indicators/true_range.h"
#include "signal.h"
#include "strategies/exponential_moving_average_crossover.h"
#include "strategies/simple_moving_average_crossover.h"

namespace barworks {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_barworks",
    "Streaming technical-analysis indicators and crossover strategies, as a Python module.",
    0,
    nullptr,  // no module-level functions
    nullptr,  // single-phase initialisation: no slots
    nullptr,
    nullptr,
    nullptr,
};

// The interpreter that first initialised the module; -1 until then, and
// again once that interpreter has been finalised.
std::atomic<std::int64_t> interpreter_identity{-1};
PyObject* module_cache = nullptr;
PyObject* all_name = nullptr;

template <class... Records>
struct ClassList {};

using Registered =
    ClassList<Bar, Signal, AverageTrueRange, ExponentialMovingAverage, Maximum, Minimum,
              MovingAverageConvergenceDivergence, RateOfChange, RelativeStrengthIndex, SharpeRatio,
              SimpleMovingAverage, StandardDeviation, TrueRange, ExponentialMovingAverageCrossover,
              SimpleMovingAverageCrossover>;

// Appends `name` to the module's __all__, creating the list when missing.
bool list_in_all(PyObject* module, const char* name) noexcept {
  if (all_name == nullptr) all_name = PyUnicode_InternFromString("__all__");
  if (all_name == nullptr) return false;
  PyObject* all = PyObject_GetAttr(module, all_name);
  if (all == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyList_New(0);
    if (all == nullptr || PyObject_SetAttr(module, all_name, all) < 0) {
      Py_XDECREF(all);
      return false;
    }
  } else if (!PyList_Check(all)) {
    raise_cannot_convert(all, "PyList");
    Py_DECREF(all);
    return false;
  }
  PyObject* text = PyUnicode_FromString(name);
  const bool appended = text != nullptr && PyList_Append(all, text) == 0;
  Py_XDECREF(text);
  Py_DECREF(all);
  if (!appended) {
    PyErr_Clear();
    raise_panic("could not append __name__ to __all__");
  }
  return appended;
}

template <class... Records>
void forget_classes(ClassList<Records...>) noexcept {
  (forget_class<Records>(), ...);
}

// Everything above belongs to one interpreter's lifetime. An embedding
// program may finalise the interpreter and start another in the same
// process; the new one must build its own module and classes instead of
// being handed the freed ones. Runs at the end of finalisation, where the C
// API may no longer be called.
void forget_interpreter() noexcept {
  module_cache = nullptr;
  all_name = nullptr;
  forget_classes(Registered{});
  forget_interpreter_objects();
  interpreter_identity.store(-1);
}

template <class Record>
bool register_class(PyObject* module) noexcept {
  PyTypeObject* type = class_object<Record>();
  if (type == nullptr) return false;
  const char* name = PythonClass<Record>::kName;
  if (!list_in_all(module, name)) return false;
  return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

template <class... Records>
bool register_classes(PyObject* module, ClassList<Records...>) noexcept {
  return (register_class<Records>(module) && ...);
}

PyObject* initialise_module() noexcept {
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t identity = PyInterpreterState_GetID(interpreter);
  if (identity == -1) {
    ensure_error_set();
    return nullptr;
  }
  std::int64_t bound = -1;
  if (interpreter_identity.compare_exchange_strong(bound, identity)) {
    use_interpreter_allocator();
    // The callback table holds 32 entries for the whole process; should it
    // be full, only a later re-initialisation of the interpreter is at risk.
    (void)Py_AtExit(forget_interpreter);
  } else if (bound != identity) {
    PyErr_SetString(PyExc_ImportError,
                    "_barworks does not support sub-interpreters: it is already loaded in "
                    "another interpreter of this process");
    return nullptr;
  }
  if (module_cache != nullptr) return Py_NewRef(module_cache);

  PyObject* module = PyModule_Create2(&module_definition, 1013);
  if (module == nullptr) {
    ensure_error_set();
    return nullptr;
  }
  if (!register_classes(module, Registered{})) {
    Py_DECREF(module);
    return nullptr;
  }
  if (module_cache == nullptr) {
    module_cache = module;
  } else {
    Py_DECREF(module);
  }
  return Py_NewRef(module_cache);
}

}  // namespace
}  // namespace barworks

PyMODINIT_FUNC PyInit__barworks() { return barworks::initialise_module(); }
