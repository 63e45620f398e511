#include "minimum.h"

namespace barworks {

template struct Extremum<LowestFirst>;

}  // namespace barworks
