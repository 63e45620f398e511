// What kept a stored form from loading, raised: shared by barworks._state
// and barworks._native, which both build records from stored forms.
#include "state.h"

#include "../frame.h"

namespace barworks {

bool checkpoint::raise_unless_loaded(Outcome outcome, const Fault& fault) noexcept {
  switch (outcome) {
    case Outcome::kLoaded:
      return true;
    case Outcome::kInvalid:
      PyErr_SetString(PyExc_ValueError, fault.text);
      return false;
    case Outcome::kNoMemory:
      PyErr_NoMemory();
      return false;
    case Outcome::kTooLarge:
      raise_panic("capacity overflow");
      return false;
  }
  return false;
}

}  // namespace barworks
