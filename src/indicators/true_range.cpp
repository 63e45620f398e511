#include "true_range.h"

#include <cmath>

#include "../branch_free.h"
#include "../nan.h"

namespace barworks {

double TrueRange::update(const Bar& bar) noexcept {
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

// The stale close stays in place; it is never read while has_previous is
// clear.
void TrueRange::reset() noexcept { has_previous = false; }

}  // namespace barworks
