"""Streaming indicators with the definitions that batch libraries and
charting tools print: Wilder's relative strength index and average true
range, moving averages seeded with a simple average, rate of change in
percent, and a population standard deviation that stays exact however long
the stream. Each answers NaN until it has seen its lookback:

    ============================================  ===================================
    class                                         inputs before the first number
    ============================================  ===================================
    RelativeStrengthIndex(period)                 period + 1  (lookback period)
    AverageTrueRange(period)                      period + 1 bars  (lookback period)
    ExponentialMovingAverage(period)              period  (lookback period - 1)
    MovingAverageConvergenceDivergence(f, s, g)   s + g - 1  (lookback s - 1 + g - 1)
    RateOfChange(period)                          period + 1  (lookback period)
    StandardDeviation(period)                     period  (lookback period - 1)
    ============================================  ===================================
"""

from barworks._classic import (
    AverageTrueRange,
    ExponentialMovingAverage,
    MovingAverageConvergenceDivergence,
    RateOfChange,
    RelativeStrengthIndex,
    StandardDeviation,
)

__all__ = [
    "AverageTrueRange",
    "ExponentialMovingAverage",
    "MovingAverageConvergenceDivergence",
    "RateOfChange",
    "RelativeStrengthIndex",
    "StandardDeviation",
]
