// The classes the companion works on, _barworks's and barworks.classic's,
// and the dispatch from a Python object to its record. An object is
// recognised by the exact class object its module made, adopted once when
// the companion is imported; its payload is then read through the same
// Instance<Record> layout.
#pragma once

#include "../frame.h"
#include "../registration.h"

#include "../bar.h"
#include "../classic/average_true_range.h"
#include "../classic/exponential_moving_average.h"
#include "../classic/moving_average_convergence_divergence.h"
#include "../classic/rate_of_change.h"
#include "../classic/relative_strength_index.h"
#include "../classic/standard_deviation.h"
#include "../indicators/average_true_range.h"
#include "../indicators/exponential_moving_average.h"
#include "../indicators/maximum.h"
#include "../indicators/minimum.h"
#include "../indicators/moving_average_convergence_divergence.h"
#include "../indicators/rate_of_change.h"
#include "../indicators/relative_strength_index.h"
#include "../indicators/sharpe_ratio.h"
#include "../indicators/simple_moving_average.h"
#include "../indicators/standard_deviation.h"
#include "../indicators/true_range.h"
#include "../signal.h"
#include "../strategies/exponential_moving_average_crossover.h"
#include "../strategies/simple_moving_average_crossover.h"

namespace barworks::companion {

template <class... Records>
using RecordList = ClassList<Records...>;

// Every class fed through next, in _barworks's registration order.
using Streamed =
    RecordList<AverageTrueRange, ExponentialMovingAverage, Maximum, Minimum,
               MovingAverageConvergenceDivergence, RateOfChange, RelativeStrengthIndex, SharpeRatio,
               SimpleMovingAverage, StandardDeviation, TrueRange, ExponentialMovingAverageCrossover,
               SimpleMovingAverageCrossover>;

// The classic classes, in barworks._classic's registration order.
using ClassicStreamed =
    RecordList<classic::AverageTrueRange, classic::ExponentialMovingAverage,
               classic::MovingAverageConvergenceDivergence, classic::RateOfChange,
               classic::RelativeStrengthIndex, classic::StandardDeviation>;

template <class... First, class... Second>
RecordList<First..., Second...> join(RecordList<First...>, RecordList<Second...>);

// Every class an indicator argument may be: the dispatch's list.
using Dispatched = decltype(join(Streamed{}, ClassicStreamed{}));

template <class Record>
concept TakesBars = requires(Record& record, const Bar& bar) { record.update(bar); };

// TypeError naming `parameter`: `object` is not one of `wanted`.
[[gnu::cold]] void refuse_object(PyObject* object, const char* parameter,
                                 const char* wanted) noexcept;

// Calls visit.template operator()<Record>(instance) for the record whose
// class is exactly the object's class; refuses any other object as the
// argument `indicator`.
template <class Visitor, class... Records>
PyObject* dispatch(PyObject* object, Visitor&& visit, RecordList<Records...>) noexcept {
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
// common positional call, else `slots`; null with TypeError set.
template <std::size_t N>
PyObject* const* bind(const char* name, const std::array<const char*, N>& parameters,
                      PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      std::array<PyObject*, N>& slots) noexcept {
  if (nargs == static_cast<Py_ssize_t>(N) && kwnames == nullptr) [[likely]] return args;
  const CallSignature signature{"barworks", name, parameters.data(), N};
  if (!bind_vector(signature, args, nargs, kwnames, slots.data())) return nullptr;
  return slots.data();
}

// TypeError for an indicator fed through the wrong entry.
[[gnu::cold]] void refuse_input_kind(const char* class_name, bool takes_bars,
                                     const char* other_entry) noexcept;

}  // namespace barworks::companion
