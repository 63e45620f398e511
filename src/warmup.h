// The warm-up facts each streamed record states beside itself, read by the
// companion's lookback and by feed(..., warmup="nan"):
//   Warmup<R>::lookback(r)     the count of leading answers that rest on
//                              less than a full window, as batch libraries
//                              count them for the same window lengths;
//   Warmup<R>::inputs_seen(r)  the inputs taken since construction or reset
//                              as far as the state tells: exact up to the
//                              lookback where the record counts them, else 0
//                              before the first input and kWarmedUp after.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <limits>

namespace barworks {

template <class Record>
struct Warmup;

template <class Record>
concept WarmupStated = requires(const Record& record) {
  { Warmup<Record>::lookback(record) } -> std::same_as<std::uint64_t>;
  { Warmup<Record>::inputs_seen(record) } -> std::same_as<std::uint64_t>;
};

// Stands for "has seen at least its lookback" where a record keeps no count.
inline constexpr std::uint64_t kWarmedUp = std::numeric_limits<std::uint64_t>::max();

// The common shape: a window of `period` inputs whose first full one is the
// period-th input, and whose count says how many were taken.
template <class Record>
struct WindowWarmup {
  static std::uint64_t lookback(const Record& record) noexcept {
    return std::uint64_t{record.length()} - 1;
  }
  static std::uint64_t inputs_seen(const Record& record) noexcept { return record.window.count; }
};

// The same for a record whose window is in the embedded record `Member`.
template <class Record, auto Member>
struct EmbeddedWindowWarmup {
  static std::uint64_t lookback(const Record& record) noexcept {
    return std::uint64_t{record.length()} - 1;
  }
  static std::uint64_t inputs_seen(const Record& record) noexcept {
    return (record.*Member).window.count;
  }
};

// A record that answers from its first input on, once `started`.
template <class Record>
struct FromFirstInput {
  static std::uint64_t lookback(const Record&) noexcept { return 0; }
  static std::uint64_t inputs_seen(const Record& record) noexcept {
    return record.started ? kWarmedUp : 0;
  }
};

// The answers of the coming inputs still inside the warm-up.
template <WarmupStated Record>
std::uint64_t warmup_left(const Record& record) noexcept {
  const std::uint64_t needed = Warmup<Record>::lookback(record);
  return needed - std::min(Warmup<Record>::inputs_seen(record), needed);
}

}  // namespace barworks
