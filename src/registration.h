// Module creation and class registration, shared by every extension module
// built on the call frame: each module states its definition, its classes
// in registration order and any preparation, and this does the rest.
#pragma once

#include "frame.h"

namespace barworks {

// The once-only state of one module: the interpreter that first initialised
// it (-1 until then, and again once that interpreter has been finalised) and
// the module object once built.
struct ModuleCell {
  std::atomic<std::int64_t> interpreter{-1};
  PyObject* module = nullptr;
  bool forget_registered = false;  // the finalisation callback is in place
};

template <class... Records>
void forget_classes(ClassList<Records...>) noexcept {
  (forget_class<Records>(), ...);
}

// Appends `name` to the module's __all__, creating the list when missing.
bool list_in_all(PyObject* module, const char* name) noexcept;

// Sets the module attribute `name` to `type` and lists it in __all__.
bool add_class(PyObject* module, const char* name, PyTypeObject* type) noexcept;

template <class Record>
bool register_class(PyObject* module) noexcept {
  PyTypeObject* type = class_object<Record>();
  return type != nullptr && add_class(module, PythonClass<Record>::kName, type);
}

template <class... Records>
bool register_classes(PyObject* module, ClassList<Records...>) noexcept {
  return (register_class<Records>(module) && ...);
}

// Binds the module to the first interpreter, creates it once, runs `body`
// on it and caches it; later calls hand out the cached module. A failed
// body leaves nothing cached. `forget` runs at the end of that interpreter's
// finalisation (no C API there): it must forget the module's classes and
// call forget_module, so that an interpreter started later in the same
// process builds its own module and classes instead of being handed freed
// ones.
PyObject* initialise_module(PyModuleDef& definition, ModuleCell& cell,
                            bool (*body)(PyObject* module), void (*forget)()) noexcept;

// Forgets what initialise_module and registration keep for one interpreter.
void forget_module(ModuleCell& cell) noexcept;

// The class `class_name` of `module` (imported as `module_name`), a new
// reference, checked to be a type whose instances are `instance_size` bytes
// and whose layout token has `fingerprint`; null with an exception set
// otherwise.
PyObject* find_class(PyObject* module, const char* module_name, const char* class_name,
                     Py_ssize_t instance_size, std::uint64_t fingerprint) noexcept;

// Makes `Record`'s class the one `module` already registered under the
// record's name: instances made there are then accepted here and read
// through the same layout, which must be this build's field for field (a
// module from another build is refused, not misread). A class with class attributes has
// had them made by its own module. Kept for the life of the interpreter.
template <Described Record>
bool adopt_class(PyObject* module, const char* module_name) noexcept {
  PyTypeObject*& cell = ClassCell<Record>::type;
  if (cell != nullptr) return true;
  PyObject* type = find_class(module, module_name, PythonClass<Record>::kName,
                              static_cast<Py_ssize_t>(sizeof(Instance<Record>)),
                              kLayoutToken<Record>.fingerprint);
  if (type == nullptr) return false;
  cell = reinterpret_cast<PyTypeObject*>(type);
  ClassCell<Record>::step.completed.store(true, std::memory_order_release);
  return true;
}

// Imports `module_name` and adopts each class of the list from it.
template <class... Records>
bool adopt_classes(const char* module_name, ClassList<Records...>) noexcept {
  PyObject* module = PyImport_ImportModule(module_name);
  if (module == nullptr) return false;
  const bool adopted = (adopt_class<Records>(module, module_name) && ...);
  Py_DECREF(module);
  return adopted;
}

}  // namespace barworks
