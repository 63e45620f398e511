// Scans of doubles lying one after another, at any alignment, for the most
// extreme in the sense of an extremum's Order (Order::beats(a, b), true when
// a is strictly more extreme than b).
#pragma once

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace barworks {

inline double cell_at(const char* cells, std::size_t i) noexcept {
  double value;
  std::memcpy(&value, cells + i * sizeof value, sizeof value);
  return value;
}

// The fold acc = beats(v, acc) ? v : acc over `count` cells: the extreme
// value, NaN never taking over. minpd and maxpd are exactly that fold, two
// lanes at a time; the lanes' order changes at most the sign of a zero,
// never the value.
template <class Order>
double fold_extreme(const char* cells, std::size_t count, double acc) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  constexpr bool kLowest = Order::beats(0.0, 1.0);
  const auto pick = [](__m128d value, __m128d extreme) {
    return kLowest ? _mm_min_pd(value, extreme) : _mm_max_pd(value, extreme);
  };
  __m128d first = _mm_set1_pd(acc), second = first;
  for (; i + 4 <= count; i += 4) {
    first = pick(_mm_loadu_pd(reinterpret_cast<const double*>(cells + i * sizeof(double))), first);
    second = pick(_mm_loadu_pd(reinterpret_cast<const double*>(cells + (i + 2) * sizeof(double))),
                  second);
  }
  double lanes[4];
  _mm_storeu_pd(lanes, first);
  _mm_storeu_pd(lanes + 2, second);
  for (const double lane : lanes) acc = Order::beats(lane, acc) ? lane : acc;
#endif
  for (; i < count; ++i) {
    const double value = cell_at(cells, i);
    acc = Order::beats(value, acc) ? value : acc;
  }
  return acc;
}

// The first of `count` cells equal to `value` as a number (-0.0 equals 0.0,
// NaN equals nothing), or `count`.
inline std::size_t first_equal(const char* cells, std::size_t count, double value) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128d wanted = _mm_set1_pd(value);
  for (; i + 2 <= count; i += 2) {
    const __m128d pair = _mm_loadu_pd(reinterpret_cast<const double*>(cells + i * sizeof(double)));
    const int equal = _mm_movemask_pd(_mm_cmpeq_pd(pair, wanted));
    if (equal != 0) return i + ((equal & 1) != 0 ? 0 : 1);
  }
#endif
  for (; i < count; ++i) {
    if (cell_at(cells, i) == value) return i;
  }
  return count;
}

// The first cell of the strictly most extreme value, as a scan from the
// fill value keeping each strict improvement finds it; `count` when no cell
// beats the fill (all fill or NaN).
template <class Order>
std::size_t first_extreme(const char* cells, std::size_t count, double fill) noexcept {
  const double extreme = fold_extreme<Order>(cells, count, fill);
  return Order::beats(extreme, fill) ? first_equal(cells, count, extreme) : count;
}

}  // namespace barworks
