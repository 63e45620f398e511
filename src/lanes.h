// Two doubles handled by one instruction. Each lane is rounded exactly as
// the same operation on a lone double, so a pair of independent operations
// can share an instruction without changing a result bit; nothing here
// combines lanes, which would change the order of operations.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <type_traits>
#include <utility>

#include "nan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace barworks {

using DoublePair = double __attribute__((vector_size(16)));
using LaneMask = std::int64_t __attribute__((vector_size(16)));

// A lone double or two lanes' side by side, read from and written to
// doubles in place at any double's alignment. Typed as doubles, unlike a
// memcpy, so that the compiler knows a store changes no pointer or count
// and keeps those in registers across it.
using UnalignedPair = double __attribute__((vector_size(16), aligned(alignof(double))));
template <class Number>
Number load_lanes(const double* at) noexcept {
  if constexpr (std::is_same_v<Number, double>) {
    return *at;
  } else {
    return *reinterpret_cast<const UnalignedPair*>(at);
  }
}
inline void store_lanes(double* at, double x) noexcept { *at = x; }
inline void store_lanes(double* at, DoublePair x) noexcept {
  *reinterpret_cast<UnalignedPair*>(at) = x;
}

// Per lane: `when_set` where the mask is all ones, `when_clear` elsewhere,
// chosen on the bits so that signed zeros and NaN payloads pass unchanged.
inline DoublePair select(LaneMask mask, DoublePair when_set, DoublePair when_clear) noexcept {
  const auto set = std::bit_cast<LaneMask>(when_set);
  const auto clear = std::bit_cast<LaneMask>(when_clear);
  return std::bit_cast<DoublePair>((set & mask) | (clear & ~mask));
}

// The same for masks (a name of its own: a comparison's mask converts to a
// pair of doubles too, for some compilers).
inline LaneMask select_mask(LaneMask mask, LaneMask when_set, LaneMask when_clear) noexcept {
  return (when_set & mask) | (when_clear & ~mask);
}

// The lone forms, so that a rule written once over a number type reads the
// same for a double as for a pair.
inline double select(bool when, double when_set, double when_clear) noexcept {
  return when ? when_set : when_clear;
}
inline bool select_mask(bool when, bool when_set, bool when_clear) noexcept {
  return when ? when_set : when_clear;
}
// A number type's mask, set in every lane where `when`: for a lone double
// the bool itself.
template <class Number>
auto lanes_where(bool when) noexcept {
  if constexpr (std::is_same_v<Number, double>) {
    return when;
  } else {
    return LaneMask{-std::int64_t{when}, -std::int64_t{when}};
  }
}
template <class Number>
constexpr Number splat(double x) noexcept {
  if constexpr (std::is_same_v<Number, double>) {
    return x;
  } else {
    return Number{x, x};
  }
}

// The pair forms of canonical(), magnitude() and max_ignoring_nan(), lane
// for lane the bits of the lone forms, so that a rule written once over a
// number type gives a pair of bars what it gives each bar alone.
inline DoublePair canonical(DoublePair x) noexcept {
  return select(x != x, DoublePair{kNaN, kNaN}, x);
}
// |x| on the bits alone, a NaN's sign cleared too, for a rule that makes
// its NaN the one NaN later.
inline double absolute(double x) noexcept { return std::fabs(x); }
inline DoublePair absolute(DoublePair x) noexcept {
  const auto sign = std::bit_cast<LaneMask>(DoublePair{-0.0, -0.0});
  return std::bit_cast<DoublePair>(std::bit_cast<LaneMask>(x) & ~sign);
}
inline DoublePair magnitude(DoublePair x) noexcept { return canonical(absolute(x)); }
inline DoublePair max_ignoring_nan(DoublePair x, DoublePair y) noexcept {
  return select(x != x, y, select(y > x, y, x));
}

