#pragma once

#include <cstdint>

#include "../describe.h"
#include "../error.h"
#include "../window.h"
#include "../warmup.h"

namespace barworks {

// Relative strength index over the last `period` changes, each change being
// an input minus the one before it (the first against 0.0). Every update
// rescans the whole window in slot order, summing the positive changes into
// gain and subtracting the others (zero, negative, NaN) from loss, then
//   rs = (gain / n) / (loss / n);  result = 100 - 100 / (rs + 1)
// with n the count of changes taken, capped at `period`. No running sums:
// a NaN spoils only the results while its change is in the window. Gains
// only give 100, losses only 0, an all-zero window 0 / 0, hence NaN.
struct RelativeStrengthIndex {
  CircularWindow changes;
  double previous;

  static Expected<RelativeStrengthIndex> create(std::uint32_t period) noexcept;
  double update(double x) noexcept;
  void reset() noexcept;
  std::uint32_t length() const noexcept { return changes.period; }
};

template <>
struct PythonClass<RelativeStrengthIndex> : PeriodIndicator<RelativeStrengthIndex> {
  static constexpr const char* kName = "RelativeStrengthIndex";
};

template <>
struct Checkpoint<RelativeStrengthIndex> {
  using R = RelativeStrengthIndex;
  static constexpr auto kFields = std::tuple{
      component<&R::changes>("changes"), number<&R::previous>("previous"),
      rule<R>([](const R& r) noexcept { return count_within_period(r.changes); },
              "the count must not pass the period")};
};

// The first change needs the input before it: lookback period.
template <>
struct Warmup<RelativeStrengthIndex> {
  using R = RelativeStrengthIndex;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.changes.count; }
};

}  // namespace barworks
