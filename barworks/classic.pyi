"""Streaming indicators with the definitions that batch libraries and
charting tools print (TA-Lib's): moving averages of every common kind,
oscillators, volatility, statistics and least-squares lines. Where those
libraries keep running sums that drift, these stay exact to the window
however long the stream.

Each answers NaN until it has seen its lookback (``barworks.lookback`` gives
it for an object), then a number for every input, as the batch libraries do.
NaN inputs before the first number are skipped without counting, so a series
may start with missing values. Calls bind, convert and refuse arguments as
the ``_barworks`` classes do: TypeError for binding and conversion,
OverflowError for a period below 0 or above 4294967295, ValueError "Period
cannot be 0." for a zero period, RuntimeError "Already borrowed" for an
object used again from inside its own call; a failed call leaves the object
unchanged.
"""

from typing import Protocol, SupportsFloat, SupportsIndex, TypeAlias, final

from _barworks import Bar

# A number as next converts it: a float, an int, or any object with
# __float__ or __index__.
_Real: TypeAlias = SupportsFloat | SupportsIndex
# An unsigned 32-bit count: an int (bool included) or an object with __index__.
_Count: TypeAlias = SupportsIndex

class _BarFields(Protocol):
    """Any object with numeric open, high, low, close and volume attributes:
    a named tuple, a dataclass, a row of ``DataFrame.itertuples()``. Its
    volume may be fractional or beyond 2**32."""

    @property
    def open(self) -> _Real: ...
    @property
    def high(self) -> _Real: ...
    @property
    def low(self) -> _Real: ...
    @property
    def close(self) -> _Real: ...
    @property
    def volume(self) -> _Real: ...

# What a bar class's next takes: a Bar (its whole volume read as a float) or
# any object with the five fields.
_AnyBar: TypeAlias = Bar | _BarFields

__all__ = [
    "AverageTrueRange",
    "ExponentialMovingAverage",
    "MovingAverageConvergenceDivergence",
    "RateOfChange",
    "RelativeStrengthIndex",
    "StandardDeviation",
    "WeightedMovingAverage",
    "DoubleExponentialMovingAverage",
    "TripleExponentialMovingAverage",
    "TriangularMovingAverage",
    "Momentum",
    "KaufmanAdaptiveMovingAverage",
    "TillsonT3",
    "Variance",
    "BollingerBands",
    "LinearRegression",
    "LinearRegressionSlope",
    "LinearRegressionIntercept",
    "LinearRegressionAngle",
    "TimeSeriesForecast",
    "Midpoint",
    "Midprice",
    "NormalizedAverageTrueRange",
    "ParabolicSar",
    "Correlation",
    "Beta",
    "OnBalanceVolume",
    "AccumulationDistribution",
    "ChaikinOscillator",
    "MoneyFlowIndex",
    "BalanceOfPower",
    "Aroon",
    "AroonOscillator",
    "WilliamsR",
    "StochasticFast",
    "Stochastic",
    "StochasticRsi",
    "CommodityChannelIndex",
    "UltimateOscillator",
    "PlusDirectionalMovement",
    "MinusDirectionalMovement",
    "PlusDirectionalIndicator",
    "MinusDirectionalIndicator",
    "DirectionalMovementIndex",
    "AverageDirectionalIndex",
    "AverageDirectionalIndexRating",
    "AbsolutePriceOscillator",
    "PercentagePriceOscillator",
    "ChandeMomentumOscillator",
    "Trix",
]

@final
class AverageTrueRange:
    """Wilder's average true range.

    A bar's true range is ``max(high - low, |high - p|, |low - p|)`` against
    the previous close ``p``; the first bar has no previous close and so no
    true range: it only supplies that close. The average is seeded with the
    mean of the first ``period`` true ranges, then
    ``average = (average * (period - 1) + range) / period``.

    Lookback ``period``: NaN for the first ``period`` bars, a number from bar
    ``period + 1`` on.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> AverageTrueRange: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the average true range, NaN during the lookback.

        Bars before the first whose high, low and close are all numbers are
        skipped without counting. Later, a NaN high or low makes the true
        range NaN, which stays in the average until ``reset``, as in TA-Lib;
        a NaN previous close is passed over; an infinite true range makes the
        answers infinite, then NaN. Raises TypeError for an input that is
        neither a ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar, the previous close included: the object behaves as a new one."""

