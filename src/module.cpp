// The module's entry point: its classes are those of classes.h.
#include "registration.h"

#include "classes.h"

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

ModuleCell module_cell;

bool register_all(PyObject* module) noexcept { return register_classes(module, ModuleClasses{}); }

void forget_interpreter() noexcept {
  forget_classes(ModuleClasses{});
  forget_module(module_cell);
}

}  // namespace
}  // namespace barworks

PyMODINIT_FUNC PyInit__barworks() {
  return barworks::initialise_module(barworks::module_definition, barworks::module_cell,
                                     &barworks::register_all, &barworks::forget_interpreter);
}
