#include "registration.h"

namespace barworks {

namespace {
PyObject* all_name = nullptr;
}  // namespace

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

bool add_class(PyObject* module, const char* name, PyTypeObject* type) noexcept {
  if (!list_in_all(module, name)) return false;
  return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

PyObject* initialise_module(PyModuleDef& definition, ModuleCell& cell,
                            bool (*body)(PyObject* module), void (*forget)()) noexcept {
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t identity = PyInterpreterState_GetID(interpreter);
  if (identity == -1) {
    ensure_error_set();
    return nullptr;
  }
  std::int64_t bound = -1;
  if (cell.interpreter.compare_exchange_strong(bound, identity)) {
    use_interpreter_allocator();
  } else if (bound != identity) {
    // The bound interpreter may since have been destroyed: say what holds,
    // not that it is still loaded there.
    PyErr_Format(PyExc_ImportError,
                 "%s does not support sub-interpreters: its classes belong to interpreter %lld, "
                 "the first of this process to import it, so interpreter %lld cannot import it",
                 definition.m_name, static_cast<long long>(bound), static_cast<long long>(identity));
    return nullptr;
  }
  // The callback table holds 32 entries for the whole process; while it is
  // full the registration is tried again at each import, and only a later
  // re-initialisation of the interpreter is at risk.
  if (!cell.forget_registered) cell.forget_registered = Py_AtExit(forget) == 0;
  if (cell.module != nullptr) return Py_NewRef(cell.module);

  PyObject* module = PyModule_Create2(&definition, PYTHON_API_VERSION);
  if (module == nullptr) {
    ensure_error_set();
    return nullptr;
  }
  if (!body(module)) {
    Py_DECREF(module);
    return nullptr;
  }
  if (cell.module == nullptr) {
    cell.module = module;
  } else {
    Py_DECREF(module);
  }
  return Py_NewRef(cell.module);
}

void forget_module(ModuleCell& cell) noexcept {
  cell.module = nullptr;
  cell.forget_registered = false;
  all_name = nullptr;
  forget_interpreter_objects();
  cell.interpreter.store(-1);
}

namespace {

// Whether `type` was made by a module of this project from a record laid
// out as `fingerprint` says.
bool has_layout(PyObject* type, Py_ssize_t instance_size, std::uint64_t fingerprint) noexcept {
  if (!PyType_Check(type)) return false;
  auto* heap_type = reinterpret_cast<PyHeapTypeObject*>(type);
  if (!PyType_HasFeature(&heap_type->ht_type, Py_TPFLAGS_HEAPTYPE) ||
      heap_type->ht_type.tp_basicsize != instance_size || heap_type->ht_token == nullptr) {
    return false;
  }
  const auto* token = static_cast<const LayoutToken*>(heap_type->ht_token);
  return token->magic == kLayoutMagic && token->fingerprint == fingerprint;
}

}  // namespace

PyObject* find_class(PyObject* module, const char* module_name, const char* class_name,
                     Py_ssize_t instance_size, std::uint64_t fingerprint) noexcept {
  PyObject* type = PyObject_GetAttrString(module, class_name);
  if (type == nullptr) return nullptr;
  if (!has_layout(type, instance_size, fingerprint)) {
    PyErr_Format(PyExc_ImportError,
                 "%s.%s does not have the instance layout this module was built for",
                 module_name, class_name);
    Py_DECREF(type);
    return nullptr;
  }
  return type;
}

}  // namespace barworks
