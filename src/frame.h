// The call frame: turns the descriptions of describe.h into class objects and
// wraps every entry from the interpreter. Each wrapper binds the arguments,
// takes access to the receiver, converts the arguments, calls the record,
// builds the result and releases access on every path, in that order; that
// order is written once, in MethodEntry::call and ConstructorEntry::create
// below.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bar.h"
#include "candle.h"
#include "checkpoint.h"
#include "describe.h"
#include "error.h"

#ifdef Py_GIL_DISABLED
#error "barworks relies on the global interpreter lock to serialise access to its instances"
#endif

namespace barworks {

// ---------------------------------------------------------------------------
// Instance layout: object header, the record, then the access flag.

// The access flag counts holders above kFree. An instance made by its
// constructor starts at kFree; one whose memory was allocated some other way
// (an overridden __new__ calling object.__new__) is zero-filled and stays at
// kNeverBuilt, which no borrow accepts, so its record is never read.
using AccessFlag = std::atomic<std::uintptr_t>;
inline constexpr std::uintptr_t kNeverBuilt = 0;
inline constexpr std::uintptr_t kFree = 1;
inline constexpr std::uintptr_t kHeldExclusively = ~std::uintptr_t{0};

template <class Record>
struct Instance {
  PyObject_HEAD
  Record payload;
  AccessFlag access;
};

template <class Record>
Instance<Record>& instance_of(PyObject* object) noexcept {
  return *reinterpret_cast<Instance<Record>*>(object);
}

// Whether shared access may be taken: one unsigned comparison refuses both
// kNeverBuilt (which wraps to the largest value) and kHeldExclusively.
[[gnu::always_inline]] inline bool shareable(std::uintptr_t holders) noexcept {
  return holders - 1 < kHeldExclusively - 1;
}

// Holds shared or exclusive access to one instance for the life of the guard.
// A guard that failed to take access holds nothing; the caller raises.
//
// Every flag is read and written only by a thread holding the interpreter
// lock, which the frame never gives up between reading and writing it: the
// read-compare-write below is therefore a compare-and-swap that no other
// thread can interleave, without a locked bus cycle on every call.
class Borrow {
 public:
  Borrow() noexcept = default;
  [[gnu::always_inline]] Borrow(AccessFlag& flag, Access access) noexcept {
    const std::uintptr_t holders = flag.load(std::memory_order_relaxed);
    if (access == Access::kExclusive) {
      if (holders != kFree) [[unlikely]] return;
      flag.store(kHeldExclusively, std::memory_order_relaxed);
    } else {
      if (!shareable(holders)) [[unlikely]] return;
      flag.store(holders + 1, std::memory_order_relaxed);
    }
    flag_ = &flag;
    access_ = access;
  }
  Borrow& operator=(Borrow&& other) noexcept {
    release();
    flag_ = std::exchange(other.flag_, nullptr);
    access_ = other.access_;
    return *this;
  }
  [[gnu::always_inline]] ~Borrow() { release(); }
  explicit operator bool() const noexcept { return flag_ != nullptr; }

