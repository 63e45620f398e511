#include "frame.h"

#include "window.h"

#include <atomic>
#include <cstdio>
#include <iterator>
#include <cstdlib>

namespace barworks {

namespace {

constexpr char kPanicDoc[] =
    "Raised when an internal fault occurs in native code called from Python.\n\n"
    "It derives from BaseException, not Exception, so that it normally propagates\n"
    "to the top of the program instead of being caught by broad handlers.";

PyObject* panic_class = nullptr;

// Ends the process when a fault cannot even be reported as an exception.
[[noreturn]] void abort_uncontained() noexcept {
  std::fputs("uncaught panic at ffi boundary\n", stderr);
  std::abort();
}

// Prints `exception` (a new reference, consumed) to standard error without
// acting on it: unlike PyErr_Print, a SystemExit does not end the process and
// a KeyboardInterrupt does not mark the interpreter's exit status. Whatever
// fails while printing is dropped too.
void print_exception(PyObject* exception) noexcept {
  PyErr_DisplayException(exception);
  Py_DECREF(exception);
  PyErr_Clear();
}

// Prints the pending exception, which must be set, and clears it.
void print_pending_error() noexcept { print_exception(PyErr_GetRaisedException()); }

bool is_panic(PyObject* exception) noexcept {
  // The fault may come from another module on this frame before this one
  // has needed the class itself.
  PyObject* type = panic_exception();
  if (type == nullptr) PyErr_Clear();
  return type != nullptr && PyErr_GivenExceptionMatches(exception, type);
}

// A fault raised by Python code that a conversion ran: report it and carry it
// on as a new fault with the same message.
void resume_panic(PyObject* exception) noexcept {
  PyObject* message = PyObject_Str(exception);
  if (message == nullptr) PyErr_Clear();
  std::fputs("barworks: resuming an internal fault fetched from Python code\n"
             "barworks: the fault as it was raised there:\n",
             stderr);
  print_exception(exception);
  if (message == nullptr) {
    raise_panic("internal fault in native code");
    return;
  }
  PyErr_SetObject(panic_class, message);
  Py_DECREF(message);
}

void fill_positional(PyObject* const* args, Py_ssize_t nargs, PyObject** slots,
                     std::size_t count) noexcept {
  for (std::size_t i = 0; i < count; ++i) {
    slots[i] = static_cast<Py_ssize_t>(i) < nargs ? args[i] : nullptr;
  }
}

bool refuse_surplus(const CallSignature& signature, Py_ssize_t nargs) noexcept {
  if (static_cast<std::size_t>(nargs) <= signature.count) return true;
  PyErr_Format(PyExc_TypeError, "%s.%s() takes %zu positional arguments but %zd %s given",
               signature.class_name, signature.function_name, signature.count, nargs,
               nargs == 1 ? "was" : "were");
  return false;
}

bool take_keyword(const CallSignature& signature, PyObject** slots, PyObject* name,
                  PyObject* value) noexcept {
  if (PyUnicode_Check(name)) {
    for (std::size_t i = 0; i < signature.count; ++i) {
      if (!PyUnicode_EqualToUTF8(name, signature.parameters[i])) continue;
      if (slots[i] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s.%s() got multiple values for argument '%s'",
                     signature.class_name, signature.function_name, signature.parameters[i]);
        return false;
      }
      slots[i] = value;
      return true;
    }
  }
  // str() of a keyword name runs the code of a str subclass, which may fail.
  PyObject* message =
      PyUnicode_FromFormat("%s.%s() got an unexpected keyword argument '%S'",
                           signature.class_name, signature.function_name, name);
  if (message == nullptr) {
    raise_api_failure();
    return false;
  }
  PyErr_SetObject(PyExc_TypeError, message);
  Py_DECREF(message);
  return false;
}

// An omitted parameter with a default is not missing: its slot stays null
// and conversion gives it the default.
bool refuse_missing(const CallSignature& signature, PyObject* const* slots) noexcept {
  auto is_missing = [&](std::size_t i) {
    return slots[i] == nullptr &&
           (signature.defaults == nullptr || !signature.defaults[i].present);
  };
  std::size_t missing = 0;
  for (std::size_t i = 0; i < signature.count; ++i) missing += is_missing(i);
  if (missing == 0) return true;
  // 'a'; 'a' and 'b'; 'a', 'b', and 'c'. Parameter names are short and few.
  char names[512];
  std::size_t at = 0;
  std::size_t listed = 0;
  for (std::size_t i = 0; i < signature.count; ++i) {
    if (!is_missing(i)) continue;
    const char* separator = listed == 0 ? "" : missing == 2 ? " and " : listed + 1 == missing ? ", and " : ", ";
    int written = std::snprintf(names + at, sizeof names - at, "%s'%s'", separator,
                                signature.parameters[i]);
    if (written > 0) at = std::min(sizeof names - 1, at + static_cast<std::size_t>(written));
    ++listed;
  }
  PyErr_Format(PyExc_TypeError, "%s.%s() missing %zu required positional argument%s: %s",
               signature.class_name, signature.function_name, missing, missing == 1 ? "" : "s",
               names);
  return false;
}

}  // namespace

