#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "checkpoint.h"
#include "describe.h"

namespace barworks {

// The strategies' three-valued answer. Python code cannot build one: it
// reads the class attributes BUY, SELL and HOLD or receives new instances
// from a strategy's next. A signal prints as "Signal.<NAME>", converts to
// its code with int() and equals signals and integers with the same code.
struct Signal {
  enum class Code : std::uint8_t { kBuy = 0, kSell = 1, kHold = 2 };
  Code code;

  std::string_view text() const noexcept {
    static constexpr std::array<std::string_view, 3> kTexts{"Signal.BUY", "Signal.SELL",
                                                             "Signal.HOLD"};
    return kTexts[static_cast<std::size_t>(code)];
  }
  std::uint32_t number() const noexcept { return static_cast<std::uint32_t>(code); }
};

template <>
struct PythonClass<Signal> {
  using R = Signal;
  static constexpr const char* kName = "Signal";
  static constexpr auto kConstructor = kNoConstructor;
  static constexpr auto kMethods = std::tuple{};
  static constexpr std::array kAttributes{Attribute<R>{"BUY", {R::Code::kBuy}},
                                          Attribute<R>{"SELL", {R::Code::kSell}},
                                          Attribute<R>{"HOLD", {R::Code::kHold}}};
  static constexpr auto kRepr = repr<&R::text>;
  static constexpr auto kInt = integer_conversion<&R::number>;
  static constexpr auto kEquality = integer_equality<&R::number>;
  // Every strategy step makes one and the caller usually drops it at once.
  static constexpr std::size_t kFreeList = 16;
};

template <>
struct Checkpoint<Signal> {
  static constexpr auto kFields = std::tuple{choice<&Signal::code>("code", 2)};
};

}  // namespace barworks
