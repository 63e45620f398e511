#include "maximum.h"

namespace barworks {

template struct Extremum<HighestFirst>;

}  // namespace barworks
