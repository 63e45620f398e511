// libFuzzer entry points around an embedded interpreter. The interpreter is
// started once; each input goes to the driver (fuzz/driver.py), which decodes
// it into calls on the module's classes and checks every answer. A call
// that misbehaves makes the driver report it and abort; a memory or
// undefined-behaviour fault in the module is caught by the sanitizers.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

PyObject* run_input = nullptr;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "barworks fuzz: %s\n", what);
  if (PyErr_Occurred()) PyErr_Print();
  std::abort();
}

// Puts `directory` first on sys.path.
void prepend_path(const char* directory) {
  PyObject* path = PySys_GetObject("path");  // borrowed
  PyObject* entry = PyUnicode_FromString(directory);
  if (path == nullptr || entry == nullptr || PyList_Insert(path, 0, entry) < 0) {
    fail("cannot extend sys.path");
  }
  Py_DECREF(entry);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  // Signals stay with libFuzzer and the sanitizers, which report crashes.
  config.install_signal_handlers = 0;
  config.safe_path = 1;
  PyStatus status = Py_InitializeFromConfig(&config);
  PyConfig_Clear(&config);
  if (PyStatus_Exception(status)) Py_ExitStatusException(status);

  prepend_path(BARWORKS_FUZZ_DRIVER_DIR);
  prepend_path(BARWORKS_FUZZ_MODULE_DIR);
  PyObject* driver = PyImport_ImportModule("driver");
  if (driver == nullptr) fail("cannot import the driver");
  // Reports go to a copy of standard error: libFuzzer's -close_fd_mask=2
  // closes the original to quiet the module's notices of refused calls.
  const int report_fd = dup(STDERR_FILENO);
  PyObject* started = PyObject_CallMethod(driver, "start", "i", report_fd);
  if (started == nullptr) fail("the driver did not start");
  Py_DECREF(started);
  run_input = PyObject_GetAttrString(driver, "run");
  Py_DECREF(driver);
  if (run_input == nullptr) fail("the driver has no run()");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PyObject* input = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data),
                                              static_cast<Py_ssize_t>(size));
  if (input == nullptr) fail("cannot pass the input");
  PyObject* result = PyObject_CallOneArg(run_input, input);
  Py_DECREF(input);
  if (result == nullptr) fail("the driver raised");
  Py_DECREF(result);
  return 0;
}
