// The circular window of doubles that windowed indicators own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "checkpoint.h"
#include "error.h"

namespace barworks {

// Where window buffers come from. The records never see the interpreter, so
// an extension installs its raw allocator here at import, which lets the
// interpreter's memory tracing count the windows; until then the C heap is
// used. Every extension that builds or frees windows installs the same pair.
struct WindowAllocator {
  void* (*allocate_zeroed)(std::size_t count, std::size_t size) noexcept;
  void (*release)(void* data) noexcept;
};
void use_window_allocator(WindowAllocator allocator) noexcept;

// The first window length Window::allocate refuses: its buffer would pass
// the largest the module allows (2147483644 bytes).
inline constexpr std::uint32_t kWindowLimit = 268435456;

// An owned array of exactly `size` doubles, allocated once and refilled in
// place. Moving transfers ownership; the moved-from window is empty.
class Window {
 public:
  // Windows of 268435456 doubles or more exceed the largest buffer the
  // module allows (2147483644 bytes) and fail as the fault "capacity
  // overflow"; a smaller window that cannot be had fails with kMemory.
  static Expected<Window> allocate(std::uint32_t size, double fill) noexcept;

  Window() noexcept = default;
  Window(Window&& other) noexcept;
  Window& operator=(Window&& other) = delete;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  ~Window();

  void fill(double value) noexcept;

  double& operator[](std::uint32_t slot) noexcept { return data_[slot]; }
  double operator[](std::uint32_t slot) const noexcept { return data_[slot]; }
  const double* begin() const noexcept { return data_; }
  const double* end() const noexcept { return data_ + size_; }
  std::uint32_t size() const noexcept { return size_; }

 private:
  Window(double* data, std::uint32_t size) noexcept : data_(data), size_(size) {}

  double* data_ = nullptr;
  std::uint32_t size_ = 0;
};

// Advances a circular slot index.
inline std::uint32_t next_slot(std::uint32_t slot, std::uint32_t period) noexcept {
  ++slot;
  return slot == period ? 0 : slot;
}

// The last `period` inputs of a windowed indicator: the window, its length,
// the slot the next input goes to and the count of inputs taken (push caps
// it at `period`; a record that also counts the input before its window, as
// RateOfChange does, takes it one further). Unwritten slots hold 0.0, so a
// leaving value is 0.0 until the window has filled.
struct CircularWindow {
  Window values;
  std::uint32_t period;
  std::uint32_t index;
  std::uint32_t count;

  // Refuses a zero period, then allocates the zero-filled window.
  static Expected<CircularWindow> create(std::uint32_t period) noexcept;

  // Stores x in the next slot and returns the value it replaced.
  double push(double x) noexcept {
    const double old = values[index];
    values[index] = x;
    index = next_slot(index, period);
    if (count < period) ++count;
    return old;
  }

  // The slot the next input goes to.
  std::uint32_t write_slot() const noexcept { return index; }
  // The count as a divisor.
  double filled() const noexcept { return static_cast<double>(count); }
  // The value in `slot`, which is not an age: slot 0 is the window's first
  // place whatever was written last.
  double slot(std::uint32_t place) const noexcept { return values[place]; }
  // The slots read in place, by a handle passed by value: a function out
  // of line given it does not take the window's record's address along.
  struct Slots {
    const double* values;
    double slot(std::uint32_t place) const noexcept { return values[place]; }
  };
  Slots slots() const noexcept { return {values.begin()}; }

  void clear() noexcept {
    index = 0;
    count = 0;
    values.fill(0.0);
  }

  // As push(source[k]) for k from `first` up to `end` leaves a full
  // window: only the inputs that stay are written, each to its slot.
  template <class Source>
  void push_all(const Source& source, std::size_t first, std::size_t end) noexcept {
    const std::size_t start = end - first > period ? end - period : first;
    std::size_t slot = (index + (start - first)) % period;
    for (std::size_t k = start; k < end; slot = 0) {
      const std::size_t run = std::min<std::size_t>(end - k, period - slot);
      double* const to = &values[static_cast<std::uint32_t>(slot)];
      for (std::size_t n = 0; n < run; ++n) to[n] = source[k + n];
      k += run;
    }
    index = static_cast<std::uint32_t>((index + (end - first)) % period);
  }

  // visit(value) for a full window's values from the oldest (the write
  // slot) to the newest: two straight runs, with no wrap to test per value.
  template <class Visit>
  [[gnu::always_inline]] void for_each_oldest_first(Visit visit) const noexcept {
    const double* const slots = values.begin();
    for (std::uint32_t slot = index; slot < period; ++slot) visit(slots[slot]);
    for (std::uint32_t slot = 0; slot < index; ++slot) visit(slots[slot]);
  }
};

// The count may run one past the period (RateOfChange's does); records whose
// count stops at the period say so in a rule of their own. While the window
// fills, the write slot is the count.
template <>
struct Checkpoint<CircularWindow> {
  using R = CircularWindow;
  static constexpr auto kFields = std::tuple{
      period<&R::period>("period", kWindowLimit),
      below<&R::index, &R::period>("index"),
      below<&R::count, &R::period>("count", 2),
      values<&R::values, &R::period, &R::index>("values"),
      rule<R>([](const R& r) noexcept { return r.count >= r.period || r.index == r.count; },
              "the write slot must equal the count while the window fills")};
};

// For records whose count stops at the period.
inline constexpr bool count_within_period(const CircularWindow& window) noexcept {
  return window.count <= window.period;
}

}  // namespace barworks