// The fields a record's lanes keep side by side in a universe, one array
// over the symbols each, named in the order the record's static
//   advance(const Record& shared, Number x, fields...)
// takes them: the update written once over a number type, where `shared`
// gives only the parameters every lane has alike. A record lays its lanes
// out so by specialising LaneFields with a List of its members.
template <auto... Members>
struct FieldList {};
// A member of an embedded record, as a FieldList names it:
// within<&Record::average, &Average::current>, the inner one itself
// possibly a within<>.
template <auto Outer, auto Inner>
struct Within {
  static constexpr auto outer = Outer;
  static constexpr auto inner = Inner;
};
template <auto Outer, auto Inner>
inline constexpr Within<Outer, Inner> within{};
// The fields of embedded records one after another: Joined<within_all<&R::a,
// LaneFields<A>::List>, ...>, for a record made of others that lay out so.
template <auto Outer, class List>
struct WithinAll;
template <auto Outer, auto... Members>
struct WithinAll<Outer, FieldList<Members...>> {
  using List = FieldList<within<Outer, Members>...>;
};
template <auto Outer, class List>
using within_all = typename WithinAll<Outer, List>::List;
template <class... Lists>
struct Joining;
template <auto... Members>
struct Joining<FieldList<Members...>> {
  using List = FieldList<Members...>;
};
template <auto... First, auto... Second, class... Rest>
struct Joining<FieldList<First...>, FieldList<Second...>, Rest...>
    : Joining<FieldList<First..., Second...>, Rest...> {};
template <class... Lists>
using Joined = typename Joining<Lists...>::List;
template <class Record>
struct LaneFields;
// A lane's field: a member, or a member of an embedded record.
template <auto Member, class Record>
auto& field_of(Record& record) noexcept {
  if constexpr (requires { Member.outer; }) {
    return field_of<Member.inner>(record.*(Member.outer));
  } else {
    return record.*Member;
  }
}
// visit(fields...) over a lone record's fields that LaneFields names, in
// its order: the record's own step through its advance().
template <class Record, class Visit>
[[gnu::always_inline]] inline decltype(auto) with_lane_fields(Record& record,
                                                             Visit&& visit) noexcept {
  return [&]<auto... Members>(FieldList<Members...>) __attribute__((always_inline))
             -> decltype(auto) {
    return visit(field_of<Members>(record)...);
  }(typename LaneFields<Record>::List{});
}
// first(...) over the first half of a tuple of references, then second(...)
// over the second: the fields of two records of one type, one after the
// other.
template <class Tuple, class First, class Second>
[[gnu::always_inline]] inline void each_half(const Tuple& fields, First&& first,
                                             Second&& second) noexcept {
  constexpr std::size_t kHalf = std::tuple_size_v<Tuple> / 2;
  [&]<std::size_t... I>(std::index_sequence<I...>) __attribute__((always_inline)) {
    first(std::get<I>(fields)...);
    second(std::get<kHalf + I>(fields)...);
  }(std::make_index_sequence<kHalf>{});
}
template <class Record>
concept SideBySide = requires { typename LaneFields<Record>::List; };
// Whether a record takes only its rule over a number type from here on
// (always, for one that does not say).
template <class Record>
bool is_steady(const Record& record) noexcept {
  if constexpr (requires { record.steady(); }) {
    return record.steady();
  } else {
    return true;
  }
}

// The square root, correctly rounded per lane.
inline double square_root(double x) noexcept { return std::sqrt(x); }
inline DoublePair square_root(DoublePair x) noexcept {
#if defined(__SSE2__)
  return std::bit_cast<DoublePair>(_mm_sqrt_pd(std::bit_cast<__m128d>(x)));
#else
  return DoublePair{std::sqrt(x[0]), std::sqrt(x[1])};
#endif
}

// x's magnitude with y's sign, per lane.
inline double with_sign_of(double magnitude, double y) noexcept {
  return std::copysign(magnitude, y);
}
inline DoublePair with_sign_of(DoublePair magnitude, DoublePair y) noexcept {
  const auto sign = std::bit_cast<LaneMask>(DoublePair{-0.0, -0.0});
  return std::bit_cast<DoublePair>((std::bit_cast<LaneMask>(magnitude) & ~sign) |
                                   (std::bit_cast<LaneMask>(y) & sign));
}

