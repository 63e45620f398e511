#pragma once

#include <cstdint>

#include "../describe.h"
#include "../error.h"
#include "../lanes.h"
#include "../nan.h"
#include "../window.h"
#include "../warmup.h"

namespace barworks {

// Relative change against a reference input: (x - reference) / reference,
// a plain ratio (10 to 11 gives 0.1). With x1, x2, ... the inputs since
// construction or reset and xk the current one, the reference is x(k - N)
// once k exceeds N + 1 and x1 before that, so the first input is compared
// with itself. Nothing is guarded: a zero reference gives an infinity, or
// NaN for a zero input; NaN and infinite inputs give what IEEE arithmetic
// gives, and affect only the results that read them.
struct RateOfChange {
  // Its count runs to `period` + 1: one input more than the window holds
  // marks the point from which the reference is the input `period` back.
  CircularWindow window;

  static Expected<RateOfChange> create(std::uint32_t period) noexcept;
  double update(double x) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return window.period; }

  // Once the count has passed the period, the slot about to be overwritten
  // holds the input taken `period` steps back, and each step is the rule
  // over a number type alone, for a lone record or lanes side by side.
  bool steady() const noexcept { return window.count > window.period; }
  template <class Number, class Window>
  static Number advance(const RateOfChange&, Number x, Window& window) noexcept {
    x = canonical(x);
    const Number reference = window.push(x);
    return relative_change(x, reference);
  }
  template <class Number>
  static Number relative_change(Number x, Number reference) noexcept {
    return (x - reference) / reference;
  }
};

template <>
struct PythonClass<RateOfChange> : PeriodIndicator<RateOfChange> {
  static constexpr const char* kName = "RateOfChange";
};

// The count runs to one past the period, which the window's own list allows.
template <>
struct Checkpoint<RateOfChange> {
  using R = RateOfChange;
  static constexpr auto kFields = std::tuple{component<&R::window>("window")};
};

template <>
struct LaneFields<RateOfChange> {
  using List = FieldList<&RateOfChange::window>;
};

// The first change needs the input before it: lookback period.
template <>
struct Warmup<RateOfChange> : WindowWarmup<RateOfChange> {
  static std::uint64_t lookback(const RateOfChange& record) noexcept { return record.length(); }
};

}  // namespace barworks
