"""Streaming technical-analysis indicators and crossover strategies.

Every indicator and strategy is built with its window lengths, fed one
observation at a time through ``next`` and answers from the first observation
on: there is no warm-up marker, a windowed indicator works over the values
taken so far. Inputs are never validated; NaN and infinities flow through the
arithmetic. Every parameter may be passed by position or by keyword.

Errors common to every call:

* TypeError for argument binding and conversion, for example
  "SimpleMovingAverage.__new__() missing 1 required positional argument:
  'period'" or "argument 'input': must be real number, not str".
* OverflowError for a period or volume below 0 or above 4294967295.
* RuntimeError "Already borrowed" when an object is used again from inside
  its own call (an input's ``__float__`` calling back into it).
* ``barworks_runtime.PanicException`` for internal faults, among them
  "capacity overflow" for a period of 268435456 or more. It derives from
  BaseException, so ``except Exception`` does not catch it, and it is not an
  attribute of this module.

A failed call leaves the object's state unchanged.
"""

from typing import ClassVar, SupportsFloat, SupportsIndex, TypeAlias, final

# A number as the module converts it: a float, an int, or any object with
# __float__ or __index__.
_Real: TypeAlias = SupportsFloat | SupportsIndex
# An unsigned 32-bit count: an int (bool included) or an object with __index__.
_Count: TypeAlias = SupportsIndex

__all__ = [
    "Bar",
    "Signal",
    "AverageTrueRange",
    "ExponentialMovingAverage",
    "Maximum",
    "Minimum",
    "MovingAverageConvergenceDivergence",
    "RateOfChange",
    "RelativeStrengthIndex",
    "SharpeRatio",
    "SimpleMovingAverage",
    "StandardDeviation",
    "TrueRange",
    "ExponentialMovingAverageCrossover",
    "SimpleMovingAverageCrossover",
]

@final
class Bar:
    """One immutable price bar: open, high, low and close prices and a volume.

    The values are stored exactly as given; no relation between the prices is
    checked, and NaN or infinite prices are kept. ``==`` is identity and bars
    hash by identity. Read the fields through the accessor methods.

    Raises TypeError for a float volume (``100.0`` is refused, not
    truncated) and OverflowError for a volume below 0 or above 4294967295.
    """

    def __new__(cls, open: _Real, high: _Real, low: _Real, close: _Real, volume: _Count) -> Bar: ...
    def open(self) -> float:
        """The opening price."""

    def high(self) -> float:
        """The highest price."""

    def low(self) -> float:
        """The lowest price."""

    def close(self) -> float:
        """The closing price."""

    def volume(self) -> int:
        """The traded volume, 0 to 4294967295."""

@final
class Signal:
    """A strategy's answer: ``Signal.BUY``, ``Signal.SELL`` or ``Signal.HOLD``.

    Python code cannot build one (``Signal()`` raises TypeError "No
    constructor defined for Signal"); strategies return new instances equal
    to, but not identical with, the class attributes. A signal prints as
    "Signal.BUY", converts to its code with ``int()`` (BUY 0, SELL 1, HOLD 2)
    and equals signals and integers with the same code (``Signal.SELL == 1``;
    floats never compare equal). Ordering comparisons raise TypeError. A
    signal is unhashable: it cannot be a set member or a dictionary key; use
    ``int(signal)`` or ``str(signal)`` as the key instead. Every signal is
    true in a boolean context, ``BUY`` included.
    """

    BUY: ClassVar[Signal]
    """Code 0: the short average is above the long one."""
    SELL: ClassVar[Signal]
    """Code 1: the short average is below the long one."""
    HOLD: ClassVar[Signal]
    """Code 2: the averages are equal or their gap is NaN."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

    def __int__(self) -> int:
        """The signal's code: 0 for BUY, 1 for SELL, 2 for HOLD."""

    def __eq__(self, value: object, /) -> bool:
        """True for a signal or an integer (or ``__index__`` object) with the same code."""

    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""

