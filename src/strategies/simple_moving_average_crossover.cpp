#include "simple_moving_average_crossover.h"

namespace barworks {

template struct Crossover<SimpleMovingAverage>;

}  // namespace barworks
