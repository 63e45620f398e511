// barworks._native: the module's entry point, its function table and the
// adoption of _barworks's classes.
#include "classes.h"

#include "../registration.h"

#include "answers.h"
#include "batch.h"
#include "lookback.h"
#include "peek.h"

namespace barworks::companion {

namespace {

PyMethodDef functions[] = {
    {"feed", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&feed)),
     METH_FASTCALL | METH_KEYWORDS,
     "feed($module, indicator, values, warmup)\n--\n\n"
     "Every value through indicator.next, answers as a numpy array."},
    {"feed_bars", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&feed_bars)),
     METH_FASTCALL | METH_KEYWORDS,
     "feed_bars($module, indicator, high, low, close, warmup)\n--\n\n"
     "Every bar given by three columns through indicator.next."},
    {"feed_bar_records",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&feed_bar_records)),
     METH_FASTCALL | METH_KEYWORDS,
     "feed_bar_records($module, indicator, bars, warmup)\n--\n\n"
     "Every Bar of a sequence through indicator.next."},
    {"peek", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&peek)),
     METH_FASTCALL | METH_KEYWORDS,
     "peek($module, indicator, value)\n--\n\n"
     "The answer indicator.next(value) would give, leaving the indicator unchanged."},
    {"peek_bar", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&peek_bar)),
     METH_FASTCALL | METH_KEYWORDS,
     "peek_bar($module, indicator, bar)\n--\n\n"
     "The answer indicator.next(bar) would give, leaving the indicator unchanged."},
    {"lookback", &lookback_of, METH_O,
     "lookback($module, indicator, /)\n--\n\n"
     "How many leading answers feed(..., warmup='nan') blanks on a fresh indicator."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "barworks._native",
    "Whole arrays and peeks through the records of _barworks objects.",
    0,
    functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

template <class... Records>
void forget_all(RecordList<Records...>) noexcept {
  (forget_class<Records>(), ...);
}

// What this module keeps belongs to one interpreter's lifetime; an embedding
// program that finalises it and starts another must have this module adopt
// the new classes. Runs at the end of finalisation, without the C API.
bool forget_registered = false;

void forget_interpreter() noexcept {
  forget_registered = false;
  forget_all(RecordList<Bar, Signal>{});
  forget_all(Dispatched{});
  forget_numpy();
  forget_interpreter_objects();
}

PyObject* initialise_module() noexcept {
  // _barworks binds itself to the first interpreter that imports it and
  // refuses the others; importing it first makes this module do the same.
  // The classic classes read _barworks's Bar, so that module comes first.
  const bool adopted = adopt_classes("_barworks", RecordList<Bar, Signal>{}) &&
                       adopt_classes("_barworks", Streamed{}) &&
                       adopt_classes("barworks._classic", ClassicStreamed{});
  if (!adopted) return nullptr;
  // Windows this module might make or free come from the same allocator as
  // _barworks's.
  use_interpreter_allocator();
  if (!forget_registered) forget_registered = Py_AtExit(forget_interpreter) == 0;
  return PyModule_Create2(&module_definition, PYTHON_API_VERSION);
}

}  // namespace

void refuse_object(PyObject* object, const char* parameter, const char* wanted) noexcept {
  PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, not '%T'", parameter, wanted, object);
}

}  // namespace barworks::companion

PyMODINIT_FUNC PyInit__native() { return barworks::companion::initialise_module(); }