// Every extension module built on this frame has its own copy of it, yet
// all of them must raise one and the same fault class, or a handler written
// for one module's faults would miss another's. The first module to need the
// class creates it and leaves it in the interpreter's dictionary for
// extensions; the others find it there.
PyObject* panic_exception() noexcept {
  if (panic_class != nullptr) return panic_class;
  constexpr const char* kSharedKey = "barworks_runtime.PanicException";
  PyObject* shared = PyInterpreterState_GetDict(PyInterpreterState_Get());
  if (shared != nullptr) {
    PyObject* found = nullptr;
    if (PyDict_GetItemStringRef(shared, kSharedKey, &found) < 0) return nullptr;
    if (found != nullptr) return panic_class = found;
  }
  panic_class = PyErr_NewExceptionWithDoc(kSharedKey, kPanicDoc, PyExc_BaseException, nullptr);
  if (panic_class != nullptr && shared != nullptr &&
      PyDict_SetItemString(shared, kSharedKey, panic_class) < 0) {
    PyErr_Clear();
  }
  return panic_class;
}

namespace {
void* raw_calloc(std::size_t count, std::size_t size) noexcept {
  return PyMem_RawCalloc(count, size);
}
void raw_free(void* data) noexcept { PyMem_RawFree(data); }
}  // namespace

void use_interpreter_allocator() noexcept { use_window_allocator({raw_calloc, raw_free}); }

void forget_interpreter_objects() noexcept { panic_class = nullptr; }

void raise_panic(const char* message) noexcept {
  std::fprintf(stderr, "barworks: internal fault: %s\n", message);
  PyObject* type = panic_exception();
  if (type == nullptr) abort_uncontained();
  PyErr_SetString(type, message);
}

void raise_error(const Error& error) noexcept {
  switch (error.kind) {
    case ErrorKind::kValue:
      PyErr_SetString(PyExc_ValueError, error.message);
      return;
    case ErrorKind::kMemory:
      PyErr_NoMemory();
      return;
    case ErrorKind::kPanic:
      raise_panic(error.message != nullptr ? error.message : "internal fault in native code");
      return;
  }
  abort_uncontained();
}

void ensure_error_set() noexcept {
  if (!PyErr_Occurred()) {
    PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
}

void raise_api_failure() noexcept {
  ensure_error_set();
  print_pending_error();
  raise_panic("Python API call failed");
}

void raise_access_error(PyObject* object, const AccessFlag& flag, Access access) noexcept {
  if (flag.load(std::memory_order_relaxed) == kNeverBuilt) {
    PyObject* name = PyType_GetName(Py_TYPE(object));
    if (name == nullptr) {
      raise_api_failure();
      return;
    }
    PyErr_Format(PyExc_TypeError, "%U object was not initialized by its constructor", name);
    Py_DECREF(name);
    return;
  }
  PyErr_SetString(PyExc_RuntimeError,
                  access == Access::kExclusive ? "Already borrowed" : "Already mutably borrowed");
}

void raise_cannot_convert(PyObject* object, const char* target) noexcept {
  PyObject* name = PyType_GetQualName(Py_TYPE(object));
  if (name == nullptr) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError,
                 "'<failed to extract type name>' object cannot be converted to '%s'", target);
    return;
  }
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name, target);
  Py_DECREF(name);
}

