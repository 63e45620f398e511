"""Pure-Python models of every streaming class, by class name.

Python floats are IEEE doubles, so a model that performs the documented
operations in the documented order gives the module's results bit for bit.
Each model is written once, beside the tests of its class; this module only
gathers them (and adds what those tests do not need, such as resetting a
true range) so that tests over all classes find them in one place.

Every model has `next(value)` (a Bar-fed model takes the bar's high, low and
close instead) and `reset()`.
"""

from average_models import CrossoverModel, ExponentialAverageModel, MacdModel, SimpleAverageModel
from test_true_range import AverageTrueRangeModel
from test_true_range import TrueRangeModel as _TrueRangeModel
from test_windowed import (
    DeviationModel,
    RateModel,
    SharpeModel,
    StrengthModel,
    highest_model,
    lowest_model,
)


class TrueRangeModel(_TrueRangeModel):
    def reset(self):
        self.previous = None


def simple_crossover_model(short_period, long_period):
    return CrossoverModel(SimpleAverageModel, short_period, long_period)


def exponential_crossover_model(short_period, long_period):
    return CrossoverModel(ExponentialAverageModel, short_period, long_period)


# Class name: a function of the converted constructor arguments that
# returns a fresh model.
MODELS = {
    "AverageTrueRange": AverageTrueRangeModel,
    "ExponentialMovingAverage": ExponentialAverageModel,
    "Maximum": highest_model,
    "Minimum": lowest_model,
    "MovingAverageConvergenceDivergence": MacdModel,
    "RateOfChange": RateModel,
    "RelativeStrengthIndex": StrengthModel,
    "SharpeRatio": SharpeModel,
    "SimpleMovingAverage": SimpleAverageModel,
    "StandardDeviation": DeviationModel,
    "TrueRange": TrueRangeModel,
    "ExponentialMovingAverageCrossover": exponential_crossover_model,
    "SimpleMovingAverageCrossover": simple_crossover_model,
}
