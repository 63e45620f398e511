// Selections between doubles that compile to no branch. Where the choice
// follows the data (the sign of a price change, which of two gaps is wider)
// a branch is mispredicted about every other step, and the compiler keeps
// conditional expressions on doubles as branches when NaN must be honoured.
#pragma once

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "lanes.h"

namespace barworks {

#if defined(__SSE2__)
// x in the low lane of a register, its upper lane whatever it held: the
// scalar forms below read and answer the low lane only, and the bitwise
// ones raise nothing on the other, so the upper lane need not be cleared
// (_mm_set_sd would clear it, an instruction for each operand).
inline __m128d in_low_lane(double x) noexcept {
#if defined(__clang__)
  // Clang refuses operands of two sizes in one register, and tracks an
  // undefined lane itself.
  __m128d lanes = _mm_undefined_pd();
  lanes[0] = x;
#else
  __m128d lanes;
  asm("" : "=x"(lanes) : "0"(x));
#endif
  return lanes;
}
#endif

// max(x, 0), and NaN for a NaN x.
inline double positive_part(double x) noexcept {
#if defined(__SSE2__)
  // maxsd answers its second operand when either is NaN.
  return _mm_cvtsd_f64(_mm_max_sd(_mm_setzero_pd(), in_low_lane(x)));
#else
  return 0.0 > x ? 0.0 : x;
#endif
}

// `value` where x > y, else 0.0 (also where either is NaN).
inline double where_above(double x, double y, double value) noexcept {
#if defined(__SSE2__)
  // x > y as y < x: the greater-than form swaps its operands and then
  // mends the upper lane, an instruction more.
  const __m128d above = _mm_cmplt_sd(in_low_lane(y), in_low_lane(x));
  return _mm_cvtsd_f64(_mm_and_pd(above, in_low_lane(value)));
#else
  return x > y ? value : 0.0;
#endif
}

// x > y ? chosen : otherwise (`otherwise` also where either is NaN), for a
// lone double without a branch (a window extreme's slot, a new extreme of a
// trend: both come at random) or lanes side by side.
inline double chosen_above(double x, double y, double chosen, double otherwise) noexcept {
#if defined(__SSE2__)
  const __m128d above = _mm_cmplt_sd(in_low_lane(y), in_low_lane(x));
  return _mm_cvtsd_f64(_mm_or_pd(_mm_and_pd(above, in_low_lane(chosen)),
                                 _mm_andnot_pd(above, in_low_lane(otherwise))));
#else
  return x > y ? chosen : otherwise;
#endif
}
inline DoublePair chosen_above(DoublePair x, DoublePair y, DoublePair chosen,
                               DoublePair otherwise) noexcept {
  return select(x > y, chosen, otherwise);
}

// positive_part(x) where x > y, else 0.0: the directional movement's rule
// for one side.
inline double positive_part_above(double x, double y) noexcept {
  return where_above(x, y, positive_part(x));
}

// What a move from y to x adds to a running total of `amount`: `amount`
// when x > y, -amount when x < y, and -0.0 otherwise (NaN included), which
// added changes no bit of any total. A NaN amount is passed as it is:
// added, it gives the total that subtracting it would.
inline double signed_by_move(double x, double y, double amount) noexcept {
#if defined(__SSE2__)
  const __m128d to = in_low_lane(x), from = in_low_lane(y), value = in_low_lane(amount);
  const __m128d rose = _mm_cmplt_sd(from, to), fell = _mm_cmplt_sd(to, from);
  const __m128d sign = _mm_set_sd(-0.0);
  // -amount by its sign bit, except that a NaN amount keeps its own.
  const __m128d flipped = _mm_xor_pd(value, _mm_andnot_pd(_mm_cmpunord_sd(value, value), sign));
  const __m128d moved = _mm_or_pd(_mm_and_pd(rose, value), _mm_and_pd(fell, flipped));
  return _mm_cvtsd_f64(_mm_or_pd(moved, _mm_andnot_pd(_mm_or_pd(rose, fell), sign)));
#else
  return x > y ? amount : x < y ? (amount != amount ? amount : -amount) : -0.0;
#endif
}

// x > y ? x : y and x < y ? x : y, each one maxsd or minsd (y when either
// is NaN or on a tie). Written as the one instruction: through the
// intrinsics, each operand's upper lane is cleared first, an instruction
// more each, and a ternary the compiler may turn into a branch.
template <bool kLarger>
inline double lone_pick(double x, double y) noexcept {
#if defined(__AVX__)
  double picked;
  if constexpr (kLarger) {
    asm("vmaxsd %2, %1, %0" : "=x"(picked) : "x"(x), "xm"(y));
  } else {
    asm("vminsd %2, %1, %0" : "=x"(picked) : "x"(x), "xm"(y));
  }
  return picked;
#elif defined(__SSE2__)
  if constexpr (kLarger) {
    asm("maxsd %1, %0" : "+x"(x) : "xm"(y));
  } else {
    asm("minsd %1, %0" : "+x"(x) : "xm"(y));
  }
  return x;
#else
  return (kLarger ? x > y : x < y) ? x : y;
#endif
}
inline double greater_or_second(double x, double y) noexcept { return lone_pick<true>(x, y); }
inline double less_or_second(double x, double y) noexcept { return lone_pick<false>(x, y); }

// The larger of x and y, taking the other operand when one is NaN; on a tie
// x wins, which decides only the sign of a zero result.
inline double max_ignoring_nan(double x, double y) noexcept {
#if defined(__SSE2__)
  const __m128d left = in_low_lane(x);
  const __m128d right = in_low_lane(y);
  // y > x ? y : x, which is x when either is NaN.
  const __m128d larger = _mm_max_sd(right, left);
  const __m128d left_is_nan = _mm_cmpunord_sd(left, left);
  return _mm_cvtsd_f64(
      _mm_or_pd(_mm_and_pd(left_is_nan, right), _mm_andnot_pd(left_is_nan, larger)));
#else
  if (x != x) return y;
  return y > x ? y : x;
#endif
}

// signed_by_move() of two lanes side by side, lane for lane its bits.
inline DoublePair signed_by_move(DoublePair x, DoublePair y, DoublePair amount) noexcept {
  const LaneMask rose = x > y;
  const LaneMask fell = x < y;
  const auto sign = std::bit_cast<LaneMask>(DoublePair{-0.0, -0.0});
  const auto value = std::bit_cast<LaneMask>(amount);
  // -amount by its sign bit, except that a NaN amount keeps its own.
  const LaneMask flipped = value ^ (sign & (amount == amount));
  const LaneMask moved = (rose & value) | (fell & flipped);
  return std::bit_cast<DoublePair>(moved | (~(rose | fell) & sign));
}

// positive_part(), where_above() and positive_part_above() of two lanes
// side by side, lane for lane the bits of the lone forms.
inline DoublePair positive_part(DoublePair x) noexcept {
#if defined(__SSE2__)
  return std::bit_cast<DoublePair>(_mm_max_pd(_mm_setzero_pd(), std::bit_cast<__m128d>(x)));
#else
  return DoublePair{positive_part(x[0]), positive_part(x[1])};
#endif
}
inline DoublePair where_above(DoublePair x, DoublePair y, DoublePair value) noexcept {
  return std::bit_cast<DoublePair>((x > y) & std::bit_cast<LaneMask>(value));
}
inline DoublePair positive_part_above(DoublePair x, DoublePair y) noexcept {
  return where_above(x, y, positive_part(x));
}

}  // namespace barworks
