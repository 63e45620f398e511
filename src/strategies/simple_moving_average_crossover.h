#pragma once

#include "../indicators/simple_moving_average.h"
#include "crossover.h"

namespace barworks {

// Compares a short and a long simple moving average of the same stream. For
// the first short-period inputs both windows hold the same values with the
// same running sums, so the answer is HOLD whatever they are. Constant inputs
// need not answer HOLD afterwards: the two running sums round differently. A
// NaN, or an infinity that leaves a window, makes a sum NaN and every answer
// HOLD until reset.
using SimpleMovingAverageCrossover = Crossover<SimpleMovingAverage>;
extern template struct Crossover<SimpleMovingAverage>;

template <>
struct PythonClass<SimpleMovingAverageCrossover>
    : CrossoverStrategy<SimpleMovingAverageCrossover> {
  static constexpr const char* kName = "SimpleMovingAverageCrossover";
};

}  // namespace barworks