@final
class ExponentialMovingAverage:
    """Exponential moving average with ``alpha = 2 / (period + 1)``, seeded
    with the simple average of the first ``period`` inputs.

    ``seed = (x1 + ... + xN) / N``, then ``current = (x - current) * alpha + current``.

    Lookback ``period - 1``: NaN for the first ``period - 1`` inputs, then
    the seed.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> ExponentialMovingAverage: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the average, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN makes every answer NaN until ``reset``. An infinite input
        makes the average infinite, and the next input gives NaN (infinity
        minus infinity) until ``reset``.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class MovingAverageConvergenceDivergence:
    """MACD line, signal line and histogram from three seeded exponential averages.

    ``macd = fast(x) - slow(x)``, ``signal = signal_average(macd)``,
    ``histogram = macd - signal``, each average seeded as
    ``ExponentialMovingAverage``. The fast average starts with input
    ``slow_period - fast_period + 1``, so that both take their seeds from
    windows ending at the same input; the signal average takes the MACD line
    from then on.

    The periods default to (12, 26, 9). Lookback
    ``slow_period - 1 + signal_period - 1`` (33 for (12, 26, 9)).

    Raises ValueError "Period cannot be 0." for the first zero period in the
    order fast, slow, signal, then ValueError "Fast period must be less than
    slow period." when ``fast_period >= slow_period``.
    """

    def __new__(
        cls, fast_period: _Count = 12, slow_period: _Count = 26, signal_period: _Count = 9
    ) -> MovingAverageConvergenceDivergence: ...
    def next(self, input: _Real) -> tuple[float, float, float]:
        """Take one value and return ``(macd, signal, histogram)``, all three
        NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN until ``reset``.
        """

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class RateOfChange:
    """Rate of change in percent against the input ``period`` steps back:
    ``(x / reference - 1) * 100`` (10 to 11 gives 10.0).

    Lookback ``period``: NaN until ``period + 1`` inputs have been seen.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count) -> RateOfChange: ...
    def next(self, input: _Real) -> float:
        """Take one value and return its change in percent, NaN during the lookback.

        NaN inputs before the first number are skipped without counting;
        later NaN and infinite inputs give what IEEE arithmetic gives and
        affect only the answers that read them. A zero reference gives an
        infinity, or NaN for a zero input (the batch libraries answer 0).
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class RelativeStrengthIndex:
    """Wilder's relative strength index, 0 to 100.

    Each input after the first gives a change ``c = x - previous``, split
    into gain ``max(c, 0)`` and loss ``max(-c, 0)``. Both averages are seeded
    with the plain mean of the first ``period`` gains and losses, then
    ``average = (average * (period - 1) + value) / period``; the answer is
    ``100 * gain / (gain + loss)``, or 0.0 when both averages are 0.

    Lookback ``period``: NaN until ``period`` changes have been seen.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> RelativeStrengthIndex: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the index, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN makes its change NaN, which stays in both averages until
        ``reset``. An infinite input gives infinite averages and NaN answers.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class StandardDeviation:
    """Population standard deviation of the last ``period`` inputs,
    ``sqrt(sum((x - mean) ** 2) / period)``, exact at any price level.

    The mean and the sum of squared deviations slide relative to a value
    near the window and are recomputed exactly from the window every
    ``period`` inputs (every 64 for shorter windows, and at once when the
    spread collapses), so the answer stays within a few times 1e-14 of the
    exact deviation however long the stream (TA-Lib's STDDEV keeps running
    sums and drifts); a window of equal values answers exactly 0.0. At
    spreads near 1e154 the squares overflow and the answer is inf or NaN.

    Lookback ``period - 1``: NaN until the window is full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count) -> StandardDeviation: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the deviation, NaN during the lookback.

        A NaN or infinite input makes the answers NaN while it is in the
        window; once it has left, the deviation is recomputed from the window
        and is exact again.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class WeightedMovingAverage:
    """Linearly weighted moving average of the last ``period`` inputs, the
    newest weighing ``period`` and the oldest 1:
    ``(1 x1 + 2 x2 + ... + n xn) / (n (n + 1) / 2)``.

    The weighted sum slides in O(1) and is recomputed from the window every
    ``period`` inputs, so it stays within about 1e-15 of the exact average
    however long the stream (TA-Lib's WMA keeps running sums and drifts by
    about 1e-11). The period defaults to 30. Lookback ``period - 1``: NaN
    until the window is full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 30) -> WeightedMovingAverage: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the average, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN while it is in the
        window, and once it has left the average is recomputed from the
        window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class DoubleExponentialMovingAverage:
    """Double exponential moving average: ``2 * e1 - e2``, where ``e1`` is
    the exponential moving average of the inputs and ``e2`` that of ``e1``,
    both with ``alpha = 2 / (period + 1)`` and seeded as
    ``ExponentialMovingAverage`` (``e2`` with the simple average of the
    first ``period`` values of ``e1``).

    The period defaults to 30. Lookback ``2 * (period - 1)``. No division by
    the inputs, so no zero divisor.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 30) -> DoubleExponentialMovingAverage: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the average, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN until ``reset``.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class TripleExponentialMovingAverage:
    """Triple exponential moving average: ``3 * e1 - 3 * e2 + e3``, where
    ``e1`` is the exponential moving average of the inputs, ``e2`` that of
    ``e1`` and ``e3`` that of ``e2``, all with ``alpha = 2 / (period + 1)``
    and each seeded with the simple average of the first ``period`` values
    it takes, as ``ExponentialMovingAverage`` is.

    The period defaults to 30. Lookback ``3 * (period - 1)``. No division by
    the inputs, so no zero divisor.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 30) -> TripleExponentialMovingAverage: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the average, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN until ``reset``.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class TriangularMovingAverage:
    """Triangular moving average: the simple average of simple averages,
    ``SMA(m)`` of ``SMA(m)`` for an odd period ``n = 2m - 1`` and
    ``SMA(m + 1)`` of ``SMA(m)`` for an even one ``n = 2m``; over the
    window, weights rising 1, 2, ... m from either end over their total
    (``(x1 + 2 x2 + 3 x3 + 2 x4 + x5) / 9`` for 5,
    ``(x1 + 2 x2 + 2 x3 + x4) / 6`` for 4).

    The weighted sum slides in O(1) and is recomputed from the window every
    ``period`` inputs, so it stays within about 1e-15 of the exact average
    however long the stream (TA-Lib's TRIMA keeps running sums and drifts).
    The period defaults to 30. Lookback ``period - 1``: NaN until the window
    is full. No division by the inputs, so no zero divisor.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 30) -> TriangularMovingAverage: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the average, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN while it is in the
        window, and once it has left the average is recomputed from the
        window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class Momentum:
    """Momentum, the change against the input ``period`` steps back:
    ``x - x[-period]`` (10 to 11 gives 1.0).

    The period defaults to 10. Lookback ``period``: NaN until ``period + 1``
    inputs have been seen. No divisor.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 10) -> Momentum: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the change, NaN during the lookback.

        NaN inputs before the first number are skipped without counting;
        later NaN and infinite inputs give what IEEE arithmetic gives and
        affect only the answers that read them.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class KaufmanAdaptiveMovingAverage:
    """Kaufman's adaptive moving average. The efficiency ratio of the last
    ``period`` changes, ``|x - x[-period]|`` over the sum of the absolute
    changes, sets the smoothing between those of 2- and 30-input
    exponential averages:
    ``sc = (ratio * (2/3 - 2/31) + 2/31) ** 2``, then
    ``average = (x - average) * sc + average``, seeded with the input before
    the first answer.

    A window without movement (a zero sum of changes) reads as ratio 1, as
    in TA-Lib. The sum of changes slides in O(1) and is recomputed from the
    window every ``period`` inputs (every 64 for shorter windows) and
    whenever it falls to a sixteenth of
    its peak, so it stays within a few ulps of the exact sum and a still
    window reads exactly 0 (TA-Lib's KAMA keeps a running sum, which
    drifts). The period defaults to 30. Lookback ``period``; a period of 1
    answers every input as it is, with lookback 0, as TA-Lib does.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435455 or more
    (the window holds ``period + 1`` inputs).
    """

    def __new__(cls, period: _Count = 30) -> KaufmanAdaptiveMovingAverage: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the average, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN until ``reset``.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class TillsonT3:
    """Tillson's T3: six exponential averages of one period in a chain, each
    with ``alpha = 2 / (period + 1)`` and seeded with the simple average of
    the first ``period`` values it takes, as ``ExponentialMovingAverage``
    is; with ``a = volume_factor``,
    ``c1 e6 + c2 e5 + c3 e4 + c4 e3`` where ``c1 = -a^3``,
    ``c2 = 3a^2 + 3a^3``, ``c3 = -6a^2 - 3a - 3a^3`` and
    ``c4 = 1 + 3a + a^3 + 3a^2``.

    The parameters default to (5, 0.7). Lookback ``6 * (period - 1)``. No
    division by the inputs, so no zero divisor.

    Raises ValueError "Period cannot be 0." for a zero period, then
    ValueError "Volume factor must be between 0 and 1." for a volume factor
    outside [0, 1] or NaN.
    """

    def __new__(cls, period: _Count = 5, volume_factor: _Real = 0.7) -> TillsonT3: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the average, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN until ``reset``.
        """

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class Variance:
    """Population variance of the last ``period`` inputs,
    ``sum((x - mean) ** 2) / period``, exact at any price level.

    The mean and the sum of squared deviations slide relative to a value
    near the window and are recomputed exactly from the window every
    ``period`` inputs (every 64 for shorter windows, and at once when the
    spread collapses), so the answer stays within a few times 1e-13 of the exact
    variance however long the stream (TA-Lib's VAR keeps running sums and
    drifts). A window of equal values answers exactly 0.0. The period
    defaults to 5. Lookback ``period - 1``: NaN until the window is full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 5) -> Variance: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the variance, NaN during the lookback.

        A NaN or infinite input makes the answers NaN while it is in the
        window (so leading NaN inputs only delay the first answer); once it
        has left, the variance is recomputed from the window and is exact
        again.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class BollingerBands:
    """Bollinger bands of the last ``period`` inputs, ``(upper, middle, lower)``:
    ``middle = mean``, ``upper = middle + deviations_up * deviation``,
    ``lower = middle - deviations_down * deviation``, with the population
    standard deviation (divisor ``period``).

    The mean and the deviation are those of ``Variance``: exact at any price
    level however long the stream (TA-Lib's BBANDS keeps running sums and
    drifts). A window of equal values has deviation exactly 0.0, so all three
    bands are that value. The parameters default to (5, 2.0, 2.0); the
    factors may be any float. Lookback ``period - 1``: all three NaN until
    the window is full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(
        cls, period: _Count = 5, deviations_up: _Real = 2.0, deviations_down: _Real = 2.0
    ) -> BollingerBands: ...
    def next(self, input: _Real) -> tuple[float, float, float]:
        """Take one value and return ``(upper, middle, lower)``, all three NaN
        during the lookback.

        A NaN or infinite input makes the answers NaN while it is in the
        window; once it has left, the bands are recomputed from the window.
        """

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class LinearRegression:
    """The least-squares line of the last ``period`` inputs at the newest
    one: ``intercept + slope * (period - 1)`` (TA-Lib's LINEARREG).

    Fits the least-squares line through the last ``period`` inputs, the oldest
    at x = 0 and the newest at x = ``period - 1``. The sums of the inputs and
    of position times input slide relative to a value near the window and are
    recomputed exactly from the window every ``period`` inputs (every 64 for
    shorter windows), so the line stays exact at any price level however long
    the stream (TA-Lib keeps running sums here and drifts by about 1e-11). A
    window of equal values answers exactly that value; so does a period of 1.
    The period defaults to 14. Lookback ``period - 1``: NaN until the window is
    full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> LinearRegression: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the line at the newest input, NaN during the lookback.

        A NaN or infinite input makes the answers NaN while it is in the
        window; once it has left, the sums are recomputed from the window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class LinearRegressionSlope:
    """The slope per input of the least-squares line of the last ``period``
    inputs (TA-Lib's LINEARREG_SLOPE).

    Fits the least-squares line through the last ``period`` inputs, the oldest
    at x = 0 and the newest at x = ``period - 1``. The sums of the inputs and
    of position times input slide relative to a value near the window and are
    recomputed exactly from the window every ``period`` inputs (every 64 for
    shorter windows), so the line stays exact at any price level however long
    the stream (TA-Lib keeps running sums here and drifts by about 1e-11). A
    window of equal values answers exactly 0.0; so does a period of 1, which
    TA-Lib refuses. The period defaults to 14. Lookback ``period - 1``: NaN
    until the window is full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> LinearRegressionSlope: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the slope, NaN during the lookback.

        A NaN or infinite input makes the answers NaN while it is in the
        window; once it has left, the sums are recomputed from the window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class LinearRegressionIntercept:
    """The least-squares line of the last ``period`` inputs at the oldest
    one, x = 0 (TA-Lib's LINEARREG_INTERCEPT).

    Fits the least-squares line through the last ``period`` inputs, the oldest
    at x = 0 and the newest at x = ``period - 1``. The sums of the inputs and
    of position times input slide relative to a value near the window and are
    recomputed exactly from the window every ``period`` inputs (every 64 for
    shorter windows), so the line stays exact at any price level however long
    the stream (TA-Lib keeps running sums here and drifts by about 1e-11). A
    window of equal values answers exactly that value; so does a period of 1.
    The period defaults to 14. Lookback ``period - 1``: NaN until the window is
    full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> LinearRegressionIntercept: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the intercept, NaN during the lookback.

        A NaN or infinite input makes the answers NaN while it is in the
        window; once it has left, the sums are recomputed from the window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class LinearRegressionAngle:
    """The angle in degrees of the least-squares line of the last ``period``
    inputs, ``atan(slope) * 180 / pi`` with the slope per input (TA-Lib's
    LINEARREG_ANGLE).

    Fits the least-squares line through the last ``period`` inputs, the oldest
    at x = 0 and the newest at x = ``period - 1``. The sums of the inputs and
    of position times input slide relative to a value near the window and are
    recomputed exactly from the window every ``period`` inputs (every 64 for
    shorter windows), so the line stays exact at any price level however long
    the stream (TA-Lib keeps running sums here and drifts by about 1e-11). A
    window of equal values answers exactly 0.0; so does a period of 1. The
    period defaults to 14. Lookback ``period - 1``: NaN until the window is
    full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> LinearRegressionAngle: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the angle in degrees, NaN during the lookback.

        A NaN or infinite input makes the answers NaN while it is in the
        window; once it has left, the sums are recomputed from the window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class TimeSeriesForecast:
    """The least-squares line of the last ``period`` inputs one step past the
    newest: ``intercept + slope * period`` (TA-Lib's TSF).

    Fits the least-squares line through the last ``period`` inputs, the oldest
    at x = 0 and the newest at x = ``period - 1``. The sums of the inputs and
    of position times input slide relative to a value near the window and are
    recomputed exactly from the window every ``period`` inputs (every 64 for
    shorter windows), so the line stays exact at any price level however long
    the stream (TA-Lib keeps running sums here and drifts by about 1e-11). A
    window of equal values answers exactly that value; so does a period of 1.
    The period defaults to 14. Lookback ``period - 1``: NaN until the window is
    full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> TimeSeriesForecast: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the forecast, NaN during the lookback.

        A NaN or infinite input makes the answers NaN while it is in the
        window; once it has left, the sums are recomputed from the window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class Midpoint:
    """The middle of the range of the last ``period`` inputs:
    ``(highest + lowest) / 2``.

    The slots of the highest and the lowest input are remembered and found
    again only when an input leaves from one of them: amortised O(1) a step.
    The period defaults to 14. Lookback ``period - 1``: NaN until the window
    is full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> Midpoint: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the midpoint, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN makes the answers NaN while it is in the window (TA-Lib's
        MIDPOINT passes over it or not depending on where it sits). An
        infinite input gives an infinite midpoint, or NaN with the opposite
        infinity in the window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class Midprice:
    """The middle of the range of the last ``period`` bars:
    ``(highest high + lowest low) / 2``.

    Amortised O(1) a step, as ``Midpoint``. The period defaults to 14.
    Lookback ``period - 1``: NaN until the window is full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> Midprice: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the midprice, NaN during the lookback.

        Bars before the first whose high and low are both numbers are
        skipped without counting; a later NaN high or low makes the answers
        NaN while it is in the window. Raises TypeError for an input that is
        neither a ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class NormalizedAverageTrueRange:
    """Wilder's average true range as a percentage of the close:
    ``atr * (100 / close)``, with ``atr`` exactly as ``AverageTrueRange``
    computes it.

    The period defaults to 14. Lookback ``period``: NaN for the first
    ``period`` bars. A zero close answers 0.0, as TA-Lib does.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 14) -> NormalizedAverageTrueRange: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the normalised average true range, NaN
        during the lookback.

        Bars before the first whose high, low and close are all numbers are
        skipped without counting; later NaN sides act as in
        ``AverageTrueRange``, and a NaN close gives NaN for its bar. Raises
        TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar, the previous close included: the object behaves as a new one."""

@final
class ParabolicSar:
    """Wilder's parabolic stop and reverse, from the highs and lows.

    The second bar sets the direction: short when its low fell below the
    first's by more than its high rose above the first's, else long; a long
    starts with the SAR at the first low and the extreme point at the second
    high (a short at the first high and the second low). Each bar, the
    second included, answers the SAR; a low at or below it (a high at or
    above it when short) reverses the trend, the SAR jumping to the extreme
    point (kept beyond the previous and current bar) and the factor back to
    ``acceleration``; else a new extreme raises the factor by
    ``acceleration`` up to ``maximum``. Then
    ``sar += factor * (extreme - sar)``, kept at or below the previous and
    current lows (at or above the highs when short).

    The factors default to TA-Lib's (0.02, 0.2). Lookback 1: NaN for the
    first bar.

    Raises ValueError "Acceleration must be a finite number." (or Maximum),
    "Acceleration cannot be negative." (or Maximum), and "Acceleration must
    not be greater than maximum." (TA-Lib lowers it to the maximum instead).
    """

    def __new__(cls, acceleration: _Real = 0.02, maximum: _Real = 0.2) -> ParabolicSar: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the SAR, NaN for the first bar.

        Bars before the first whose high and low are both numbers are
        skipped without counting. A later NaN high or low moves nothing
        (every comparison with it fails), as in TA-Lib; a NaN in the second
        bar, which sets the direction, leaves every answer NaN until
        ``reset``. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class Correlation:
    """Pearson's correlation coefficient of the last ``period`` pairs:
    ``r = Sxy / sqrt(Sxx * Syy)``, with ``Sxx``, ``Syy`` and ``Sxy`` the
    sums of squared and crossed deviations from the means.

    The sums slide relative to a value near each window and are recomputed
    exactly every ``period`` pairs (at least 64) and when a spread
    collapses, so they stay within about 1e-13 of the exact answer however
    long the stream (TA-Lib's CORREL keeps running sums that drift). A window
    in which x or y does not move answers 0.0, as TA-Lib does. The period
    defaults to 30. Lookback ``period - 1``: NaN until the windows are full.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 30) -> Correlation: ...
    def next(self, x: _Real, y: _Real) -> float:
        """Take one pair and return the coefficient, NaN during the lookback.

        Pairs before the first whose x and y are both numbers are skipped
        without counting; a later NaN or infinite input makes the answers
        NaN while it is in the window, and once it has left the sums are
        recomputed from the windows (TA-Lib answers 0.0 from then on).
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every pair: the object behaves as a new one."""

@final
class Beta:
    """The slope of y's returns regressed on x's over the last ``period``
    returns, each return ``(price - previous) / previous`` (0 after a zero
    price): ``beta = Sxy / Sxx``, as TA-Lib's BETA(x, y) defines it.

    The sums slide and are recomputed exactly as in ``Correlation``
    (TA-Lib's BETA keeps running sums that drift). A window in which x's
    return does not change, or y's, answers 0.0, as TA-Lib does. The period
    defaults to 5. Lookback ``period``: the first pair only supplies the
    previous prices.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 5) -> Beta: ...
    def next(self, x: _Real, y: _Real) -> float:
        """Take one pair of prices and return the beta, NaN during the lookback.

        Pairs before the first whose x and y are both numbers are skipped
        without counting; a later NaN or infinite price makes the answers
        NaN while a return it enters is in the window (two returns for each
        such price), then they are recomputed from the windows.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every pair, the previous prices included: the object behaves as a new one."""

@final
class OnBalanceVolume:
    """On-balance volume: a running total of volume, added on a bar that
    closes above the previous close, taken away on one that closes below,
    left on an equal close. It starts at the first bar's volume.

    Lookback 0. Reads the close and the volume; ``feed_bars`` needs
    ``volume=``. Volumes are floats: fractional and beyond 2**32 alike.
    """

    def __new__(cls) -> OnBalanceVolume: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the total.

        Bars before the first whose close and volume are numbers are skipped
        (NaN); a later NaN volume makes the total NaN until ``reset``.
        """

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class AccumulationDistribution:
    """Chaikin's accumulation/distribution line: the running total of
    ``((close - low) - (high - close)) / (high - low) * volume``.

    Lookback 0. A bar whose high is not above its low (flat or inverted)
    adds 0.0, as TA-Lib does. Reads high, low, close and volume;
    ``feed_bars`` needs ``volume=``.
    """

    def __new__(cls) -> AccumulationDistribution: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the line.

        Bars before the first whose high, low, close and volume are numbers
        are skipped (NaN); a later NaN makes the line NaN until ``reset``.
        """

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class ChaikinOscillator:
    """Chaikin's oscillator: a fast less a slow exponential average
    (``alpha = 2 / (period + 1)``) of the accumulation/distribution line,
    both seeded with the line's first value rather than a simple average:
    ``fast = line * alpha_fast + fast * (1 - alpha_fast)``; answer
    ``fast - slow``.

    Lookback ``slow_period - 1``. The defaults are 3 and 10. Reads high, low,
    close and volume; ``feed_bars`` needs ``volume=``.

    Raises ValueError "Period cannot be 0." for a zero period and "Fast
    period must be less than slow period." unless fast < slow.
    """

    def __new__(cls, fast_period: _Count = 3, slow_period: _Count = 10) -> ChaikinOscillator: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the oscillator, NaN during the lookback.

        Leading bars with a NaN field are skipped without counting.
        """

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class MoneyFlowIndex:
    """The money flow index: a volume-weighted relative strength of the
    typical price ``(high + low + close) / 3``. A bar's money flow,
    ``typical * volume``, is rising when its typical price is above the
    previous bar's and falling when below; over the last ``period`` bars,
    ``100 * rising / (rising + falling)``.

    Lookback ``period`` (the first bar only gives a typical price). A window
    without rising or falling flow answers 0.0, as TA-Lib does. The sums
    slide and are recomputed from the windows every ``period`` bars (every
    64 for shorter windows), so they stay exact where TA-Lib's running sums
    drift. The period defaults to 14. Reads high, low, close and volume;
    ``feed_bars`` needs ``volume=``.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> MoneyFlowIndex: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the index, NaN during the lookback.

        Bars before the first whose fields are all numbers are skipped
        without counting; a later NaN price or volume makes the answers NaN
        while its bar, or the bar after it, is in the window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class BalanceOfPower:
    """Balance of power: ``(close - open) / (high - low)``, how far the bar
    moved from open to close as a share of its range.

    Lookback 0; no state. A bar whose high is not above its low answers 0.0,
    as TA-Lib does; a bar with a NaN price answers NaN. Reads the open;
    ``feed_bars`` needs ``open=``.
    """

    def __new__(cls) -> BalanceOfPower: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return its balance of power."""

    def reset(self) -> None:
        """Nothing to forget; kept so that every class resets alike."""

@final
class Aroon:
    """Aroon of the last ``period + 1`` bars, ``(down, up)`` as TA-Lib's
    AROON: ``up = (100 / period) * (period - bars since the highest high)``,
    ``down`` the same of the lowest low. Of equal extremes the latest
    counts, so a flat window answers ``(100.0, 100.0)``. Amortised O(1) a
    step. The period defaults to 14. Lookback ``period``.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a window of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> Aroon: ...
    def next(self, input: _AnyBar) -> tuple[float, float]:
        """Take one bar and return ``(down, up)``, both NaN during the lookback.

        Bars before the first whose high and low are all numbers are skipped
        without counting; a later NaN makes the answers NaN while it is in
        the window. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class AroonOscillator:
    """Aroon's ``up - down`` over the last ``period + 1`` bars (TA-Lib's
    AROONOSC): ``(100 / period) * (bars since the lowest low - bars since
    the highest high)``, 0 for a flat window. The period defaults to 14.
    Lookback ``period``.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a window of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> AroonOscillator: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the oscillator, NaN during the lookback.

        Bars before the first whose high and low are all numbers are skipped
        without counting; a later NaN makes the answers NaN while it is in
        the window. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class WilliamsR:
    """Williams %R of the last ``period`` bars (TA-Lib's WILLR):
    ``-100 * ((highest high - close) / (highest high - lowest low))``.
    A window whose highest high equals its lowest low (or comes within 2e-14 of it,
    relative to their level: rounding, not a move) answers 0.0, as
    TA-Lib does. Amortised O(1) a step. The period defaults to 14.
    Lookback ``period - 1``.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a window of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> WilliamsR: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return %R, NaN during the lookback.

        Bars before the first whose high, low and close are all numbers are skipped
        without counting; a later NaN makes the answers NaN while it is in
        the window. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class StochasticFast:
    """The fast stochastic, ``(fastk, fastd)`` as TA-Lib's STOCHF with simple
    averages: ``fastk = 100 * ((close - lowest low) / (highest high -
    lowest low))`` over the last ``fastk_period`` bars, and ``fastd`` the
    simple average of the last ``fastd_period`` fastk. A window whose
    highest high equals its lowest low (or comes within 2e-14 of it,
    relative to their level: rounding, not a move) has fastk 0.0, as TA-Lib answers.
    Amortised O(1) a step. Lookback ``fastk_period - 1 + fastd_period - 1``.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a window of 268435456 or more.
    """

    def __new__(cls, fastk_period: _Count = 5, fastd_period: _Count = 3) -> StochasticFast: ...
    def next(self, input: _AnyBar) -> tuple[float, float]:
        """Take one bar and return ``(fastk, fastd)``, both NaN during the lookback.

        Bars before the first whose high, low and close are all numbers are skipped
        without counting; a later NaN makes the answers NaN while it is in
        the window. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class Stochastic:
    """The slow stochastic, ``(slowk, slowd)`` as TA-Lib's STOCH with simple
    averages: ``slowk`` the simple average of the last ``slowk_period``
    fastk (``100 * ((close - lowest low) / (highest high - lowest low))``
    over ``fastk_period`` bars, 0.0 for a window whose highest high equals
    its lowest low (or comes within 2e-14 of it,
    relative to their level: rounding, not a move), as TA-Lib answers) and ``slowd`` the simple average of
    the last ``slowd_period`` slowk. Amortised O(1) a step. Lookback
    ``fastk_period - 1 + slowk_period - 1 + slowd_period - 1``.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a window of 268435456 or more.
    """

    def __new__(cls, fastk_period: _Count = 5, slowk_period: _Count = 3, slowd_period: _Count = 3) -> Stochastic: ...
    def next(self, input: _AnyBar) -> tuple[float, float]:
        """Take one bar and return ``(slowk, slowd)``, both NaN during the lookback.

        Bars before the first whose high, low and close are all numbers are skipped
        without counting; a later NaN makes the answers NaN while it is in
        the window. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class StochasticRsi:
    """The fast stochastic of the relative strength index, ``(fastk, fastd)``
    as TA-Lib's STOCHRSI with simple averages: ``StochasticFast(fastk_period,
    fastd_period)`` fed bars whose high, low and close are each
    ``RelativeStrengthIndex(period)`` of the closes. A window of equal RSI
    has fastk 0.0, as TA-Lib answers. Amortised O(1) a step. Lookback
    ``period + fastk_period - 1 + fastd_period - 1``.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a window of 268435456 or more.
    """

    def __new__(
        cls, period: _Count = 14, fastk_period: _Count = 5, fastd_period: _Count = 3
    ) -> StochasticRsi: ...
    def next(self, input: _Real) -> tuple[float, float]:
        """Take one close and return ``(fastk, fastd)``, both NaN during the
        lookback. NaN closes before the first number are skipped without
        counting."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class CommodityChannelIndex:
    """The commodity channel index of the last ``period`` bars (TA-Lib's CCI):
    ``(typical - mean) / (0.015 * deviation)``, where ``typical = (high +
    low + close) / 3``, ``mean`` the mean of the window's typical prices and
    ``deviation`` their mean absolute deviation from it. A zero deviation
    answers 0.0, as TA-Lib does. The deviation takes a pass over the
    window: O(period) a step. The period defaults to 14. Lookback
    ``period - 1``.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a window of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> CommodityChannelIndex: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the index, NaN during the lookback.

        Bars before the first whose high, low and close are all numbers are skipped
        without counting; a later NaN makes the answers NaN while it is in
        the window. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class UltimateOscillator:
    """Williams' ultimate oscillator (TA-Lib's ULTOSC). Against the previous
    close ``p``, a bar's buying pressure is ``close - min(low, p)`` and its
    true range ``max(high, p) - min(low, p)``; with ``a(n)`` the sum of
    buying pressure over the sum of true range of the last ``n`` bars,
    ``100 * ((4 * a(shortest) + 2 * a(middle) + a(longest)) / 7)``.

    The three periods are taken in order, whatever order they are given in,
    and may be equal, as TA-Lib takes them: ``UltimateOscillator(28, 14, 7)``
    is ``UltimateOscillator(7, 14, 28)``. A term whose true ranges sum to 0
    (a flat stretch) is 0.0, as TA-Lib answers. Lookback the longest period
    (the first bar only gives a close). The sums slide and are recomputed
    from the windows every longest period (every 64 bars for shorter ones),
    so they stay exact where TA-Lib's running sums drift. The periods
    default to 7, 14 and 28. Reads high, low and close.

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period1: _Count = 7, period2: _Count = 14,
                period3: _Count = 28) -> UltimateOscillator: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the oscillator, NaN during the lookback.

        Bars before the first whose high, low and close are all numbers are
        skipped without counting; a later NaN or infinite price makes the
        answers NaN while its bar, or the bar after it, is among the last
        longest-period bars (TA-Lib passes over a NaN high or low and keeps
        a NaN close in its sums for good). Raises TypeError for an input that
        is neither a ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class PlusDirectionalMovement:
    """Wilder's upward directional movement (+DM), as the running sum TA-Lib prints.

    Each bar after the first moves ``up = high - previous high`` and
    ``down = previous low - low``; the larger, when positive, is its side's
    movement and the other side's is 0 (equal moves count for neither).
    The movement is kept as Wilder's running sum, TA-Lib's form: seeded with
    the plain sum of the first ``period - 1`` movements, then
    ``sum = sum - sum / period + movement``.

    The period defaults to 14. Lookback ``period - 1`` (1 for period 1, which
    answers each bar's own movement, as TA-Lib does).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 14) -> PlusDirectionalMovement: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the +DM sum, NaN during the lookback.

        Bars before the first whose high and low are numbers are
        skipped without counting. After that a NaN high or low makes the
        answers NaN until ``reset`` (TA-Lib reads it as no movement there);
        the close is not read. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar, the previous one included: the object behaves as a new one."""

