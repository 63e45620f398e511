#pragma once

#include <cmath>
#include <cstdint>

#include "../error.h"
#include "../warmup.h"
#include "co_moments.h"
#include "family.h"

namespace barworks::classic {

// Pearson's correlation coefficient of the last `period` pairs (x, y):
//   r = Sxy / sqrt(Sxx Syy)
// over the sums of squared and crossed deviations from the means, which
// slide and are recomputed exactly (see CoMoments). A window in which x or y
// does not move has no defined r: it answers 0.0, as the batch libraries
// do. Lookback period - 1: NaN until the windows are full. Pairs before the
// first whose x and y are both numbers are skipped without counting; a
// later NaN or infinite input makes the answers NaN while it is in the
// window.
struct Correlation : AnsweredFrom<Correlation, CoMoments> {
  CoMoments moments;

  static Expected<Correlation> create(std::uint32_t period) noexcept {
    auto moments = CoMoments::create(period);
    if (!moments) return std::unexpected(moments.error());
    return Correlation{{}, std::move(*moments)};
  }
  double update(double x, double y) noexcept {
    if (moments.xs.count == 0 && (x != x || y != y)) [[unlikely]] return kNotYet;
    return answer(moments.take(x, y));
  }
  // Once the windows are full, the co-moments' rule over a number type (y
  // coming with the fields), as the coefficient answers it; also the
  // answer of a lone record's every step.
  template <class Number>
  static Number answer(const CoMoments::Described<Number>& moments) noexcept {
    if (!moments.known) [[unlikely]] return splat<Number>(kNotYet);
    if (moments.flat) [[unlikely]] return splat<Number>(0.0);
    const Number spread = moments.squares_x * moments.squares_y;
    // Also a window whose spread rounds to nothing.
    return select(spread > 0.0, moments.products / square_root(spread), splat<Number>(0.0));
  }
  void reset() noexcept { moments.reset(); }
  std::uint32_t length() const noexcept { return moments.xs.period; }
};

}  // namespace barworks::classic

namespace barworks {

template <>
struct PythonClass<classic::Correlation> {
  using R = classic::Correlation;
  static constexpr const char* kName = "Correlation";
  static constexpr const char* kModule = classic::kModuleName;
  static constexpr auto kConstructor = constructor<&R::create>(with_default("period", 30));
  static constexpr auto kMethods =
      std::tuple{method<&R::length>("period", Access::kExclusive),
                 method<&R::update>("next", Access::kExclusive, "x", "y"),
                 method<&R::reset>("reset", Access::kExclusive)};
};

template <>
struct LaneFields<classic::Correlation> {
  using List = within_all<&classic::Correlation::moments, LaneFields<classic::CoMoments>::List>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
};

template <>
struct Checkpoint<classic::Correlation> {
  using R = classic::Correlation;
  static constexpr auto kFields = std::tuple{component<&R::moments>("moments")};
};
static_assert(checkpoint_layout::lists_every_member_throughout<classic::Correlation>());

template <>
struct Warmup<classic::Correlation> {
  using R = classic::Correlation;
  static std::uint64_t lookback(const R& record) noexcept {
    return std::uint64_t{record.length()} - 1;
  }
  static std::uint64_t inputs_seen(const R& record) noexcept { return record.moments.xs.count; }
};

}  // namespace barworks
