#include "true_range.h"

namespace barworks {

// The stale close stays in place; it is never read while has_previous is
// clear.
void TrueRange::reset() noexcept { has_previous = false; }

}  // namespace barworks
