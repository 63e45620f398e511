// Errors that native records report, as plain values.
#pragma once

#include <cstdint>
#include <expected>

namespace barworks {

enum class ErrorKind : std::uint8_t {
  kValue,   // a caller's argument broke a class's own rule (ValueError)
  kMemory,  // an allocation failed (MemoryError)
  kPanic,   // an internal fault (PanicException)
};

// A pending error: the exception kind and a static message. The exception
// object is only made when the frame raises it.
struct [[nodiscard]] Error {
  ErrorKind kind;
  const char* message;
};

template <class T>
using Expected = std::expected<T, Error>;

inline constexpr Error kPeriodZero{ErrorKind::kValue, "Period cannot be 0."};

}  // namespace barworks
