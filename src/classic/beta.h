#pragma once

#include <cmath>
#include <cstdint>

#include "../error.h"
#include "../nan.h"
#include "../warmup.h"
#include "co_moments.h"
#include "family.h"

namespace barworks::classic {

// The slope of y's returns regressed on x's over the last `period` returns,
// each return (price - previous) / previous, 0 after a zero price:
//   beta = Sxy / Sxx
// over the sums of squared and crossed deviations from the means, which
// slide and are recomputed exactly (see CoMoments). A window in which x's
// return does not change has no defined slope, and one in which y's does not
// has a slope of 0: both answer 0.0, as the batch libraries do. Lookback
// `period`: the first pair only supplies the previous prices. Pairs before
// the first whose x and y are both numbers are skipped without counting; a
// later NaN or infinite price makes the answers NaN while a return it
// enters is in the window.
struct Beta {
  CoMoments moments;
  double previous_x;
  double previous_y;
  bool has_previous;

  static Expected<Beta> create(std::uint32_t period) noexcept {
    auto moments = CoMoments::create(period);
    if (!moments) return std::unexpected(moments.error());
    return Beta{std::move(*moments), 0.0, 0.0, false};
  }
  // A NaN price meets the previous one in a return: both are taken as the
  // one NaN.
  double update(double x, double y) noexcept {
    x = canonical(x);
    y = canonical(y);
    if (!has_previous) [[unlikely]] {
      if (x != x || y != y) return kNotYet;
      previous_x = x;
      previous_y = y;
      has_previous = true;
      return kNotYet;
    }
    const double return_x = previous_x != 0.0 ? (x - previous_x) / previous_x : 0.0;
    const double return_y = previous_y != 0.0 ? (y - previous_y) / previous_y : 0.0;
    previous_x = x;
    previous_y = y;
    if (!moments.take(return_x, return_y)) [[unlikely]] return kNotYet;
    if (moments.flat() || !(moments.squares_x > 0.0)) [[unlikely]] return 0.0;
    return moments.products / moments.squares_x;
  }
  void reset() noexcept {
    moments.reset();
    previous_x = 0.0;
    previous_y = 0.0;
    has_previous = false;
  }
  std::uint32_t length() const noexcept { return moments.xs.period; }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::Beta> {
  using R = classic::Beta;
  static constexpr const char* kName = "Beta";
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 5));
  static constexpr auto kMethods =
      std::tuple{method<&R::length>("period", Access::kExclusive),
                 method<&R::update>("next", Access::kExclusive, "x", "y"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

// Nothing is remembered or taken before the first pair.
template <>
struct Checkpoint<classic::Beta> {
  using R = classic::Beta;
  static constexpr auto kFields = std::tuple{
      component<&R::moments>("moments"), number<&R::previous_x>("previous_x"),
      number<&R::previous_y>("previous_y"), choice<&R::has_previous>("has_previous", 1),
      rule<R>(
          [](const R& r) noexcept {
            return r.has_previous ||
                   (r.moments.xs.count == 0 && r.previous_x == 0.0 && r.previous_y == 0.0);
          },
          "nothing may be remembered or taken before the first pair")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::Beta>());

template <>
struct Warmup<classic::Beta> {
  using R = classic::Beta;
  static std::uint64_t lookback(const R& record) noexcept { return record.length(); }
  static std::uint64_t inputs_seen(const R& record) noexcept {
    return record.has_previous ? std::uint64_t{record.moments.xs.count} + 1 : 0;
  }
};

}  // namespace barworks