void raise_argument_error(const char* parameter) noexcept {
  PyObject* exception = PyErr_GetRaisedException();
  if (exception == nullptr) {
    ensure_error_set();
    return;
  }
  if (is_panic(exception)) {
    resume_panic(exception);
    return;
  }
  if (Py_TYPE(exception) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(exception);
    return;
  }
  PyObject* message = PyUnicode_FromFormat("argument '%s': %S", parameter, exception);
  PyObject* replacement =
      message != nullptr ? PyObject_CallOneArg(PyExc_TypeError, message) : nullptr;
  Py_XDECREF(message);
  if (replacement == nullptr) {
    Py_DECREF(exception);
    raise_api_failure();
    return;
  }
  // The conversion's own exception is not chained; its cause carries over.
  if (PyObject* cause = PyException_GetCause(exception)) PyException_SetCause(replacement, cause);
  Py_DECREF(exception);
  PyErr_SetRaisedException(replacement);
}

void wrap_error(PyObject* message) noexcept {
  ensure_error_set();
  PyObject* cause = PyErr_GetRaisedException();
  PyObject* wrapped = message != nullptr ? PyObject_CallOneArg(PyExc_RuntimeError, message) : nullptr;
  Py_XDECREF(message);
  if (wrapped == nullptr) {
    Py_DECREF(cause);
    raise_api_failure();
    return;
  }
  PyException_SetCause(wrapped, cause);
  PyErr_SetRaisedException(wrapped);
}

void wrap_class_error(const char* class_name) noexcept {
  wrap_error(PyUnicode_FromFormat("An error occurred while initializing class %s", class_name));
}

namespace {
// The last subclass of float met, numpy's float64 when a loop walks an
// array: its instances read as floats without a walk up its ancestry each
// call. Only a static type is kept, as it is never freed.
std::atomic<PyTypeObject*> known_float_subtype{nullptr};
}  // namespace

bool convert_double_slow(PyObject* object, double& value) noexcept {
  PyTypeObject* const type = Py_TYPE(object);
  if (type == known_float_subtype.load(std::memory_order_relaxed)) {
    value = PyFloat_AS_DOUBLE(object);
    return true;
  }
  if (PyFloat_Check(object)) {
    if (!PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) {
      known_float_subtype.store(type, std::memory_order_relaxed);
    }
    value = PyFloat_AS_DOUBLE(object);
    return true;
  }
  const double converted = PyFloat_AsDouble(object);
  if (converted == -1.0 && PyErr_Occurred()) return false;
  value = converted;
  return true;
}

namespace {
constexpr const char* kCandleFields[] = {"open", "high", "low", "close", "volume"};
// Looked up by interned names, made once: a fresh name per call costs an
// allocation, and the interpreter's attribute cache would keep hold of it.
PyObject* candle_field_names[std::size(kCandleFields)] = {};

bool intern_candle_field_names() noexcept {
  for (std::size_t i = 0; i < std::size(kCandleFields); ++i) {
    if (candle_field_names[i] != nullptr) continue;
    candle_field_names[i] = PyUnicode_InternFromString(kCandleFields[i]);
    if (candle_field_names[i] == nullptr) return false;
  }
  return true;
}
}  // namespace

bool convert_candle_attributes(PyObject* object, Candle& candle) noexcept {
  // Filled in order: the last name set means all are.
  if (candle_field_names[std::size(kCandleFields) - 1] == nullptr && !intern_candle_field_names())
      [[unlikely]] {
    return false;
  }
  double* const cells[] = {&candle.open, &candle.high, &candle.low, &candle.close,
                           &candle.volume};
  for (std::size_t i = 0; i < std::size(kCandleFields); ++i) {
    PyObject* field = nullptr;
    if (PyObject_GetOptionalAttr(object, candle_field_names[i], &field) < 0) return false;
    if (field == nullptr) {
      PyObject* name = PyType_GetQualName(Py_TYPE(object));
      if (name == nullptr) return false;
      PyErr_Format(PyExc_TypeError,
                   "expected a Bar or an object with numeric open, high, low, close and volume "
                   "attributes, got '%U', which has no '%s'",
                   name, kCandleFields[i]);
      Py_DECREF(name);
      return false;
    }
    Argument<double> number;
    const bool converted = number.convert(field);
    Py_DECREF(field);
    if (!converted) [[unlikely]] {
      // A TypeError gains the field's name; anything else passes unchanged.
      if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyObject* cause = PyErr_GetRaisedException();
        PyErr_Format(PyExc_TypeError, "field '%s': %S", kCandleFields[i], cause);
        Py_DECREF(cause);
      }
      return false;
    }
    *cells[i] = number.get();
  }
  return true;
}

