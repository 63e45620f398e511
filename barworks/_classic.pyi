"""The extension module behind barworks.classic: its classes report that
module as theirs and are described there."""

from barworks.classic import (
    AverageTrueRange as AverageTrueRange,
    ExponentialMovingAverage as ExponentialMovingAverage,
    MovingAverageConvergenceDivergence as MovingAverageConvergenceDivergence,
    RateOfChange as RateOfChange,
    RelativeStrengthIndex as RelativeStrengthIndex,
    StandardDeviation as StandardDeviation,
)

__all__ = [
    "AverageTrueRange",
    "ExponentialMovingAverage",
    "MovingAverageConvergenceDivergence",
    "RateOfChange",
    "RelativeStrengthIndex",
    "StandardDeviation",
]
