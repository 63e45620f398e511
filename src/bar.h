#pragma once

#include <cstdint>

#include "checkpoint.h"
#include "describe.h"

namespace barworks {

// One price bar, stored exactly as given: no relation between the prices is
// checked, and NaN or infinite prices are kept as they are. Immutable once
// built; indicators read it in place under shared access.
struct Bar {
  double open;
  double high;
  double low;
  double close;
  std::uint32_t volume;

  static Bar create(double open, double high, double low, double close,
                    std::uint32_t volume) noexcept {
    return Bar{open, high, low, close, volume};
  }
  double open_price() const noexcept { return open; }
  double high_price() const noexcept { return high; }
  double low_price() const noexcept { return low; }
  double close_price() const noexcept { return close; }
  std::uint32_t traded_volume() const noexcept { return volume; }
};

template <>
struct PythonClass<Bar> {
  using R = Bar;
  static constexpr const char* kName = "Bar";
  static constexpr auto kConstructor =
      constructor<&R::create>("open", "high", "low", "close", "volume");
  static constexpr auto kMethods =
      std::tuple{method<&R::open_price>("open", Access::kShared),
                 method<&R::high_price>("high", Access::kShared),
                 method<&R::low_price>("low", Access::kShared),
                 method<&R::close_price>("close", Access::kShared),
                 method<&R::traded_volume>("volume", Access::kShared)};
};

template <>
struct Checkpoint<Bar> {
  using R = Bar;
  static constexpr auto kFields =
      std::tuple{number<&R::open>("open"), number<&R::high>("high"), number<&R::low>("low"),
                 number<&R::close>("close"), tally<&R::volume>("volume")};
};

}  // namespace barworks
