// The classes of _barworks, in registration order: the one list that module
// registration, the companion's recognition and dispatch, and the checkpoint
// loader all read. A new class is its record's header and one line here.
#pragma once

#include "describe.h"

#include "bar.h"
#include "indicators/average_true_range.h"
#include "indicators/exponential_moving_average.h"
#include "indicators/maximum.h"
#include "indicators/minimum.h"
#include "indicators/moving_average_convergence_divergence.h"
#include "indicators/rate_of_change.h"
#include "indicators/relative_strength_index.h"
#include "indicators/sharpe_ratio.h"
#include "indicators/simple_moving_average.h"
#include "indicators/standard_deviation.h"
#include "indicators/true_range.h"
#include "signal.h"
#include "strategies/exponential_moving_average_crossover.h"
#include "strategies/simple_moving_average_crossover.h"

namespace barworks {

using ModuleClasses =
    ClassList<Bar, Signal, AverageTrueRange, ExponentialMovingAverage, Maximum, Minimum,
              MovingAverageConvergenceDivergence, RateOfChange, RelativeStrengthIndex, SharpeRatio,
              SimpleMovingAverage, StandardDeviation, TrueRange, ExponentialMovingAverageCrossover,
              SimpleMovingAverageCrossover>;

}  // namespace barworks
