"""The shape of every class: constructor parameters, sample arguments and
methods, in registration order. Tests that hold for all classes are driven
from this table."""

import _barworks

SAMPLE_BAR = _barworks.Bar(10.0, 11.0, 9.0, 10.5, 100)

# name: (constructor parameters or None, sample arguments, methods, next input)
CLASSES = {
    "Bar": (("open", "high", "low", "close", "volume"), (1.0, 2.0, 0.5, 1.5, 10),
            ("open", "high", "low", "close", "volume"), None),
    "Signal": (None, None, (), None),
    "AverageTrueRange": (("period",), (3,), ("period", "next", "reset"), SAMPLE_BAR),
    "ExponentialMovingAverage": (("period",), (3,), ("period", "next", "reset"), 1.0),
    "Maximum": (("period",), (3,), ("period", "next", "reset", "find_max_index"), 1.0),
    "Minimum": (("period",), (3,), ("period", "next", "reset", "find_min_index"), 1.0),
    "MovingAverageConvergenceDivergence": (("long_period", "short_period", "signal_period"),
                                           (26, 12, 9), ("next", "reset"), 1.0),
    "RateOfChange": (("period",), (3,), ("period", "next", "reset"), 1.0),
    "RelativeStrengthIndex": (("period",), (3,), ("period", "next", "reset"), 1.0),
    "SharpeRatio": (("period", "rf"), (3, 0.01), ("period", "next", "reset"), 1.0),
    "SimpleMovingAverage": (("period",), (3,), ("period", "next", "reset"), 1.0),
    "StandardDeviation": (("period",), (3,), ("period", "next", "reset"), 1.0),
    "TrueRange": ((), (), ("next", "reset"), SAMPLE_BAR),
    "ExponentialMovingAverageCrossover": (("short_period", "long_period"), (2, 5),
                                          ("next", "reset"), 1.0),
    "SimpleMovingAverageCrossover": (("short_period", "long_period"), (2, 5),
                                     ("next", "reset"), 1.0),
}

CONSTRUCTED = [name for name, (parameters, *_) in CLASSES.items() if parameters is not None]
STREAMED = [name for name, (*_, sample_input) in CLASSES.items() if sample_input is not None]


def make(name):
    return getattr(_barworks, name)(*CLASSES[name][1])


def sample_input(name):
    return CLASSES[name][3]