// The arc tangent within an ulp of the C library's, written once over the
// number type so that two lanes take it side by side, where a library call
// a lane would spill every register. |x| is first brought within 0.66 (as
// 0, pi / 4 or pi / 2 plus the arc tangent of x, of (x - 1) / (x + 1) or of
// -1 / x, one division whichever), then a rational function of the square
// of what is left, the classic minimax one of degree 4 over 5, gives its
// arc tangent; the low bits of pi / 4 and pi / 2 are added to it before
// the angle is. Odd: atan(-x) = -atan(x), and NaN stays NaN.
template <class Number>
Number arc_tangent(Number x) noexcept {
  constexpr double kTanThreeEighthsPi = 2.41421356237309504880;
  constexpr double kHalfPi = 1.57079632679489661923;
  constexpr double kHalfPiLowBits = 6.123233995736765886130e-17;
  constexpr double kP[] = {-8.750608600031904122785e-1, -1.615753718733365076637e1,
                           -7.500855792314704667340e1, -1.228866684490136173410e2,
                           -6.485021904942025371773e1};
  constexpr double kQ[] = {2.485846490142306297962e1, 1.650270098316988542046e2,
                           4.328810604912902668951e2, 4.853903996359136964868e2,
                           1.945506571482613964425e2};
  const Number size = absolute(x);
  const auto steep = size > kTanThreeEighthsPi;
  const auto middle = (size > 0.66) & (size <= kTanThreeEighthsPi);
  const Number one = splat<Number>(1.0);
  const Number reduced =
      select(steep, splat<Number>(-1.0), select(middle, size - 1.0, size)) /
      select(steep, size, select(middle, size + 1.0, one));
  const Number base = select(steep, splat<Number>(kHalfPi),
                             select(middle, splat<Number>(0.5 * kHalfPi), splat<Number>(0.0)));
  const Number low_bits =
      select(steep, splat<Number>(kHalfPiLowBits),
             select(middle, splat<Number>(0.5 * kHalfPiLowBits), splat<Number>(0.0)));
  const Number z = reduced * reduced;
  const Number p = (((kP[0] * z + kP[1]) * z + kP[2]) * z + kP[3]) * z + kP[4];
  const Number q = ((((z + kQ[0]) * z + kQ[1]) * z + kQ[2]) * z + kQ[3]) * z + kQ[4];
  const Number tail = reduced * (z * p / q) + reduced + low_bits;
  return with_sign_of(base + tail, x);
}

// greater_or_second() and less_or_second() of two lanes side by side:
// x > y ? x : y and x < y ? x : y per lane, one maxpd or minpd.
inline DoublePair greater_or_second(DoublePair x, DoublePair y) noexcept {
#if defined(__SSE2__)
  const __m128d larger = _mm_max_pd(std::bit_cast<__m128d>(x), std::bit_cast<__m128d>(y));
  return std::bit_cast<DoublePair>(larger);
#else
  return select(x > y, x, y);
#endif
}

inline DoublePair less_or_second(DoublePair x, DoublePair y) noexcept {
#if defined(__SSE2__)
  const __m128d smaller = _mm_min_pd(std::bit_cast<__m128d>(x), std::bit_cast<__m128d>(y));
  return std::bit_cast<DoublePair>(smaller);
#else
  return select(x < y, x, y);
#endif
}

// Whether the mask is set in both lanes.
inline bool every_lane(LaneMask mask) noexcept {
#if defined(__SSE2__)
  return _mm_movemask_pd(std::bit_cast<__m128d>(mask)) == 0b11;
#else
  return (mask[0] & mask[1]) != 0;
#endif
}

inline bool every_lane(bool mask) noexcept { return mask; }

// Whether the mask is set in either lane.
inline bool any_lane(LaneMask mask) noexcept {
#if defined(__SSE2__)
  return _mm_movemask_pd(std::bit_cast<__m128d>(mask)) != 0;
#else
  return (mask[0] | mask[1]) != 0;
#endif
}

inline bool any_lane(bool mask) noexcept { return mask; }

// Whether either lane is NaN.
inline bool any_nan(DoublePair x) noexcept { return !every_lane(x == x); }

// A count of steps, one more each step until it can count no further; a
// lane's count side by side is a handle with its own count_up().
inline void count_up(std::uint32_t& count) noexcept {
  count += count != std::numeric_limits<std::uint32_t>::max();
}

// The pair form of negated(), lane for lane the lone form.
inline DoublePair negated(DoublePair x) noexcept { return canonical(-x); }

}  // namespace barworks