@final
class AverageTrueRange:
    """Exponential average of the true range of each bar.

    ``current = tr * alpha + (1 - alpha) * current`` with
    ``alpha = 2 / (period + 1)``, where ``tr`` is ``TrueRange``'s answer. The
    first true range seeds the average, so the first result is the first
    bar's ``high - low``. This is not Wilder's smoothing (alpha = 1 / period
    seeded by a plain mean of the first ``period`` ranges).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> AverageTrueRange: ...
    def next(self, input: Bar) -> float:
        """Take one bar and return the average true range.

        NaN high and low with a NaN previous close (or a NaN high or low on
        the first bar) give a NaN true range, which keeps the average NaN
        until ``reset``; a NaN close only makes the next bar fall back to its
        own ``high - low``. Raises TypeError "argument 'input': 'float'
        object cannot be converted to 'Bar'" for anything but a Bar.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Restart the average, keeping the previous bar's close.

        The next bar's true range is still measured against the last close
        seen before the reset, and that true range seeds the new average.
        """

@final
class ExponentialMovingAverage:
    """Exponential moving average with ``alpha = 2 / (period + 1)``.

    The first input is the average itself; each later one gives
    ``current = x * alpha + (1 - alpha) * current``, evaluated in exactly
    that order (``ExponentialMovingAverage(9)`` fed 1, 2 answers 1.0,
    1.2000000000000002).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> ExponentialMovingAverage: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the updated average.

        The first input after construction or ``reset`` is returned
        unchanged. A NaN input keeps the average NaN until ``reset``; after
        an infinite input the average is infinite, and NaN after the next
        input (0 * inf) whenever alpha < 1.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the next one is returned unchanged again."""

@final
class Maximum:
    """The largest of the last ``period`` inputs.

    Unfilled slots hold -inf, so during warm-up the result is the largest
    input so far. The slot of the current maximum is remembered: an input
    that beats it takes over, a tie does not, and overwriting the remembered
    slot rescans the window. NaN never beats anything, so a NaN is returned
    only while it sits in the remembered slot (a first input of NaN does).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> Maximum: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the largest in the window."""

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Refill the window with -inf, keeping the write slot and the remembered slot.

        The input after a reset goes where it would have gone without it,
        so ``find_max_index`` may differ from a new object's.
        """

    def find_max_index(self) -> int:
        """The window slot of the largest value, found by a fresh scan.

        Slots are written round-robin from 0. The scan picks the lowest slot
        among equal maxima and never a NaN; an empty window answers 0.
        """

@final
class Minimum:
    """The smallest of the last ``period`` inputs.

    Unfilled slots hold +inf, so during warm-up the result is the smallest
    input so far. The slot of the current minimum is remembered: an input
    that beats it takes over, a tie does not, and overwriting the remembered
    slot rescans the window. NaN never beats anything, so a NaN is returned
    only while it sits in the remembered slot (a first input of NaN does).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> Minimum: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the smallest in the window."""

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Refill the window with +inf, keeping the write slot and the remembered slot.

        The input after a reset goes where it would have gone without it:
        ``Minimum(3)`` fed 5, 3, reset, 7 answers 7.0 with
        ``find_min_index() == 2``, where a new object would report 0.
        """

    def find_min_index(self) -> int:
        """The window slot of the smallest value, found by a fresh scan.

        Slots are written round-robin from 0. The scan picks the lowest slot
        among equal minima and never a NaN; an empty window answers 0.
        """

@final
class MovingAverageConvergenceDivergence:
    """MACD line, signal line and histogram from three exponential averages.

    Note the argument order: (long_period, short_period, signal_period).
    Each input x gives ``macd = short(x) - long(x)``,
    ``signal = signal_average(macd)``, ``histogram = macd - signal``. The
    periods are not checked against each other: the usual (12, 26, 9) passed
    in that order swaps the averages and negates the MACD line, signal line
    and histogram of (26, 12, 9).

    Raises ValueError "Period cannot be 0." for the first zero period in the
    order long, short, signal.
    """

    def __new__(
        cls, long_period: _Count, short_period: _Count, signal_period: _Count
    ) -> MovingAverageConvergenceDivergence: ...
    def next(self, input: _Real) -> tuple[float, float, float]:
        """Take one value and return ``(macd, signal, histogram)``.

        The first result after construction or ``reset`` is (0.0, 0.0, 0.0)
        for any finite input, and the signal line starts from that 0.0. A
        NaN or infinite input gives (nan, nan, nan) from then on until
        ``reset``.
        """

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class RateOfChange:
    """Relative change against the input ``period`` steps back, as a ratio.

    ``(x - reference) / reference``: 10 to 11 gives 0.1, not 10 (percent).
    Until ``period + 1`` inputs are taken the reference is the first input,
    so the first result is 0.0 (the input against itself) and ``RateOfChange(3)``
    fed 10, 11, 12, 13, 14 answers 0.0, 0.1, 0.2, 0.3, 0.2727272727272727.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> RateOfChange: ...
    def next(self, input: _Real) -> float:
        """Take one value and return its change against the reference.

        Nothing is guarded: a zero reference gives an infinity (NaN for a
        zero input); a NaN or infinite input affects only the results that
        read it. The first result is NaN for a first input of 0.0, an
        infinity or NaN.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the next one is compared with itself."""

@final
class RelativeStrengthIndex:
    """Relative strength index over the last ``period`` changes.

    Each change is an input minus the one before it; the first is taken
    against 0.0. Every update sums the window's positive changes into gain and
    the others into loss, then
    ``rs = (gain / n) / (loss / n)``, ``result = 100 - 100 / (rs + 1)``, with
    n the number of changes taken, capped at ``period``: a plain average of
    the window's changes, not Wilder's smoothing. The first result is 100.0
    for a positive first input (the change from 0.0), 0.0 for a negative one
    and NaN for 0.0. Gains only give 100.0, losses only 0.0, an all-zero
    window NaN.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> RelativeStrengthIndex: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the index, 0 to 100 (or NaN).

        A NaN input spoils its own change and the next one; the result is
        NaN only while those changes are in the window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the next change is again measured from 0.0."""

