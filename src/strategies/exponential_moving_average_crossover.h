#pragma once

#include "../indicators/exponential_moving_average.h"
#include "crossover.h"

namespace barworks {

// Compares a short and a long exponential moving average of the same stream.
// Both averages take the first input after construction or reset unchanged,
// so that answer is HOLD. A NaN or infinite input leaves the averages NaN or
// infinite, their gap NaN, and every answer HOLD until reset.
using ExponentialMovingAverageCrossover = Crossover<ExponentialMovingAverage>;
extern template struct Crossover<ExponentialMovingAverage>;

template <>
struct PythonClass<ExponentialMovingAverageCrossover>
    : CrossoverStrategy<ExponentialMovingAverageCrossover> {
  static constexpr const char* kName = "ExponentialMovingAverageCrossover";
};

}  // namespace barworks