@final
class MinusDirectionalMovement:
    """Wilder's downward directional movement (-DM), as the running sum TA-Lib prints.

    Each bar after the first moves ``up = high - previous high`` and
    ``down = previous low - low``; the larger, when positive, is its side's
    movement and the other side's is 0 (equal moves count for neither).
    The movement is kept as Wilder's running sum, TA-Lib's form: seeded with
    the plain sum of the first ``period - 1`` movements, then
    ``sum = sum - sum / period + movement``.

    The period defaults to 14. Lookback ``period - 1`` (1 for period 1, which
    answers each bar's own movement, as TA-Lib does).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 14) -> MinusDirectionalMovement: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return the -DM sum, NaN during the lookback.

        Bars before the first whose high and low are numbers are
        skipped without counting. After that a NaN high or low makes the
        answers NaN until ``reset`` (TA-Lib reads it as no movement there);
        the close is not read. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar, the previous one included: the object behaves as a new one."""

@final
class PlusDirectionalIndicator:
    """Wilder's plus directional indicator (+DI) in percent.

    ``+DI = 100 * (+DM sum / true range sum)``, with both sums Wilder's
    running sums (seeded with the first ``period - 1`` values, then
    ``sum = sum - sum / period + value``) and the true range as
    ``AverageTrueRange`` takes it. A true range sum of 0 (bars that never
    move) answers 0.0, as TA-Lib does.

    The period defaults to 14. Lookback ``period``. Period 1 answers
    ``100 * (+DM / true range)`` of each bar, a percentage as at any period
    (TA-Lib's answers the plain ratio there).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 14) -> PlusDirectionalIndicator: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return +DI, NaN during the lookback.

        Bars before the first whose high, low and close are numbers are
        skipped without counting. After that a NaN high or low makes the
        answers NaN until ``reset`` (TA-Lib reads it as no movement, and
        its DI answers 0.0 from then on); a NaN close is passed over, as in
        TA-Lib. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar, the previous one included: the object behaves as a new one."""

