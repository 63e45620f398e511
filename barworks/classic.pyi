"""Streaming indicators with the definitions that batch libraries and
charting tools print: Wilder's relative strength index and average true
range, moving averages seeded with a simple average or weighted linearly,
rate of change in percent, and a population standard deviation that stays
exact however long the stream.

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

from typing import SupportsFloat, SupportsIndex, TypeAlias, final

from _barworks import Bar

# A number as next converts it: a float, an int, or any object with
# __float__ or __index__.
_Real: TypeAlias = SupportsFloat | SupportsIndex
# An unsigned 32-bit count: an int (bool included) or an object with __index__.
_Count: TypeAlias = SupportsIndex

__all__ = [
    "AverageTrueRange",
    "ExponentialMovingAverage",
    "MovingAverageConvergenceDivergence",
    "RateOfChange",
    "RelativeStrengthIndex",
    "StandardDeviation",
    "WeightedMovingAverage",
    "Midpoint",
    "Midprice",
    "NormalizedAverageTrueRange",
    "ParabolicSar",
    "Correlation",
    "Beta",
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
    def next(self, input: Bar) -> float:
        """Take one bar and return the average true range, NaN during the lookback.

        Bars before the first whose high, low and close are all numbers are
        skipped without counting. Later, a NaN high or low makes the true
        range NaN, which stays in the average until ``reset``, as in TA-Lib;
        a NaN previous close is passed over; an infinite true range makes the
        answers infinite, then NaN. Raises TypeError for an input that is not
        a ``_barworks.Bar``.
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
    ``sqrt(sum((x - mean) ** 2) / period)``, stable for any length of stream.

    The mean and the sum of squared deviations slide with each input and are
    recomputed exactly from the window every ``period`` inputs (and at once
    when the spread collapses), so rounding error does not grow with the
    stream; a window of equal values answers exactly 0.0.

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
    def next(self, input: Bar) -> float:
        """Take one bar and return the midprice, NaN during the lookback.

        Bars before the first whose high and low are both numbers are
        skipped without counting; a later NaN high or low makes the answers
        NaN while it is in the window. Raises TypeError for an input that is
        not a ``_barworks.Bar``.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every bar: the object behaves as a new one."""

@final
class NormalizedAverageTrueRange:
    """Wilder's average true range as a percentage of the close:
    ``(atr / close) * 100``, with ``atr`` exactly as ``AverageTrueRange``
    computes it.

    The period defaults to 14. Lookback ``period``: NaN for the first
    ``period`` bars. A zero close answers 0.0, as TA-Lib does.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count = 14) -> NormalizedAverageTrueRange: ...
    def next(self, input: Bar) -> float:
        """Take one bar and return the normalised average true range, NaN
        during the lookback.

        Bars before the first whose high, low and close are all numbers are
        skipped without counting; later NaN sides act as in
        ``AverageTrueRange``, and a NaN close gives NaN for its bar. Raises
        TypeError for an input that is not a ``_barworks.Bar``.
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
    def next(self, input: Bar) -> float:
        """Take one bar and return the SAR, NaN for the first bar.

        Bars before the first whose high and low are both numbers are
        skipped without counting. A later NaN high or low moves nothing
        (every comparison with it fails), as in TA-Lib; a NaN in the second
        bar, which sets the direction, leaves every answer NaN until
        ``reset``. Raises TypeError for an input that is not a
        ``_barworks.Bar``.
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
