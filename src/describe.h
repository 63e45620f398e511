// The vocabulary in which a record states its Python class: names, text
// signatures, parameters and access modes. The frame turns these
// descriptions into class objects; records state them without touching the
// interpreter.
//
// A record R is described by a specialisation of PythonClass<R> with
//   kName         the class name;
//   kConstructor  constructor<&R::create>("param", ...) or kNoConstructor;
//                 an integer parameter may be with_default("param", value);
//   kMethods      a std::tuple of method<&R::fn>("name", access, "param"...);
// and optionally
//   kModule       the module the class reports as its __module__ (the type
//                 name's prefix); "builtins" when absent;
//   kAttributes   a std::array of Attribute<R>: class attributes, each a new
//                 instance holding the given record;
//   kRepr         repr<&R::fn>: the text of repr() and str();
//   kInt          integer_conversion<&R::fn>: the value of int();
//   kEquality     integer_equality<&R::fn>: == and != against instances of
//                 the class and against integers, by the integer fn gives.
//   kFreeList     how many freed instances to keep for reuse;
//   kAnswers      for a class whose next answers a tuple, the names of its
//                 parts in order (a table of its answers names its columns).
//
// Parameter and result types come from the member function's own type:
// double, std::uint32_t, const R& of a described record (shared access to
// an instance), a described record returned by value (a new instance),
// std::array<double, N> (a tuple of floats) and void (None).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>

namespace barworks {

enum class Access : std::uint8_t { kShared, kExclusive };

template <class Record>
struct PythonClass;

template <class Record>
concept Described = requires { PythonClass<Record>::kName; };

template <auto Function, std::size_t N>
struct Method {
  const char* name;
  Access access;
  std::array<const char*, N> parameters;
};

template <auto Function, class... Names>
constexpr Method<Function, sizeof...(Names)> method(const char* name, Access access,
                                                    Names... parameters) {
  return {name, access, {parameters...}};
}

// A constructor parameter that a caller may omit, among a constructor's
// parameter names: an integer, with_default("n", 9), shown as n=9 in its
// signature; or a float given as its decimal text, with_default("f", "0.7"),
// shown as f=0.7 and taken as the double nearest that decimal.
struct DefaultedParameter {
  const char* name;
  std::uint32_t value;
  const char* decimal = nullptr;
};

constexpr DefaultedParameter with_default(const char* name, std::uint32_t value) {
  return {name, value};
}
constexpr DefaultedParameter with_default(const char* name, const char* decimal) {
  return {name, 0, decimal};
}

// The double nearest a plain decimal ("2.0", "0.02"): its digits as a whole
// number divided by a power of ten, each exact, so the one division rounds
// correctly. Up to 15 significant digits and 22 decimals.
constexpr double decimal_value(const char* text) {
  double digits = 0.0, scale = 1.0;
  bool fraction = false;
  for (; *text != '\0'; ++text) {
    if (*text == '.') {
      fraction = true;
      continue;
    }
    digits = digits * 10.0 + (*text - '0');
    if (fraction) scale *= 10.0;
  }
  return digits / scale;
}

// What a parameter takes when the caller omits it: nothing (it is required),
// an integer, or a double with the decimal it is shown as.
struct ParameterDefault {
  bool present = false;
  std::uint32_t value = 0;
  double real = 0.0;
  const char* decimal = nullptr;
};

constexpr const char* parameter_name(const char* name) { return name; }
constexpr const char* parameter_name(const DefaultedParameter& parameter) { return parameter.name; }
constexpr ParameterDefault parameter_default(const char*) { return {}; }
constexpr ParameterDefault parameter_default(const DefaultedParameter& parameter) {
  if (parameter.decimal != nullptr) {
    return {true, 0, decimal_value(parameter.decimal), parameter.decimal};
  }
  return {true, parameter.value};
}

template <auto Function, std::size_t N>
struct Constructor {
  std::array<const char*, N> parameters;
  std::array<ParameterDefault, N> defaults;
};

template <auto Function, class... Parameters>
constexpr Constructor<Function, sizeof...(Parameters)> constructor(Parameters... parameters) {
  return {{parameter_name(parameters)...}, {parameter_default(parameters)...}};
}

struct NoConstructor {};
inline constexpr NoConstructor kNoConstructor{};

template <class Record>
struct Attribute {
  const char* name;
  Record value;
};

template <auto Function>
struct Repr {};
template <auto Function>
inline constexpr Repr<Function> repr{};

template <auto Function>
struct IntConversion {};
template <auto Function>
inline constexpr IntConversion<Function> integer_conversion{};

template <auto Function>
struct IntegerEquality {};
template <auto Function>
inline constexpr IntegerEquality<Function> integer_equality{};

// A list of records, as a type: a module's classes in registration order.
template <class... Records>
struct ClassList {};

template <class... First, class... Second>
constexpr ClassList<First..., Second...> operator+(ClassList<First...>, ClassList<Second...>) {
  return {};
}

template <template <class> class Keep, class... Records>
constexpr auto keep_only(ClassList<Records...>) {
  return (ClassList<>{} + ... +
          std::conditional_t<Keep<Records>::value, ClassList<Records>, ClassList<>>{});
}

// The records of List for which Keep<Record>::value holds, in order.
template <template <class> class Keep, class List>
using KeepOnly = decltype(keep_only<Keep>(List{}));

// The shape most indicators share: Class(period) with next(input), period()
// and reset(), each holding the instance exclusively. A description derives
// from it and adds its kName.
template <class Record>
struct PeriodIndicator {
  static constexpr auto kConstructor = constructor<&Record::create>("period");
  static constexpr auto kMethods =
      std::tuple{method<&Record::length>("period", Access::kExclusive),
                 method<&Record::update>("next", Access::kExclusive, "input"),
                 method<&Record::reset>("reset", Access::kExclusive)};
};

}  // namespace barworks