@final
class SharpeRatio:
    """Per-period Sharpe ratio of the last ``period`` inputs (returns).

    ``(mean - rf) / deviation``, with the simple moving average and the
    population standard deviation of the same window. The first result after
    construction or ``reset`` is 0.0 whatever the input (which still enters
    the window); from the second on the ratio covers the inputs so far. A
    zero deviation gives +inf or -inf, or NaN where the mean equals rf.

    Raises ValueError "Period cannot be 0." for a zero period; ``rf`` is
    converted before the period is checked.
    """

    def __new__(cls, period: _Count, rf: _Real) -> SharpeRatio: ...
    def next(self, input: _Real) -> float:
        """Take one return and return the ratio.

        A NaN or infinite input keeps the result NaN until ``reset`` (the
        running sums never shed it); a NaN ``rf`` makes every result after
        the first NaN.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input; ``rf`` and the period stay."""

@final
class SimpleMovingAverage:
    """Mean of the last ``period`` inputs, kept as a running sum.

    ``sum = (x - old) + sum``, ``result = sum / count``, where ``old`` is the
    value leaving the window (0.0 while it fills) and count grows to
    ``period``. During warm-up this is the mean of the inputs so far. The sum
    is never recomputed, so rounding is carried along
    (``SimpleMovingAverage(3)`` fed 0.1, 0.2, 0.3 answers 0.20000000000000004).

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> SimpleMovingAverage: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the mean of the window.

        A NaN input makes every later result NaN until ``reset``, also after
        it has left the window; an infinity leaving the window does too.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class StandardDeviation:
    """Population standard deviation (divisor n, not n - 1) of the last ``period`` inputs.

    From a running sum and sum of squares:
    ``variance = sum_sq / n - (sum / n) ** 2``, ``result = sqrt(variance)``,
    with n the count of inputs taken, capped at ``period``; the first result
    is 0.0. Rounding can leave the variance a hair below zero for equal
    inputs; it is then taken as 0.0.

    Raises ValueError "Period cannot be 0." for a zero period.
    """

    def __new__(cls, period: _Count) -> StandardDeviation: ...
    def next(self, input: _Real) -> float:
        """Take one value and return the deviation of the window.

        A NaN or infinite input makes the result NaN from then on until
        ``reset``, also after it has left the window.
        """

    def period(self) -> int:
        """The period given to the constructor."""

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class TrueRange:
    """The range of one bar, widened by any gap from the previous close p.

    ``max(high - low, |high - p|, |low - p|)``, where a NaN candidate is
    skipped. The first bar, and the first after ``reset``, has no p and
    gives the plain ``high - low`` (negative when high is below low).
    """

    def __new__(cls) -> TrueRange: ...
    def next(self, input: Bar) -> float:
        """Take one bar and return its true range.

        Every bar's close becomes the next p, NaN included: after a NaN
        close the next bar gives its own ``high - low``. The result is NaN
        only when all three candidates are. Raises TypeError "argument
        'input': 'float' object cannot be converted to 'Bar'" for anything
        but a Bar.
        """

    def reset(self) -> None:
        """Forget the previous close: the next bar is treated as the first."""

@final
class ExponentialMovingAverageCrossover:
    """Compares a short and a long exponential moving average of one stream.

    BUY while the short average is above the long one, SELL while it is
    below, HOLD when they are equal or their gap is NaN. The answer is a
    level, not the moment of crossing: it repeats for as long as the
    averages keep their order. Both averages take the first input
    unchanged, so the first answer is HOLD.

    Raises ValueError "Short period must be less than long period." unless
    short_period < long_period, then "Period cannot be 0." for a zero short
    period.
    """

    def __new__(cls, short_period: _Count, long_period: _Count) -> ExponentialMovingAverageCrossover: ...
    def next(self, input: _Real) -> Signal:
        """Take one value and return a new Signal equal to BUY, SELL or HOLD.

        A NaN or infinite input makes every later answer HOLD until ``reset``.
        """

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""

@final
class SimpleMovingAverageCrossover:
    """Compares a short and a long simple moving average of one stream.

    BUY while the short average is above the long one, SELL while it is
    below, HOLD when they are equal or their gap is NaN. The answer is a
    level, not the moment of crossing. For the first short_period inputs
    both windows hold the same values, so those answers are HOLD. A
    constant stream need not keep answering HOLD: the two running sums round
    differently.

    Raises ValueError "Short period must be less than long period." unless
    short_period < long_period, then "Period cannot be 0." for a zero short
    period.
    """

    def __new__(cls, short_period: _Count, long_period: _Count) -> SimpleMovingAverageCrossover: ...
    def next(self, input: _Real) -> Signal:
        """Take one value and return a new Signal equal to BUY, SELL or HOLD.

        A NaN input, or an infinity leaving a window, makes every later
        answer HOLD until ``reset``.
        """

    def reset(self) -> None:
        """Forget every input: the object behaves as a new one."""
