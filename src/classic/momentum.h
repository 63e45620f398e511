#pragma once

#include <cstdint>
#include <utility>

#include "../error.h"
#include "../nan.h"
#include "../warmup.h"
#include "../window.h"
#include "family.h"
#include "lagged_change.h"

namespace barworks::classic {

// Momentum, the change against the input `period` steps back:
//   result = x - x[-period]
// Lookback `period`: NaN until `period` + 1 inputs have been seen. NaN
// inputs before the first number are skipped without counting; later NaN
// and infinite inputs give what IEEE arithmetic gives and affect only the
// answers that read them. No divisor. A run over an array reads the input
// `period` back from the array (lagged_change.h).
struct Momentum {
  CircularWindow window;

  static Expected<Momentum> create(std::uint32_t period) noexcept {
    auto window = CircularWindow::create(period);
    if (!window) return std::unexpected(window.error());
    return Momentum{std::move(*window)};
  }
  double update(double x) noexcept { return update_lagged(*this, x); }
  // Once the window is full, the value the input replaces is the one
  // `period` steps back.
  bool steady() const noexcept { return window.count == window.period; }
  template <class Number, class Window>
  static Number advance(const Momentum&, Number x, Window& window) noexcept {
    return advance_lagged<Momentum>(x, window);
  }
  template <class Number>
  static Number change(Number x, Number reference) noexcept {
    return x - reference;
  }
  void reset() noexcept { window.clear(); }
  std::uint32_t length() const noexcept { return window.period; }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::Momentum> : ClassicPeriodIndicator<classic::Momentum> {
  using R = classic::Momentum;
  static constexpr const char* kName = "Momentum";
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 10));
};

template <>
struct Checkpoint<classic::Momentum> {
  using R = classic::Momentum;
  static constexpr auto kFields = std::tuple{
      component<&R::window>("window"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.window); },
              "the count must not pass the period")};
};
static_assert(checkpoint_layout::lists_every_member<classic::Momentum>());

// The first change needs the input before it: lookback period.
template <>
struct Warmup<classic::Momentum> : WindowWarmup<classic::Momentum> {
  static std::uint64_t lookback(const classic::Momentum& record) noexcept {
    return record.length();
  }
};

}  // namespace barworks