@final
class MinusDirectionalIndicator:
    """Wilder's minus directional indicator (-DI) in percent.

    ``-DI = 100 * (-DM sum / true range sum)``, with both sums Wilder's
    running sums (seeded with the first ``period - 1`` values, then
    ``sum = sum - sum / period + value``) and the true range as
    ``AverageTrueRange`` takes it. A true range sum of 0 (bars that never
    move) answers 0.0, as TA-Lib does.

    The period defaults to 14. Lookback ``period``. Period 1 answers
    ``100 * (-DM / true range)`` of each bar, a percentage as at any period
    (TA-Lib's answers the plain ratio there).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 14) -> MinusDirectionalIndicator: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return -DI, NaN during the lookback.

        Bars before the first whose high, low and close are numbers are
        skipped without counting. After that a NaN high or low makes the
        answers NaN until ``reset`` (TA-Lib reads it as no movement, and
        its DI answers 0.0 from then on); a NaN close is passed over, as in
        TA-Lib. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar, the previous one included: the object behaves as a new one."""

@final
class DirectionalMovementIndex:
    """Wilder's directional movement index (DX).

    ``DX = 100 * (|(-DI) - (+DI)| / ((+DI) + (-DI)))`` from the indicators as
    ``PlusDirectionalIndicator`` and ``MinusDirectionalIndicator`` compute
    them. Both indicators 0 (bars that never move, or never reach outside
    the previous bar) answers 0.0, as TA-Lib does.

    The period defaults to 14. Lookback ``period``. Period 1 answers the
    index of each bar's own movement (TA-Lib refuses periods below 2).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 14) -> DirectionalMovementIndex: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return DX, NaN during the lookback.

        Bars before the first whose high, low and close are numbers are
        skipped without counting. After that a NaN high or low makes the
        answers NaN until ``reset`` (TA-Lib reads it as no movement, and
        its DX repeats its last answer from then on); a NaN close is passed
        over, as in TA-Lib. Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar, the previous one included: the object behaves as a new one."""

