// An instance's stored form (state.h) as a new bytes object, for the
// companion's modules that give objects' checkpoints.
#pragma once

#include <string_view>

#include "../frame.h"
#include "state.h"

namespace barworks::companion {

// Reads the instance under shared access, as every state() does: an
// instance being fed is refused with the frame's access error.
template <Checkpointed Record>
PyObject* stored_form_of(PyObject* object, std::string_view class_name) noexcept {
  Instance<Record>& instance = instance_of<Record>(object);
  Borrow borrow(instance.access, Access::kShared);
  if (!borrow) [[unlikely]] {
    raise_access_error(object, instance.access, Access::kShared);
    return nullptr;
  }
  const std::size_t size = checkpoint::store(instance.payload, class_name, nullptr);
  PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (bytes == nullptr) return nullptr;
  checkpoint::store(instance.payload, class_name,
                    reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes)));
  return bytes;
}

}  // namespace barworks::companion
