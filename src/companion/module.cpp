// barworks._native: the module's entry point, its function table and the
// adoption of _barworks's and barworks.classic's classes.
#include "classes.h"

#include "../registration.h"

#include "answers.h"
#include "arrow_export.h"
#include "batch.h"
#include "lookback.h"
#include "peek.h"
#include "time_bars.h"
#include "universe.h"

namespace barworks::companion {

namespace {

PyMethodDef functions[] = {
    {"feed", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&feed)),
     METH_FASTCALL | METH_KEYWORDS,
     "feed($module, indicator, values, warmup, nulls='raise')\n--\n\n"
     "Every value through indicator.next, answers as a numpy array."},
    {"feed_bars", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&feed_bars)),
     METH_FASTCALL | METH_KEYWORDS,
     "feed_bars($module, indicator, high, low, close, warmup, open, volume, nulls='raise')\n--\n\n"
     "Every bar given by three columns through indicator.next."},
    {"feed_pairs", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&feed_pairs)),
     METH_FASTCALL | METH_KEYWORDS,
     "feed_pairs($module, indicator, x, y, warmup, nulls='raise')\n--\n\n"
     "Every pair of two columns through indicator.next(x, y)."},
    {"feed_bar_records",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&feed_bar_records)),
     METH_FASTCALL | METH_KEYWORDS,
     "feed_bar_records($module, indicator, bars, warmup)\n--\n\n"
     "Every Bar of a sequence through indicator.next."},
    {"peek", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&peek)),
     METH_FASTCALL | METH_KEYWORDS,
     "peek($module, indicator, value, *y)\n--\n\n"
     "The answer indicator.next(value) would give, leaving the indicator unchanged; "
     "peek(indicator, x, y) for a class whose next takes a pair."},
    {"peek_bar", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&peek_bar)),
     METH_FASTCALL | METH_KEYWORDS,
     "peek_bar($module, indicator, bar)\n--\n\n"
     "The answer indicator.next(bar) would give, leaving the indicator unchanged."},
    {"lookback", &lookback_of, METH_O,
     "lookback($module, indicator, /)\n--\n\n"
     "How many leading answers feed(..., warmup='nan') blanks on a fresh indicator."},
    {"answer_names", &answer_names, METH_O,
     "answer_names($module, indicator, /)\n--\n\n"
     "The names of the parts of the class's tuple answer, in order, or None."},
    {"lanes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&new_lanes)),
     METH_FASTCALL,
     "lanes($module, stored, count, /)\n--\n\n"
     "`count` lanes of the record that `stored` (from barworks.state) holds: the native half "
     "of barworks.Universe."},
    {"use_time_types", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&use_time_types)),
     METH_FASTCALL,
     "use_time_types($module, time_bar, timestamp, duration, /)\n--\n\n"
     "The bar type bars are made as, and the readers of timestamps and durations."},
    {"resample", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&resample)),
     METH_FASTCALL,
     "resample($module, timestamps, prices, volumes, every, origin, fill, /)\n--\n\n"
     "The columns of the bars a new BarBuilder makes from int64 timestamps and prices: the "
     "native half of barworks.resample."},
    {"builder_state", &builder_state, METH_O,
     "builder_state($module, builder, /)\n--\n\nA BarBuilder's stored form."},
    {"restore_builder", &restore_builder, METH_O,
     "restore_builder($module, data, /)\n--\n\nA new BarBuilder from its stored form."},
    {"columns_as_arrow",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&columns_as_arrow)),
     METH_FASTCALL,
     "columns_as_arrow($module, matrix, names, /)\n--\n\n"
     "A (rows, columns) float64 matrix as an Arrow stream capsule of one struct array whose "
     "children are its named columns: how a universe's answers become a polars frame."},
    {nullptr, nullptr, 0, nullptr},
};

// The classes adopted, then the classes of lanes and bar builders made.
bool prepare(PyObject* module) noexcept {
  return adopt_every_class(module) && add_lanes_class(module) && add_bar_builder_class(module);
}

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

ModuleCell module_cell;

void forget_interpreter() noexcept {
  forget_classes(Adopted{});
  forget_numpy();
  forget_lanes_class();
  forget_time_types();
  forget_module(module_cell);
}

}  // namespace

void refuse_object(PyObject* object, const char* parameter, const char* wanted) noexcept {
  PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, not '%T'", parameter, wanted, object);
}

}  // namespace barworks::companion

PyMODINIT_FUNC PyInit__native() {
  using namespace barworks::companion;
  return barworks::initialise_module(module_definition, module_cell, &prepare, &forget_interpreter);
}