@final
class AverageDirectionalIndex:
    """Wilder's average directional index (ADX).

    ``DirectionalMovementIndex`` smoothed over the same period: seeded with
    the mean of the first ``period`` indices, then
    ``adx = (adx * (period - 1) + dx) / period``. Bars that never move
    answer 0.0, as TA-Lib does.

    The period defaults to 14. Lookback ``2 * period - 1``. Period 1 answers
    DX (TA-Lib refuses periods below 2).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 14) -> AverageDirectionalIndex: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return ADX, NaN during the lookback.

        Bars before the first whose high, low and close are numbers are
        skipped without counting. After that a NaN high or low makes the
        answers NaN until ``reset`` (TA-Lib reads it as no movement and
        repeats its last answer from then on); a NaN close is passed over,
        as in TA-Lib.
        Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar, the previous one included: the object behaves as a new one."""

@final
class AverageDirectionalIndexRating:
    """Wilder's average directional index rating (ADXR).

    ``adxr = (adx + adx[-(period - 1)]) / 2``, the mean of
    ``AverageDirectionalIndex`` and its value ``period - 1`` bars before.
    Bars that never move answer 0.0, as TA-Lib does.

    The period defaults to 14. Lookback ``3 * period - 2``. Period 1 answers
    ADX (TA-Lib refuses periods below 2).

    Raises ValueError "Period cannot be 0." for a zero period, and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, period: _Count = 14) -> AverageDirectionalIndexRating: ...
    def next(self, input: _AnyBar) -> float:
        """Take one bar and return ADXR, NaN during the lookback.

        Bars before the first whose high, low and close are numbers are
        skipped without counting. After that a NaN high or low makes the
        answers NaN until ``reset`` (TA-Lib reads it as no movement and
        repeats its last answer from then on); a NaN close is passed over,
        as in TA-Lib.
        Raises TypeError for an input that is neither a
        ``_barworks.Bar`` nor an object with the five bar fields.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar, the previous one included: the object behaves as a new one."""

@final
class AbsolutePriceOscillator:
    """The fast simple moving average less the slow one.

    Both averages are simple moving averages over windows ending at the
    latest input, as TA-Lib's with ``matype=0``; their sums slide and are
    recomputed from the inputs every ``slow_period`` inputs (every 64 for
    shorter windows), so they stay exact however long the stream (TA-Lib's
    running sums drift).

    The periods default to (12, 26). Lookback ``slow_period - 1``; a fast
    period of 1 is taken (TA-Lib refuses periods below 2).

    Raises ValueError "Period cannot be 0." for a zero period, "Fast period
    must be less than slow period." unless fast < slow (TA-Lib swaps the
    periods, and answers 0.0 for equal ones), and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, fast_period: _Count = 12, slow_period: _Count = 26) -> AbsolutePriceOscillator: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the difference, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN while it is in the
        slow window (TA-Lib's running sums keep it).
        """

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class PercentagePriceOscillator:
    """The difference of the fast and slow simple moving averages in percent of the slow one.

    ``((fast - slow) / slow) * 100``. A slow average of exactly 0 answers
    0.0, as TA-Lib does (TA-Lib also answers 0.0 for slow averages within
    1e-14 of 0, where this class answers the ratio).

    Both averages are simple moving averages over windows ending at the
    latest input, as TA-Lib's with ``matype=0``; their sums slide and are
    recomputed from the inputs every ``slow_period`` inputs (every 64 for
    shorter windows), so they stay exact however long the stream (TA-Lib's
    running sums drift).

    The periods default to (12, 26). Lookback ``slow_period - 1``; a fast
    period of 1 is taken (TA-Lib refuses periods below 2).

    Raises ValueError "Period cannot be 0." for a zero period, "Fast period
    must be less than slow period." unless fast < slow (TA-Lib swaps the
    periods, and answers 0.0 for equal ones), and
    ``PanicException`` "capacity overflow" for a period of 268435456 or more.
    """

    def __new__(cls, fast_period: _Count = 12, slow_period: _Count = 26) -> PercentagePriceOscillator: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the percentage, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN while it is in the
        slow window (TA-Lib's running sums keep it).
        """

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class ChandeMomentumOscillator:
    """Chande's momentum oscillator over Wilder-smoothed gains and losses.

    ``100 * ((gain - loss) / (gain + loss))``, with the averages of gains and
    losses exactly as ``RelativeStrengthIndex`` smooths them (seeded with
    the plain mean of the first ``period`` changes, then
    ``average = (average * (period - 1) + value) / period``). No movement
    at all (both averages 0) answers 0.0, as TA-Lib does.

    The period defaults to 14. Lookback ``period``. Period 1 answers the
    sign of each change times 100, or 0.0 (TA-Lib refuses periods below 2).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 14) -> ChandeMomentumOscillator: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the oscillator, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN until ``reset``
        (TA-Lib answers 0.0 from a NaN on).
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class Trix:
    """TRIX: the one-step rate of change, in percent, of a triple exponential average.

    ``(e3 / previous e3 - 1) * 100`` with ``e3 = ema(ema(ema(x)))``, three
    chained averages seeded as ``ExponentialMovingAverage``, each taking the
    answers of the one before once it has its seed. A previous e3 of 0
    answers 0.0, as TA-Lib does.

    The period defaults to 30. Lookback ``3 * (period - 1) + 1``.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 30) -> Trix: ...
    def next(self, input: _Real) -> float:
        """Take one value and return TRIX, NaN during the lookback.

        NaN inputs before the first number are skipped without counting; a
        later NaN or infinite input makes the answers NaN until ``reset``.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""
