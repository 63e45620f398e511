#pragma once

#include "../bar.h"
#include "../branch_free.h"
#include "../checkpoint.h"
#include "../nan.h"
#include "../describe.h"
#include "../warmup.h"

namespace barworks {

// The range of one bar widened by any gap from the previous close p:
//   max(max(h - l, |h - p|), |l - p|)
// where max ignores a NaN operand and keeps its left operand on ties. The
// first bar, and the first after reset, has no p and gives the plain h - l,
// negative when high is below low. Every bar's close becomes the next p,
// NaN or infinite ones included, so a NaN close makes the following bar
// fall back to its own h - l; the result is NaN only when h - l and both
// differences to p are NaN.
struct TrueRange {
  bool has_previous;
  double previous_close;

  static TrueRange create() noexcept { return TrueRange{false, 0.0}; }
  double update(const Bar& bar) noexcept;
  void reset() noexcept;
};

// Inline: batch loops and the records that embed a true range run it
// without a call.
inline double TrueRange::update(const Bar& bar) noexcept {
  const double high = canonical(bar.high);
  const double low = canonical(bar.low);
  double result;
  if (!has_previous) {
    result = high - low;
  } else {
    const double span = high - low;
    const double gap_high = magnitude(high - previous_close);
    const double widest = max_ignoring_nan(span, gap_high);
    const double gap_low = magnitude(low - previous_close);
    result = max_ignoring_nan(widest, gap_low);
  }
  previous_close = canonical(bar.close);
  has_previous = true;
  return result;
}

template <>
struct PythonClass<TrueRange> {
  using R = TrueRange;
  static constexpr const char* kName = "TrueRange";
  static constexpr auto kConstructor = constructor<&R::create>();
  static constexpr auto kMethods =
      std::tuple{method<&R::update>("next", Access::kExclusive, "input"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

// The previous close is kept even while unused, so that a restored record
// equals the original bit for bit.
template <>
struct Checkpoint<TrueRange> {
  using R = TrueRange;
  static constexpr auto kFields = std::tuple{choice<&R::has_previous>("has_previous", 1),
                                             number<&R::previous_close>("previous_close")};
};

// The first bar has no previous close.
template <>
struct Warmup<TrueRange> {
  static std::uint64_t lookback(const TrueRange&) noexcept { return 1; }
  static std::uint64_t inputs_seen(const TrueRange& record) noexcept {
    return record.has_previous ? kWarmedUp : 0;
  }
};

}  // namespace barworks
