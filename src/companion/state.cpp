// barworks._state: state(obj) and restore(data), the stored form of
// state.h read from and built into instances of the `_barworks` and
// `barworks.classic` classes.
#include "state.h"

#include "../frame.h"
#include "classes.h"
#include "stored_form.h"

namespace barworks {
namespace {

using checkpoint::Fault;
using checkpoint::Outcome;

template <class... Records>
PyObject* dump_any(PyObject* object, ClassList<Records...>) noexcept {
  PyObject* result = nullptr;
  const bool known = ((Py_TYPE(object) == ClassCell<Records>::type
                           ? (result = companion::stored_form_of<Records>(
                                  object, checkpoint::kStoredNameView<Records>),
                              true)
                           : false) ||
                      ...);
  if (!known) {
    PyErr_Format(PyExc_TypeError, "state() takes a barworks object, not '%T'", object);
  }
  return result;
}

PyObject* state(PyObject*, PyObject* object) noexcept {
  return dump_any(object, checkpoint::Stored{});
}

template <class Record>
PyObject* build(const checkpoint::Header& header) noexcept {
  Record record{};
  Fault fault;
  const Outcome outcome = checkpoint::load(header.fields, header.size, header.version,
                                           checkpoint::kStoredName<Record>, record, fault);
  if (!checkpoint::raise_unless_loaded(outcome, fault)) return nullptr;
  return new_instance(ClassCell<Record>::type, std::move(record));
}

PyObject* restore(PyObject*, PyObject* data) noexcept {
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
  const auto* bytes = static_cast<const unsigned char*>(view.buf);
  const auto size = static_cast<std::size_t>(view.len);
  checkpoint::Header header;
  Fault fault;
  PyObject* result = nullptr;
  if (!checkpoint::read_header(bytes, size, header, fault)) {
    PyErr_SetString(PyExc_ValueError, fault.text);
  } else if (!checkpoint::visit_class(header.class_name,
                                      [&]<class Record>() { result = build<Record>(header); })) {
    checkpoint::refuse_class(header.class_name, fault);
    PyErr_SetString(PyExc_ValueError, fault.text);
  }
  PyBuffer_Release(&view);
  return result;
}

PyMethodDef functions[] = {
    {"state", reinterpret_cast<PyCFunction>(&state), METH_O,
     "state($module, obj, /)\n--\n\n"
     "The checkpoint of a barworks object as bytes: a versioned little-endian\n"
     "record of its class and every field of its state. The object is read\n"
     "under shared access, so one that is being fed is refused."},
    {"restore", reinterpret_cast<PyCFunction>(&restore), METH_O,
     "restore(data, /)\n--\n\n"
     "A new object holding exactly the state that `data` (bytes from state())\n"
     "records. The whole string is checked before anything is built; a string\n"
     "that is truncated, oversized or out of range raises ValueError."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "barworks._state",
    "Checkpoints of barworks objects: their state as bytes, and back.",
    0,
    functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

ModuleCell module_cell;

void forget_interpreter() noexcept {
  forget_classes(companion::Adopted{});
  forget_module(module_cell);
}

}  // namespace

}  // namespace barworks

PyMODINIT_FUNC PyInit__state() {
  return barworks::initialise_module(barworks::module_definition, barworks::module_cell,
                                     &barworks::companion::adopt_every_class,
                                     &barworks::forget_interpreter);
}
