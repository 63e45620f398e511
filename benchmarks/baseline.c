/* The benchmarks' yardstick: methods with the calling convention of every
   next() (fast call with keywords, one argument) that do nothing but return
   a new float, or a new tuple of two or three new floats as the classes
   answering pairs and triples do. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

typedef struct {
  PyObject_HEAD
} Baseline;

static PyObject* baseline_next(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  (void)self;
  (void)args;
  (void)nargs;
  (void)kwnames;
  return PyFloat_FromDouble(1.5);
}

static PyObject* new_tuple_of_floats(Py_ssize_t size) {
  PyObject* tuple = PyTuple_New(size);
  if (tuple == NULL) return NULL;
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyObject* item = PyFloat_FromDouble(1.5 + (double)i);
    if (item == NULL) {
      Py_DECREF(tuple);
      return NULL;
    }
    PyTuple_SET_ITEM(tuple, i, item);
  }
  return tuple;
}

static PyObject* baseline_next_pair(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  (void)self;
  (void)args;
  (void)nargs;
  (void)kwnames;
  return new_tuple_of_floats(2);
}

static PyObject* baseline_next_tuple(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  (void)self;
  (void)args;
  (void)nargs;
  (void)kwnames;
  return new_tuple_of_floats(3);
}

static PyMethodDef baseline_methods[] = {
    {"next", (PyCFunction)(void (*)(void))baseline_next, METH_FASTCALL | METH_KEYWORDS, NULL},
    {"next_pair", (PyCFunction)(void (*)(void))baseline_next_pair,
     METH_FASTCALL | METH_KEYWORDS, NULL},
    {"next_tuple", (PyCFunction)(void (*)(void))baseline_next_tuple,
     METH_FASTCALL | METH_KEYWORDS, NULL},
    {NULL, NULL, 0, NULL},
};

static PyType_Slot baseline_slots[] = {
    {Py_tp_methods, baseline_methods},
    {Py_tp_new, PyType_GenericNew},
    {0, NULL},
};

static PyType_Spec baseline_blueprint = {"_baseline.Baseline", sizeof(Baseline), 0, Py_TPFLAGS_DEFAULT,
                                    baseline_slots};

static struct PyModuleDef baseline_module = {PyModuleDef_HEAD_INIT, "_baseline", NULL, -1, NULL};

PyMODINIT_FUNC PyInit__baseline(void) {
  PyObject* module = PyModule_Create(&baseline_module);
  if (module == NULL) return NULL;
  PyObject* type = PyType_FromSpec(&baseline_blueprint);
  if (type == NULL || PyModule_AddObjectRef(module, "Baseline", type) < 0) {
    Py_XDECREF(type);
    Py_DECREF(module);
    return NULL;
  }
  Py_DECREF(type);
  return module;
}
