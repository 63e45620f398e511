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
  double update(double x, double y) noexcept {
    if (!has_previous) [[unlikely]] {
      if (x != x || y != y) return kNotYet;
      previous_x = x;
      previous_y = y;
      has_previous = true;
      return kNotYet;
    }
    const Returns<double> taken = returns(x, y, previous_x, previous_y);
    return answer(moments.take(taken.x, taken.y));
  }
  // Once there is a previous pair and the windows are full, the rule over a
  // number type: a lone record's, a universe's lane's, or a pair of lanes'
  // on the common path.
  bool steady() const noexcept { return has_previous && moments.steady(); }
  template <class Number, class... Fields>
  static Number advance(const Beta& shared, Number x, Number y, Number& previous_x,
                        Number& previous_y, Fields&... fields) noexcept {
    const Returns<Number> taken = returns(x, y, previous_x, previous_y);
    return answer(CoMoments::advance(shared.moments, taken.x, taken.y, fields...));
  }
  // The pair's returns must keep to the common path; the prices need not.
  template <class... Fields>
  static bool pair_on_common_path(const Beta& shared, DoublePair x, DoublePair y,
                                  DoublePair previous_x, DoublePair previous_y,
                                  const Fields&... fields) noexcept {
    const Returns<DoublePair> taken = returns(x, y, previous_x, previous_y);
    return CoMoments::pair_on_common_path(shared.moments, taken.x, taken.y, fields...);
  }
  // The returns of a pair against the previous one, which it replaces. A
  // NaN price meets the previous one in a return: both are taken as the
  // one NaN.
  template <class Number>
  struct Returns {
    Number x;
    Number y;
  };
  template <class Number>
  static Returns<Number> returns(Number x, Number y, Number& previous_x,
                                 Number& previous_y) noexcept {
    x = canonical(x);
    y = canonical(y);
    const Number zero = splat<Number>(0.0);
    const Number return_x = select(previous_x != zero, (x - previous_x) / previous_x, zero);
    const Number return_y = select(previous_y != zero, (y - previous_y) / previous_y, zero);
    previous_x = x;
    previous_y = y;
    return {return_x, return_y};
  }
  template <class Number>
  static Number answer(const CoMoments::Described<Number>& moments) noexcept {
    if (!moments.known) [[unlikely]] return splat<Number>(kNotYet);
    if (moments.flat) [[unlikely]] return splat<Number>(0.0);
    return select(moments.squares_x > 0.0, moments.products / moments.squares_x,
                  splat<Number>(0.0));
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

template <>
struct LaneFields<classic::Beta> {
  using R = classic::Beta;
  using List = Joined<FieldList<&R::previous_x, &R::previous_y>,
                      within_all<&R::moments, LaneFields<classic::CoMoments>::List>>;
  static constexpr bool kReadsWindowSlots = true;
  static constexpr bool kPairsOnCommonPath = true;
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
