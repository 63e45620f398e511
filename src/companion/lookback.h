// Warm-up counts: each record states its lookback and the inputs it has
// seen beside itself (Warmup<R>, src/warmup.h); this is the module function
// that reads them.
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

}  // namespace barworks::companion
