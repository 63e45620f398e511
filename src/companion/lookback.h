// What a record states of its answers beside itself: its warm-up (Warmup<R>,
// src/warmup.h: the lookback and the inputs it has seen) and the names of a
// tuple answer's parts (PythonClass<R>::kAnswers); these are the module
// functions that read them.
#pragma once

#include "../warmup.h"
#include "classes.h"

namespace barworks::companion {

template <class... Records>
constexpr bool all_state_warmup(ClassList<Records...>) {
  return (WarmupStated<Records> && ...);
}
static_assert(all_state_warmup(Dispatched{}),
              "every class fed through next must state its Warmup<> beside its record");

// lookback(indicator): the class's count for this object's window lengths.
PyObject* lookback_of(PyObject* module, PyObject* indicator) noexcept;

// answer_names(indicator): the parts of its class's tuple answer, or None.
PyObject* answer_names(PyObject* module, PyObject* indicator) noexcept;

}  // namespace barworks::companion
