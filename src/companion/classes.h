// The classes the companion works on, _barworks's and barworks.classic's,
// and the dispatch from a Python object to its record. An object is
// recognised by the exact class object its module made, adopted once when
// the companion is imported; its payload is then read through the same
// Instance<Record> layout.
#pragma once

#include "../frame.h"
#include "../registration.h"

#include "../classes.h"
#include "../classic/classes.h"

namespace barworks::companion {

// Every class of _barworks and barworks.classic, in registration order.
using Adopted = decltype(ModuleClasses{} + classic::Classes{});

// Makes the companion's class cells those of the two modules that register
// the classes, importing them; the classic classes read _barworks's Bar, so
// that module comes first. Each companion module does this at import.
inline bool adopt_every_class(PyObject*) noexcept {
  return adopt_classes("_barworks", ModuleClasses{}) &&
         adopt_classes("barworks._classic", classic::Classes{});
}

template <class Record>
struct IsStreamed : std::bool_constant<requires { &Record::update; }> {};

// Every class an indicator argument may be: the classes fed through next,
// _barworks's and then barworks.classic's, in registration order.
using Dispatched = KeepOnly<IsStreamed, Adopted>;

// Classes whose next takes a bar: _barworks's read a Bar, the classic ones a
// Candle (a real-valued volume).
template <class Record>
concept TakesModuleBars = requires(Record& record, const Bar& bar) { record.update(bar); };
template <class Record>
concept TakesCandles = requires(Record& record, const Candle& bar) { record.update(bar); };
template <class Record>
concept TakesBars = TakesModuleBars<Record> || TakesCandles<Record>;
template <class Record>
using BarOf = std::conditional_t<TakesCandles<Record>, Candle, Bar>;

// Classes whose next takes two floats, x and y.
template <class Record>
concept TakesPairs = requires(Record& record) { record.update(0.0, 0.0); };

// One input of a pair class, as a batch reads it.
struct Pair {
  double x;
  double y;
};

// What next takes, as the refusals name it.
enum class InputKind { kFloat, kBar, kPair };
template <class Record>
inline constexpr InputKind kInputKind =
    TakesBars<Record> ? InputKind::kBar : TakesPairs<Record> ? InputKind::kPair : InputKind::kFloat;

// TypeError naming `parameter`: `object` is not one of `wanted`.
[[gnu::cold]] void refuse_object(PyObject* object, const char* parameter,
                                 const char* wanted) noexcept;

// Calls visit.template operator()<Record>(instance) for the record whose
// class is exactly the object's class; refuses any other object as the
// argument `indicator`.
template <class Visitor, class... Records>
PyObject* dispatch(PyObject* object, Visitor&& visit, ClassList<Records...>) noexcept {
  PyObject* result = nullptr;
  const bool found = ((Py_TYPE(object) == ClassCell<Records>::type
                           ? (result = visit.template operator()<Records>(
                                  instance_of<Records>(object)),
                              true)
                           : false) ||
                      ...);
  if (!found) [[unlikely]] {
    refuse_object(object, "indicator", "a _barworks or barworks.classic indicator or strategy");
  }
  return result;
}

template <class Visitor>
PyObject* dispatch(PyObject* object, Visitor&& visit) noexcept {
  return dispatch(object, visit, Dispatched{});
}

// Access to an instance as the frame's methods take it; false with the
// frame's access error raised ("Already borrowed", or a TypeError for an
// instance whose record was never built).
template <class Record>
bool hold(Instance<Record>& instance, Borrow& borrow, Access access) noexcept {
  borrow = Borrow(instance.access, access);
  if (borrow) [[likely]] return true;
  raise_access_error(reinterpret_cast<PyObject*>(&instance), instance.access, access);
  return false;
}

// Binds the arguments of a module function as the frame binds a method's,
// messages naming "barworks.<name>()": the arguments themselves on the
// common positional call, else `slots`, where a parameter `defaults` marks
// present may be left out (its slot null); null with TypeError set.
template <std::size_t N>
PyObject* const* bind(const char* name, const std::array<const char*, N>& parameters,
                      PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      std::array<PyObject*, N>& slots,
                      const ParameterDefault* defaults = nullptr) noexcept {
  if (nargs == static_cast<Py_ssize_t>(N) && kwnames == nullptr) [[likely]] return args;
  const CallSignature signature{"barworks", name, parameters.data(), N, defaults};
  if (!bind_vector(signature, args, nargs, kwnames, slots.data())) return nullptr;
  return slots.data();
}

// TypeError for an indicator fed through the wrong entry: "<class> takes
// <kind>; use <the entry for its kind>", the entries of peek when `peeking`.
[[gnu::cold]] void refuse_input_kind(const char* class_name, InputKind kind,
                                     bool peeking) noexcept;
template <class Record>
[[gnu::cold]] void refuse_input_kind(bool peeking) noexcept {
  refuse_input_kind(PythonClass<Record>::kName, kInputKind<Record>, peeking);
}

}  // namespace barworks::companion
