// The module's entry point and the list of its classes, in registration order.
#include "registration.h"

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
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_barworks",
    "Streaming technical-analysis indicators and crossover strategies, as a Python module.",
    0,
    nullptr,  // no module-level functions
    nullptr,  // single-phase initialisation: no slots
    nullptr,
    nullptr,
    nullptr,
};

ModuleCell module_cell;

using Registered =
    ClassList<Bar, Signal, AverageTrueRange, ExponentialMovingAverage, Maximum, Minimum,
              MovingAverageConvergenceDivergence, RateOfChange, RelativeStrengthIndex, SharpeRatio,
              SimpleMovingAverage, StandardDeviation, TrueRange, ExponentialMovingAverageCrossover,
              SimpleMovingAverageCrossover>;

bool register_all(PyObject* module) noexcept { return register_classes(module, Registered{}); }

void forget_interpreter() noexcept {
  forget_classes(Registered{});
  forget_module(module_cell);
}

}  // namespace
}  // namespace barworks

PyMODINIT_FUNC PyInit__barworks() {
  return barworks::initialise_module(barworks::module_definition, barworks::module_cell,
                                     &barworks::register_all, &barworks::forget_interpreter);
}