bool convert_uint32(PyObject* object, std::uint32_t& value) noexcept {
  unsigned long long converted;
  if (PyLong_Check(object)) [[likely]] {
    converted = PyLong_AsUnsignedLongLong(object);
  } else {
    PyObject* index = PyNumber_Index(object);
    if (index == nullptr) return false;
    converted = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
  }
  if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  if (converted > UINT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
  }
  value = static_cast<std::uint32_t>(converted);
  return true;
}

bool bind_vector(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames, PyObject** slots) noexcept {
  if (!refuse_surplus(signature, nargs)) return false;
  fill_positional(args, nargs, slots, signature.count);
  const Py_ssize_t keywords = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    if (!take_keyword(signature, slots, PyTuple_GET_ITEM(kwnames, k), args[nargs + k])) {
      return false;
    }
  }
  return refuse_missing(signature, slots);
}

bool bind_tuple(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                PyObject** slots) noexcept {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (!refuse_surplus(signature, nargs)) return false;
  fill_positional(&PyTuple_GET_ITEM(args, 0), nargs, slots, signature.count);
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* name;
    PyObject* value;
    while (PyDict_Next(kwargs, &position, &name, &value)) {
      if (!take_keyword(signature, slots, name, value)) return false;
    }
  }
  return refuse_missing(signature, slots);
}

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) noexcept {
  PyObject* name = PyType_GetName(type);
  if (name == nullptr) return nullptr;
  PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name);
  Py_DECREF(name);
  return nullptr;
}

PyTypeObject* create_type(PyType_Spec& blueprint, PyTypeObject*& cell) noexcept {
  PyObject* type = PyType_FromSpec(&blueprint);
  if (type == nullptr) {
    ensure_error_set();
    return nullptr;
  }
  // The lock can be released while a class is made: the first stored wins.
  if (cell == nullptr) {
    cell = reinterpret_cast<PyTypeObject*>(type);
  } else {
    Py_DECREF(type);
  }
  return cell;
}

bool run_attribute_step(AttributeStep& step, PyTypeObject* type, const char* class_name,
                        std::size_t count, const char* const* names,
                        PyObject* (*make)(PyTypeObject*, std::size_t)) noexcept {
  if (step.completed.load(std::memory_order_acquire) || step.running) return true;
  step.running = true;
  auto forget = [&] { step.running = false; };

  constexpr std::size_t kMaxAttributes = 16;
  if (count > kMaxAttributes) abort_uncontained();
  std::array<PyObject*, kMaxAttributes> values{};
  auto release_values = [&] {
    for (PyObject*& value : values) Py_CLEAR(value);
  };
  for (std::size_t i = 0; i < count; ++i) {
    values[i] = make(type, i);
    if (values[i] == nullptr) {
      wrap_error(PyUnicode_FromFormat("An error occurred while initializing `%s.%s`", class_name,
                                      names[i]));
      release_values();
      forget();
      return false;
    }
  }
  if (!step.completed.load(std::memory_order_acquire)) {
    for (std::size_t i = 0; i < count; ++i) {
      if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), names[i], values[i]) < 0) {
        wrap_error(PyUnicode_FromFormat("An error occurred while initializing `%s.__dict__`",
                                        class_name));
        release_values();
        forget();
        return false;
      }
    }
  }
  release_values();
  step.completed.store(true, std::memory_order_release);
  step.running = false;
  return true;
}

}  // namespace barworks
