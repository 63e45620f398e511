#include "exponential_moving_average_crossover.h"

namespace barworks {

template struct Crossover<ExponentialMovingAverage>;

}  // namespace barworks
