#pragma once

#include <cstdint>

#include "../error.h"
#include "../window.h"
#include "family.h"
#include "lagged_change.h"
#include "../warmup.h"

namespace barworks::classic {

// Rate of change in percent against the input `period` steps back:
//   result = (x / reference - 1) * 100
// (10 to 11 gives 10.0). Lookback `period`: NaN until `period` + 1 inputs
// have been seen. NaN inputs before the first number are skipped without
// counting; later NaN and infinite inputs give what IEEE arithmetic gives
// and affect only the answers that read them. A zero reference gives an
// infinity, or NaN for a zero input: the change from nothing has no finite
// percentage (the batch libraries answer 0 there).
// A run over an array reads the input `period` back from the array
// (lagged_change.h).
struct RateOfChange {
  CircularWindow window;

  static Expected<RateOfChange> create(std::uint32_t period) noexcept;
  double update(double x) noexcept;
  // Once the window is full, the value the input replaces is the one
  // `period` steps back.
  bool steady() const noexcept { return window.count == window.period; }
  template <class Number, class Window>
  static Number advance(const RateOfChange&, Number x, Window& window) noexcept {
    return advance_lagged<RateOfChange>(x, window);
  }
  template <class Number>
  static Number change(Number x, Number reference) noexcept {
    return (x / reference - splat<Number>(1.0)) * splat<Number>(100.0);
  }
  void reset() noexcept { window.clear(); }
  std::uint32_t length() const noexcept { return window.period; }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::RateOfChange> : ClassicPeriodIndicator<classic::RateOfChange> {
  static constexpr const char* kName = "RateOfChange";
};

template <>
struct Checkpoint<classic::RateOfChange> {
  using R = classic::RateOfChange;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period")};
};
static_assert(checkpoint_layout::lists_every_member<classic::RateOfChange>());

// The first change needs the input before it: lookback period.
template <>
struct Warmup<classic::RateOfChange> : WindowWarmup<classic::RateOfChange> {
  static std::uint64_t lookback(const classic::RateOfChange& record) noexcept {
    return record.length();
  }
};

}  // namespace barworks
