#include "lookback.h"

namespace barworks::companion {

PyObject* lookback_of(PyObject*, PyObject* indicator) noexcept {
  return dispatch(indicator, [&]<class Record>(Instance<Record>& instance) -> PyObject* {
    // Only the window lengths are read, which never change: shared access.
    Borrow borrow;
    if (!hold(instance, borrow, Access::kShared)) return nullptr;
    return PyLong_FromUnsignedLongLong(Warmup<Record>::lookback(instance.payload));
  });
}

}  // namespace barworks::companion
