// Module creation and class registration, shared by every extension module
// built on the call frame: each module states its definition, its classes
// in registration order and any preparation, and this does the rest.
#pragma once

#include "frame.h"

namespace barworks {

template <class... Records>
struct ClassList {};

// The once-only state of one module: the interpreter that first initialised
// it (-1 until then, and again once that interpreter has been finalised) and
// the module object once built.
struct ModuleCell {
  std::atomic<std::int64_t> interpreter{-1};
  PyObject* module = nullptr;
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

// The class `class_name` of module `module_name`, a new reference, checked
// to be a type whose instances are `instance_size` bytes; null with an
// exception set otherwise.
PyObject* import_class(const char* module_name, const char* class_name,
                       Py_ssize_t instance_size) noexcept;

// Makes `Record`'s class the one another module already registered under
// the record's name: instances made there are then accepted here, read
// through the same layout. The class must have that layout's size.
template <Described Record>
bool adopt_class(const char* module_name) noexcept {
  static_assert(attribute_count<Record>() == 0,
                "a class with class attributes is made by its own module only");
  PyTypeObject*& cell = ClassCell<Record>::type;
  if (cell != nullptr) return true;
  PyObject* type = import_class(module_name, PythonClass<Record>::kName,
                                static_cast<Py_ssize_t>(sizeof(Instance<Record>)));
  if (type == nullptr) return false;
  cell = reinterpret_cast<PyTypeObject*>(type);  // kept for the life of the process
  return true;
}

}  // namespace barworks
