// barworks._classic: the classic indicator classes of classes.h, registered
// through the same call frame as _barworks's. Their average true range reads
// _barworks's Bar instances, so that module's Bar class is adopted, not made
// anew.
#include "../registration.h"

#include "../bar.h"
#include "classes.h"

namespace barworks {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "barworks._classic",
    "Streaming indicators with the definitions that batch libraries and charting tools use.",
    0,
    nullptr,  // no module-level functions
    nullptr,  // single-phase initialisation: no slots
    nullptr,
    nullptr,
    nullptr,
};

ModuleCell module_cell;

bool register_all(PyObject* module) noexcept {
  return adopt_classes("_barworks", ClassList<Bar>{}) && register_classes(module, classic::Classes{});
}

void forget_interpreter() noexcept {
  forget_classes(classic::Classes{} + ClassList<Bar>{});
  forget_module(module_cell);
}

}  // namespace
}  // namespace barworks

PyMODINIT_FUNC PyInit__classic() {
  return barworks::initialise_module(barworks::module_definition, barworks::module_cell,
                                     &barworks::register_all, &barworks::forget_interpreter);
}
