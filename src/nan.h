// The one NaN that records hold.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace barworks {

// The NaN this processor makes for an invalid operation (inf - inf, 0 * inf):
// negative on x86, positive elsewhere. An operation on two NaNs answers one
// of them, and which one depends on the order the compiler gave the operands,
// which differs between a batch loop and next. With every NaN that enters a
// record made this one, all NaNs a record holds or answers have the same
// bits, and a batch run and a loop of next agree to the bit.
#if defined(__x86_64__) || defined(__i386__)
inline constexpr double kNaN = std::bit_cast<double>(std::uint64_t{0xFFF8000000000000});
#else
inline constexpr double kNaN = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});
#endif

// An input as a record takes it: any NaN becomes kNaN.
inline double canonical(double x) noexcept { return x != x ? kNaN : x; }

// x, hidden from the optimiser. Where a NaN constant (kNaN, or a record's
// "not yet") may reach arithmetic, the compiler can fold that operation
// while building and give a NaN of its own sign, unlike the processor.
// A value passed through here is never folded; it costs no instruction.
// A template, so that a pair of lanes passes the same way.
template <class Number>
inline Number unfolded(Number x) noexcept {
#if defined(__x86_64__) || defined(__i386__)
  asm("" : "+x"(x));
#else
  asm("" : "+m"(x));
#endif
  return x;
}

// |x| and -x touch only the sign bit, a NaN's too: these keep a NaN kNaN.
inline double magnitude(double x) noexcept { return canonical(std::fabs(x)); }
inline double negated(double x) noexcept { return canonical(-x); }

}  // namespace barworks