 private:
  [[gnu::always_inline]] void release() noexcept {
    if (flag_ == nullptr) return;
    // An exclusive holder knows the count it leaves; an atomic load, even a
    // relaxed one, is never dropped by the compiler.
    if (access_ == Access::kExclusive) {
      flag_->store(kFree, std::memory_order_relaxed);
    } else {
      flag_->store(flag_->load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
    }
  }

  AccessFlag* flag_ = nullptr;
  Access access_ = Access::kShared;
};

// ---------------------------------------------------------------------------
// Raising errors. Everything here runs on failure paths only.

// Raises a record's pending error.
[[gnu::cold]] void raise_error(const Error& error) noexcept;
// Raises the internal-fault exception with `message`, after a short report
// on standard error.
[[gnu::cold]] void raise_panic(const char* message) noexcept;
// The interpreter failed to make a result object: print its error and fault.
[[gnu::cold]] void raise_api_failure() noexcept;
// After a C API call reported failure: make sure some exception is set.
[[gnu::cold]] void ensure_error_set() noexcept;
// A borrow of `object` was refused: "Already borrowed" or "Already mutably
// borrowed", or a TypeError when the object's record was never built.
[[gnu::cold]] void raise_access_error(PyObject* object, const AccessFlag& flag,
                                      Access access) noexcept;
// "'<type of object>' object cannot be converted to '<target>'".
[[gnu::cold]] void raise_cannot_convert(PyObject* object, const char* target) noexcept;
// Rewraps the pending conversion error of the parameter `parameter`.
[[gnu::cold]] void raise_argument_error(const char* parameter) noexcept;
// Replaces the pending exception with RuntimeError(message), caused by it.
[[gnu::cold]] void wrap_error(PyObject* message) noexcept;

// The internal-fault exception class, created on first need.
PyObject* panic_exception() noexcept;

// Window buffers come from the interpreter's raw allocator, which memory
// tracing sees and which needs no interpreter lock. Installed at import.
void use_interpreter_allocator() noexcept;

// Forgets the objects the frame keeps for the life of an interpreter. Called
// after the interpreter is finalised (from a Py_AtExit callback: no C API).
void forget_interpreter_objects() noexcept;

// ---------------------------------------------------------------------------
// Binding arguments to parameters by position and keyword.

struct CallSignature {
  const char* class_name;
  const char* function_name;  // "__new__" for constructors
  const char* const* parameters;
  std::size_t count;
  // What each omitted parameter takes; null when every one is required.
  const ParameterDefault* defaults = nullptr;
};

// Fills slots[0..count) from a vector call; false with TypeError set.
[[gnu::cold]] bool bind_vector(const CallSignature& signature, PyObject* const* args,
                               Py_ssize_t nargs, PyObject* kwnames, PyObject** slots) noexcept;
// Fills slots[0..count) from an argument tuple and keyword dictionary.
bool bind_tuple(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                PyObject** slots) noexcept;

// ---------------------------------------------------------------------------
// Conversions of arguments. Each holds the converted value for the call.

template <class Parameter>
struct Argument;

[[gnu::cold]] bool convert_double_slow(PyObject* object, double& value) noexcept;
bool convert_uint32(PyObject* object, std::uint32_t& value) noexcept;

template <>
struct Argument<double> {
  double value;
  // Left unset until converted: the argument tuple would zero it first.
  Argument() noexcept {}
  bool convert(PyObject* object) noexcept {
    if (PyFloat_CheckExact(object)) [[likely]] {
      value = PyFloat_AS_DOUBLE(object);
      return true;
    }
    return convert_double_slow(object, value);
  }
  double get() const noexcept { return value; }
};

template <>
struct Argument<std::uint32_t> {
  std::uint32_t value;
  bool convert(PyObject* object) noexcept { return convert_uint32(object, value); }
  std::uint32_t get() const noexcept { return value; }
};

template <class Record>
PyTypeObject* class_object() noexcept;

// An instance of a described class (a Bar), copied. Nothing runs between
// the check and the copy, so shared access, which would only be taken and
// given back, is checked and not taken; and the copy, unlike the instance,
// never escapes, so its fields can stay in registers.
template <Described Record>
struct Argument<const Record&> {
  static_assert(std::is_trivially_copyable_v<Record>, "an argument record is copied");
  Record value;
  Argument() noexcept {}  // as Argument<double>'s
  [[gnu::always_inline]] bool convert(PyObject* object) noexcept {
    PyTypeObject* type = class_object<Record>();
    if (type == nullptr) return false;
    if (!is_instance(object, type)) [[unlikely]] {
      raise_cannot_convert(object, PythonClass<Record>::kName);
      return false;
    }
    const Record* record = readable(object);
    if (record == nullptr) [[unlikely]] return false;
    value = *record;
    return true;
  }
  // The record of `object`, an instance of the class, where shared access
  // could be taken; else null, with the error raised.
  [[gnu::always_inline]] static const Record* readable(PyObject* object) noexcept {
    const Instance<Record>& instance = instance_of<Record>(object);
    if (!shareable(instance.access.load(std::memory_order_relaxed))) [[unlikely]] {
      raise_access_error(object, instance.access, Access::kShared);
      return nullptr;
    }
    return &instance.payload;
  }
  [[gnu::always_inline]] static bool is_instance(PyObject* object, PyTypeObject* type) noexcept {
    return Py_TYPE(object) == type || PyType_IsSubtype(Py_TYPE(object), type);
  }
  const Record& get() const noexcept { return value; }
};

// A Candle from a Bar (its whole volume made a float) or from any object
// with numeric open, high, low, close and volume attributes, such as a named
// tuple, a dataclass or a row of DataFrame.itertuples(); false with
// TypeError set.
[[gnu::cold]] bool convert_candle_attributes(PyObject* object, Candle& candle) noexcept;

template <>
struct Argument<const Candle&> {
  Candle value;
  Argument() noexcept {}  // as Argument<double>'s
  // Inlined, so that the candle goes to the record in registers.
  [[gnu::always_inline]] bool convert(PyObject* object) noexcept {
    using BarArgument = Argument<const Bar&>;
    PyTypeObject* type = class_object<Bar>();
    if (type == nullptr) return false;
    if (BarArgument::is_instance(object, type)) [[likely]] {
      const Bar* bar = BarArgument::readable(object);
      if (bar == nullptr) [[unlikely]] return false;
      value = Candle::of(*bar);
      return true;
    }
    // Through a local of its own, so that `value` never escapes and the
    // common path's copy of it can stay in registers.
    Candle read{};
    const bool converted = convert_candle_attributes(object, read);
    value = read;
    return converted;
  }
  const Candle& get() const noexcept { return value; }
};

// Converts args[0..N) into the parameters' types, in order; the first failure
// raises the argument error for its parameter name. An omitted (null)
// argument, which binding leaves only where a parameter has a default, takes
// that default.
template <class... Parameters, std::size_t N>
[[gnu::always_inline]] inline bool convert_arguments(
    std::tuple<Argument<Parameters>...>& arguments, PyObject* const* args,
    const std::array<const char*, N>& names,
    const std::array<ParameterDefault, N>& defaults) noexcept {
  static_assert(sizeof...(Parameters) == N,
                "a description must name exactly the parameters its function takes");
  return [&]<std::size_t... I>(std::index_sequence<I...>) __attribute__((always_inline)) {
    return ([&]() __attribute__((always_inline)) {
      auto& argument = std::get<I>(arguments);
      using Parameter = std::tuple_element_t<I, std::tuple<Parameters...>>;
      if constexpr (std::is_same_v<Parameter, std::uint32_t>) {
        if (args[I] == nullptr) {
          argument.value = defaults[I].value;
          return true;
        }
      } else if constexpr (std::is_same_v<Parameter, double>) {
        if (args[I] == nullptr) {
          argument.value = defaults[I].real;
          return true;
        }
      }
      if (argument.convert(args[I])) [[likely]] return true;
      raise_argument_error(names[I]);
      return false;
    }() && ...);
  }(std::index_sequence_for<Parameters...>{});
}

// The same where every parameter is required.
template <class... Parameters, std::size_t N>
[[gnu::always_inline]] inline bool convert_arguments(
    std::tuple<Argument<Parameters>...>& arguments, PyObject* const* args,
    const std::array<const char*, N>& names) noexcept {
  return convert_arguments(arguments, args, names, std::array<ParameterDefault, N>{});
}

// ---------------------------------------------------------------------------
// Results.

template <Described Record>
PyObject* new_instance(PyTypeObject* type, Record&& payload) noexcept {
  allocfunc allocate = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
  PyObject* object = allocate(type, 0);
  if (object == nullptr) [[unlikely]] {
    ensure_error_set();
    return nullptr;
  }
  Instance<Record>& instance = instance_of<Record>(object);
  new (&instance.payload) Record(std::move(payload));
  new (&instance.access) AccessFlag(kFree);
  return object;
}

inline PyObject* checked_result(PyObject* result) noexcept {
  if (result == nullptr) [[unlikely]] raise_api_failure();
  return result;
}

inline PyObject* to_python(double value) noexcept {
  return checked_result(PyFloat_FromDouble(value));
}
inline PyObject* to_python(std::uint32_t value) noexcept {
  return checked_result(PyLong_FromUnsignedLongLong(value));
}
inline PyObject* to_python(std::string_view text) noexcept {
  return checked_result(
      PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
template <std::size_t N>
PyObject* to_python(const std::array<double, N>& values) noexcept {
  PyObject* tuple = PyTuple_New(N);
  if (tuple == nullptr) [[unlikely]] return checked_result(nullptr);
  for (std::size_t i = 0; i < N; ++i) {
    PyObject* item = PyFloat_FromDouble(values[i]);
    if (item == nullptr) [[unlikely]] {
      Py_DECREF(tuple);
      return checked_result(nullptr);
    }
    PyTuple_SET_ITEM(tuple, i, item);
  }
  return tuple;
}
template <Described Record>
PyObject* to_python(Record&& value) noexcept {
  PyTypeObject* type = class_object<Record>();
  if (type == nullptr) [[unlikely]] return nullptr;
  return new_instance(type, std::move(value));
}

// Calls `function` and turns what it returns (or void) into a new reference.
template <class Function>
[[gnu::always_inline]] inline PyObject* call_to_python(Function&& function) noexcept {
  if constexpr (std::is_void_v<decltype(function())>) {
    function();
    return Py_NewRef(Py_None);
  } else {
    return to_python(function());
  }
}

// ---------------------------------------------------------------------------
// Member-function traits: the record, the parameters and the constness.

template <class Function>
struct MemberTraits {
  static_assert(sizeof(Function) == 0,
                "a described method must be a noexcept member function of its record");
};
template <class Record, class Result, class... Parameters>
struct MemberTraits<Result (Record::*)(Parameters...) noexcept> {
  using Arguments = std::tuple<Argument<Parameters>...>;
  static constexpr std::size_t kArity = sizeof...(Parameters);
};
template <class Record, class Result, class... Parameters>
struct MemberTraits<Result (Record::*)(Parameters...) const noexcept>
    : MemberTraits<Result (Record::*)(Parameters...) noexcept> {};

template <class Function>
struct FactoryTraits {
  static_assert(sizeof(Function) == 0, "a constructor must be a static noexcept function");
};
template <class Result, class... Parameters>
struct FactoryTraits<Result (*)(Parameters...) noexcept> {
  using Arguments = std::tuple<Argument<Parameters>...>;
};

// Expanded here rather than through std::apply, whose inner call the
// compiler may keep out of line, passing the arguments through memory.
template <class Record, auto Function, class... Arguments>
[[gnu::always_inline]] inline decltype(auto) invoke(Record& record,
                                                    std::tuple<Arguments...>& arguments) noexcept {
  return [&]<std::size_t... I>(std::index_sequence<I...>)
             __attribute__((always_inline)) -> decltype(auto) {
    return (record.*Function)(std::get<I>(arguments).get()...);
  }(std::index_sequence_for<Arguments...>{});
}

// ---------------------------------------------------------------------------
// Text signatures, built at compile time: "name($self, a, b)\n--\n\n".

template <std::size_t Size>
struct Text {
  std::array<char, Size> chars{};
  constexpr const char* c_str() const noexcept { return chars.data(); }
};

constexpr std::size_t text_length(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

// The decimal digits of a default value, as its signature shows it.
struct Digits {
  std::array<char, 11> chars{};
  constexpr explicit Digits(std::uint32_t value) {
    std::array<char, 10> reversed{};
    std::size_t count = 0;
    do {
      reversed[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    for (std::size_t i = 0; i < count; ++i) chars[i] = reversed[count - 1 - i];
  }
};

// `defaults`, when given, adds "=value" after each parameter that has one.
template <std::size_t N>
constexpr std::size_t signature_length(const char* prefix, const char* name, bool with_self,
                                       const std::array<const char*, N>& parameters,
                                       const std::array<ParameterDefault, N>& defaults = {}) {
  std::size_t length = text_length(prefix) + text_length(name) + 2 + 5;  // "()" "\n--\n\n"
  std::size_t items = N + (with_self ? 1 : 0);
  if (with_self) length += 5;
  for (const char* parameter : parameters) length += text_length(parameter);
  for (std::size_t i = 0; i < N; ++i) {
    if (defaults[i].present) {
      length += 1 + text_length(defaults[i].decimal != nullptr ? defaults[i].decimal
                                                                : Digits(defaults[i].value).chars.data());
    }
  }
  if (items > 1) length += 2 * (items - 1);
  return length + 1;
}

template <std::size_t Size, std::size_t N>
constexpr Text<Size> signature_text(const char* prefix, const char* name, bool with_self,
                                    const std::array<const char*, N>& parameters, bool doc,
                                    const std::array<ParameterDefault, N>& defaults = {}) {
  Text<Size> text;
  std::size_t at = 0;
  auto put = [&](const char* piece) {
    while (*piece != '\0') text.chars[at++] = *piece++;
  };
  put(prefix);
  put(name);
  if (!doc) return text;
  put("(");
  bool first = true;
  if (with_self) {
    put("$self");
    first = false;
  }
  for (std::size_t i = 0; i < N; ++i) {
    if (!first) put(", ");
    put(parameters[i]);
    if (defaults[i].present) {
      put("=");
      if (defaults[i].decimal != nullptr) {
        put(defaults[i].decimal);
      } else {
        put(Digits(defaults[i].value).chars.data());
      }
    }
    first = false;
  }
  put(")\n--\n\n");
  return text;
}

template <class Record, std::size_t I>
inline constexpr auto kMethodDoc = [] {
  constexpr auto& method = std::get<I>(PythonClass<Record>::kMethods);
  return signature_text<signature_length("", method.name, true, method.parameters)>(
      "", method.name, true, method.parameters, true);
}();

template <class Record>
constexpr bool has_constructor() {
  return !std::is_same_v<std::remove_cvref_t<decltype(PythonClass<Record>::kConstructor)>,
                         NoConstructor>;
}

// Only classes with a constructor carry documentation.
template <class Record>
inline constexpr auto kClassDoc = [] {
  constexpr const char* name = PythonClass<Record>::kName;
  constexpr auto& parameters = PythonClass<Record>::kConstructor.parameters;
  constexpr auto& defaults = PythonClass<Record>::kConstructor.defaults;
  return signature_text<signature_length("", name, false, parameters, defaults)>(
      "", name, false, parameters, true, defaults);
}();

template <class Record>
constexpr const char* module_name() {
  if constexpr (requires { PythonClass<Record>::kModule; }) {
    return PythonClass<Record>::kModule;
  } else {
    return "builtins";
  }
}

// "<module>.<name>": the interpreter reports the part before the last dot
// as the class's __module__.
template <class Record>
inline constexpr auto kTypeName = [] {
  constexpr const char* name = PythonClass<Record>::kName;
  constexpr const char* module = module_name<Record>();
  Text<text_length(module) + 1 + text_length(name) + 1> text;
  std::size_t at = 0;
  for (const char* piece : {module, ".", name}) {
    while (*piece != '\0') text.chars[at++] = *piece++;
  }
  return text;
}();

// ---------------------------------------------------------------------------
// Entries from the interpreter.

template <class Record, std::size_t I>
struct MethodEntry {
  static constexpr auto& kMethod = std::get<I>(PythonClass<Record>::kMethods);
  template <auto Function, std::size_t N>
  static constexpr auto function_of(const Method<Function, N>&) {
    return Function;
  }
  static constexpr auto kFunction = function_of(kMethod);
  using Traits = MemberTraits<std::remove_const_t<decltype(kFunction)>>;
  static constexpr std::size_t kArity = Traits::kArity;
  static_assert(kArity == kMethod.parameters.size(),
                "a method's description must name each parameter of its function");
  static constexpr CallSignature kSignature{PythonClass<Record>::kName, kMethod.name,
                                            kMethod.parameters.data(), kArity};

  // Access, conversion, the record's operation and the result: the order of
  // every method call. `args` holds the bound arguments.
  [[gnu::always_inline]] static PyObject* call(PyObject* self, PyObject* const* args) noexcept {
    Instance<Record>& instance = instance_of<Record>(self);
    Borrow borrow(instance.access, kMethod.access);
    if (!borrow) [[unlikely]] {
      raise_access_error(self, instance.access, kMethod.access);
      return nullptr;
    }
    typename Traits::Arguments arguments;
    if (!convert_arguments(arguments, args, kMethod.parameters)) [[unlikely]] return nullptr;
    return call_to_python([&] __attribute__((always_inline)) {
      return invoke<Record, kFunction>(instance.payload, arguments);
    });
  }

  static PyObject* without_arguments(PyObject* self, PyObject*) noexcept {
    return call(self, nullptr);
  }

  static PyObject* with_arguments(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) noexcept {
    if (nargs == static_cast<Py_ssize_t>(kArity) && kwnames == nullptr) [[likely]] {
      return call(self, args);
    }
    std::array<PyObject*, kArity> slots{};
    if (!bind_vector(kSignature, args, nargs, kwnames, slots.data())) return nullptr;
    return call(self, slots.data());
  }

  static PyMethodDef definition() noexcept {
    if constexpr (kArity == 0) {
      return {kMethod.name, reinterpret_cast<PyCFunction>(&without_arguments), METH_NOARGS,
              kMethodDoc<Record, I>.c_str()};
    } else {
      return {kMethod.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&with_arguments)),
              METH_FASTCALL | METH_KEYWORDS, kMethodDoc<Record, I>.c_str()};
    }
  }
};

template <class Record>
struct ConstructorEntry {
  static constexpr auto& kConstructor = PythonClass<Record>::kConstructor;
  template <auto Function, std::size_t N>
  static constexpr auto function_of(const Constructor<Function, N>&) {
    return Function;
  }
  static constexpr auto kFunction = function_of(kConstructor);
  static constexpr std::size_t kArity = kConstructor.parameters.size();
  static constexpr CallSignature kSignature{PythonClass<Record>::kName, "__new__",
                                            kConstructor.parameters.data(), kArity,
                                            kConstructor.defaults.data()};
  static_assert(
      [] {
        bool defaulted = false;
        for (const ParameterDefault& parameter_default : kConstructor.defaults) {
          if (defaulted && !parameter_default.present) return false;
          defaulted = parameter_default.present;
        }
        return true;
      }(),
      "a parameter with a default may be followed only by parameters with defaults");

  static PyObject* create(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    std::array<PyObject*, kArity> slots{};
    if (!bind_tuple(kSignature, args, kwargs, slots.data())) return nullptr;
    typename FactoryTraits<std::remove_const_t<decltype(kFunction)>>::Arguments arguments;
    if (!convert_arguments(arguments, slots.data(), kConstructor.parameters,
                           kConstructor.defaults)) {
      return nullptr;
    }
    auto made = std::apply([](auto&... argument) { return kFunction(argument.get()...); },
                           arguments);
    if constexpr (std::is_same_v<decltype(made), Record>) {
      return new_instance(type, std::move(made));
    } else {
      if (!made) [[unlikely]] {
        raise_error(made.error());
        return nullptr;
      }
      return new_instance(type, std::move(*made));
    }
  }
};

[[gnu::cold]] PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) noexcept;

template <class Record>
void deallocate(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  Instance<Record>& instance = instance_of<Record>(self);
  // A never-built record holds nothing to release.
  if (instance.access.load(std::memory_order_relaxed) != kNeverBuilt) instance.payload.~Record();
  type->tp_free(self);
  Py_DECREF(type);
}

// Instances of a class with a free list (kFreeList in its description) keep
// their memory after deallocation, up to kFreeList objects, for the next
// allocation: a class whose instances are made and dropped on every call
// (a strategy's Signal) then skips the object allocator, as the
// interpreter's own floats and tuples do. The list holds raw memory from the
// object allocator; it is dropped, not freed, when the interpreter ends.
template <class Record>
struct FreeList {
  static constexpr std::size_t kCapacity = PythonClass<Record>::kFreeList;
  static inline std::array<void*, kCapacity> memory{};
  static inline std::size_t count = 0;

  static PyObject* allocate(PyTypeObject* type, Py_ssize_t items) noexcept {
    if (count == 0 || items != 0) return PyType_GenericAlloc(type, items);
    void* object = memory[--count];
    // Zero-filled as a fresh allocation is: an instance made without its
    // constructor must read as never built.
    std::memset(object, 0, sizeof(Instance<Record>));
    return PyObject_Init(static_cast<PyObject*>(object), type);
  }
  static void release(void* object) noexcept {
    if (count == kCapacity) return PyObject_Free(object);
    memory[count++] = object;
  }
  static void forget() noexcept { count = 0; }
};

template <class Record>
constexpr bool has_free_list() {
  return requires { PythonClass<Record>::kFreeList; };
}

template <auto Function>
constexpr auto text_function(Repr<Function>) { return Function; }
template <auto Function>
constexpr auto int_function(IntConversion<Function>) { return Function; }
template <auto Function>
constexpr auto equality_function(IntegerEquality<Function>) { return Function; }

// Slots read their receiver under shared access.
template <class Record, auto Function>
PyObject* read_slot(PyObject* self) noexcept {
  Instance<Record>& instance = instance_of<Record>(self);
  Borrow borrow(instance.access, Access::kShared);
  if (!borrow) {
    raise_access_error(self, instance.access, Access::kShared);
    return nullptr;
  }
  return to_python((instance.payload.*Function)());
}

// == and != against instances of the class and against anything that
// converts to an integer; everything else is left to Python. Never raises.
template <class Record, auto Function>
PyObject* compare_slot(PyObject* self, PyObject* other, int op) noexcept {
  Instance<Record>& instance = instance_of<Record>(self);
  Borrow borrow(instance.access, Access::kShared);
  if (!borrow || op < Py_LT || op > Py_GE) Py_RETURN_NOTIMPLEMENTED;
  const long long mine = (instance.payload.*Function)();
  long long theirs;
  PyTypeObject* type = Py_TYPE(self);
  if (Py_TYPE(other) == type || PyType_IsSubtype(Py_TYPE(other), type)) {
    Instance<Record>& other_instance = instance_of<Record>(other);
    Borrow other_borrow(other_instance.access, Access::kShared);
    if (!other_borrow) Py_RETURN_NOTIMPLEMENTED;
    theirs = (other_instance.payload.*Function)();
  } else {
    theirs = PyLong_AsLongLong(other);
    if (theirs == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      Py_RETURN_NOTIMPLEMENTED;
    }
  }
  if (op == Py_EQ) return PyBool_FromLong(mine == theirs);
  if (op == Py_NE) return PyBool_FromLong(mine != theirs);
  Py_RETURN_NOTIMPLEMENTED;
}

// ---------------------------------------------------------------------------
// Class objects: created once on first need, then cached for the process.

// The once-only class-attribute step of one class. It runs when its module
// registers the class, during the import, which no other thread can enter;
// `running` lets a nested request from the step itself (an attribute's value
// asking for its own class) return at once instead of recursing.
struct AttributeStep {
  std::atomic<bool> completed{false};
  bool running = false;
};
[[gnu::cold]] bool run_attribute_step(AttributeStep& step, PyTypeObject* type,
                                      const char* class_name, std::size_t count,
                                      const char* const* names,
                                      PyObject* (*make)(PyTypeObject*, std::size_t)) noexcept;
[[gnu::cold]] PyTypeObject* create_type(PyType_Spec& blueprint, PyTypeObject*& cell) noexcept;
[[gnu::cold]] void wrap_class_error(const char* class_name) noexcept;

template <class Record>
struct ClassCell {
  static inline PyTypeObject* type = nullptr;
  static inline AttributeStep step;
};

// Forgets the class object of Record and its attribute step, after the
// interpreter that owned them was finalised: a new interpreter makes them
// anew. Runs without the C API.
template <class Record>
void forget_class() noexcept {
  using Cell = ClassCell<Record>;
  Cell::type = nullptr;
  Cell::step.completed.store(false, std::memory_order_release);
  Cell::step.running = false;
  if constexpr (has_free_list<Record>()) FreeList<Record>::forget();
}

template <class Record>
constexpr std::size_t attribute_count() {
  if constexpr (requires { PythonClass<Record>::kAttributes; }) {
    return PythonClass<Record>::kAttributes.size();
  } else {
    return 0;
  }
}

template <class Record>
PyObject* make_attribute(PyTypeObject* type, std::size_t index) noexcept {
  if constexpr (attribute_count<Record>() > 0) {
    Record value = PythonClass<Record>::kAttributes[index].value;
    return new_instance(type, std::move(value));
  } else {
    (void)type;
    (void)index;
    return nullptr;
  }
}

// What a class object carries of its record's layout (as its Py_tp_token),
// so that another module adopting the class can check that it reads the
// instances as they were laid out where they were made.
struct LayoutToken {
  std::array<char, 8> magic;
  std::uint64_t fingerprint;
};
inline constexpr std::array<char, 8> kLayoutMagic{'b', 'a', 'r', 'w', 'o', 'r', 'k', 's'};

template <class Record>
constexpr std::uint64_t layout_fingerprint() {
  const std::uint64_t instance = checkpoint_layout::mix(0xCBF29CE484222325, std::uint64_t{sizeof(Instance<Record>)});
  if constexpr (Checkpointed<Record>) {
    return checkpoint_layout::mix(instance, checkpoint_layout::fingerprint<Record>());
  } else {
    return instance;
  }
}

template <class Record>
inline constexpr LayoutToken kLayoutToken{kLayoutMagic, layout_fingerprint<Record>()};

template <class Record>
PyType_Spec& type_blueprint() noexcept {
  using D = PythonClass<Record>;
  constexpr std::size_t kMethodCount = std::tuple_size_v<std::remove_cvref_t<decltype(D::kMethods)>>;
  static std::array<PyMethodDef, kMethodCount + 1> methods = [] {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      return std::array<PyMethodDef, kMethodCount + 1>{MethodEntry<Record, I>::definition()...,
                                                       PyMethodDef{}};
    }(std::make_index_sequence<kMethodCount>{});
  }();
  // Documentation and constructor (or the refusing constructor), the optional
  // special slots, methods, base, deallocation, the layout token and the
  // terminator.
  constexpr std::size_t kSlotCount =
      (has_constructor<Record>() ? 2 : 1) + (requires { D::kRepr; } ? 1 : 0) +
      (requires { D::kInt; } ? 1 : 0) + (requires { D::kEquality; } ? 1 : 0) +
      (kMethodCount > 0 ? 1 : 0) + (has_free_list<Record>() ? 2 : 0) + 4;
  static std::array<PyType_Slot, kSlotCount> slots = [] {
    std::array<PyType_Slot, kSlotCount> list{};
    std::size_t at = 0;
    // Every class is made during import, so a count that disagrees with the
    // list below stops the first test run, before any slot is written out of
    // bounds.
    auto put = [&](int slot, void* function) {
      if (at == kSlotCount) std::abort();
      list[at++] = {slot, function};
    };
    if constexpr (has_constructor<Record>()) {
      put(Py_tp_doc, const_cast<char*>(kClassDoc<Record>.c_str()));
      put(Py_tp_new, reinterpret_cast<void*>(&ConstructorEntry<Record>::create));
    }
    if constexpr (requires { D::kRepr; }) {
      put(Py_tp_repr, reinterpret_cast<void*>(&read_slot<Record, text_function(D::kRepr)>));
    }
    if constexpr (requires { D::kInt; }) {
      put(Py_nb_int, reinterpret_cast<void*>(&read_slot<Record, int_function(D::kInt)>));
    }
    if constexpr (requires { D::kEquality; }) {
      put(Py_tp_richcompare,
          reinterpret_cast<void*>(&compare_slot<Record, equality_function(D::kEquality)>));
    }
    if constexpr (kMethodCount > 0) put(Py_tp_methods, methods.data());
    put(Py_tp_base, &PyBaseObject_Type);
    if constexpr (!has_constructor<Record>()) {
      put(Py_tp_new, reinterpret_cast<void*>(&refuse_construction));
    }
    put(Py_tp_dealloc, reinterpret_cast<void*>(&deallocate<Record>));
    put(Py_tp_token, const_cast<LayoutToken*>(&kLayoutToken<Record>));
    if constexpr (has_free_list<Record>()) {
      put(Py_tp_alloc, reinterpret_cast<void*>(&FreeList<Record>::allocate));
      put(Py_tp_free, reinterpret_cast<void*>(&FreeList<Record>::release));
    }
    put(0, nullptr);
    if (at != kSlotCount) std::abort();
    return list;
  }();
  static PyType_Spec blueprint{kTypeName<Record>.c_str(), static_cast<int>(sizeof(Instance<Record>)), 0,
                          Py_TPFLAGS_DEFAULT, slots.data()};
  return blueprint;
}

template <class Record>
[[gnu::cold]] PyTypeObject* initialise_class() noexcept {
  using Cell = ClassCell<Record>;
  using D = PythonClass<Record>;
  if (Cell::type == nullptr && create_type(type_blueprint<Record>(), Cell::type) == nullptr) {
    wrap_class_error(D::kName);
    return nullptr;
  }
  if constexpr (attribute_count<Record>() > 0) {
    static constexpr auto kNames = [] {
      std::array<const char*, attribute_count<Record>()> names{};
      for (std::size_t i = 0; i < names.size(); ++i) names[i] = D::kAttributes[i].name;
      return names;
    }();
    if (!run_attribute_step(Cell::step, Cell::type, D::kName, kNames.size(), kNames.data(),
                            &make_attribute<Record>)) {
      wrap_class_error(D::kName);
      return nullptr;
    }
  }
  return Cell::type;
}

// The class object of a record: a borrowed reference, or null with an
// exception set when the class cannot be made.
template <class Record>
PyTypeObject* class_object() noexcept {
  using Cell = ClassCell<Record>;
  if (Cell::type != nullptr) [[likely]] {
    if constexpr (attribute_count<Record>() == 0) return Cell::type;
    if (Cell::step.completed.load(std::memory_order_acquire)) [[likely]] return Cell::type;
  }
  return initialise_class<Record>();
}

}  // namespace barworks
