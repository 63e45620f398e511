#include "peek.h"

#include <array>

namespace barworks::companion {

namespace {

// As next: exclusive access, then the argument's conversion (which may run
// Python code that finds the object busy), then one step of the record's
// own update between saving and restoring what that step writes.
template <class Record, class Parameter>
PyObject* peek_step(Instance<Record>& instance, PyObject* input, const char* parameter) noexcept {
  Borrow borrow;
  if (!hold(instance, borrow, Access::kExclusive)) return nullptr;
  Argument<Parameter> argument;
  if (!argument.convert(input)) [[unlikely]] {
    raise_argument_error(parameter);
    return nullptr;
  }
  Record& record = instance.payload;
  const Snapshot<Record> snapshot(record);
  auto answer = record.update(argument.get());
  snapshot.restore(record);
  return to_python(std::move(answer));
}

// The same for next(x, y): both arguments convert, in order, before the step.
template <class Record>
PyObject* peek_pair(Instance<Record>& instance, PyObject* x, PyObject* y) noexcept {
  Borrow borrow;
  if (!hold(instance, borrow, Access::kExclusive)) return nullptr;
  Argument<double> first, second;
  if (!first.convert(x)) [[unlikely]] {
    raise_argument_error("x");
    return nullptr;
  }
  if (!second.convert(y)) [[unlikely]] {
    raise_argument_error("y");
    return nullptr;
  }
  Record& record = instance.payload;
  const Snapshot<Record> snapshot(record);
  const double answer = record.update(first.get(), second.get());
  snapshot.restore(record);
  return to_python(answer);
}

constexpr std::array<const char*, 2> kPeekParameters{"indicator", "value"};
constexpr std::array<const char*, 2> kPeekBarParameters{"indicator", "bar"};

}  // namespace

PyObject* peek(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  // peek(indicator, x, y) for a class whose next takes a pair.
  if (nargs == 3 && kwnames == nullptr) {
    return dispatch(args[0], [&]<class Record>(Instance<Record>& instance) -> PyObject* {
      if constexpr (!TakesPairs<Record>) {
        refuse_input_kind<Record>(true);
        return nullptr;
      } else {
        return peek_pair(instance, args[1], args[2]);
      }
    });
  }
  std::array<PyObject*, 2> slots{};
  PyObject* const* bound = bind("peek", kPeekParameters, args, nargs, kwnames, slots);
  if (bound == nullptr) return nullptr;
  return dispatch(bound[0], [&]<class Record>(Instance<Record>& instance) -> PyObject* {
    if constexpr (kInputKind<Record> != InputKind::kFloat) {
      refuse_input_kind<Record>(true);
      return nullptr;
    } else {
      return peek_step<Record, double>(instance, bound[1], "value");
    }
  });
}

PyObject* peek_bar(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) noexcept {
  std::array<PyObject*, 2> slots{};
  PyObject* const* bound = bind("peek_bar", kPeekBarParameters, args, nargs, kwnames, slots);
  if (bound == nullptr) return nullptr;
  return dispatch(bound[0], [&]<class Record>(Instance<Record>& instance) -> PyObject* {
    if constexpr (!TakesBars<Record>) {
      refuse_input_kind<Record>(true);
      return nullptr;
    } else {
      return peek_step<Record, const BarOf<Record>&>(instance, bound[1], "bar");
    }
  });
}

}  // namespace barworks::companion
