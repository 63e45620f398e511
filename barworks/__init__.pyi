"""Streaming technical analysis around the `_barworks` and `barworks.classic`
classes: whole arrays
through an indicator's own `next`, a look at the answer for a value that
is not final yet, and bars of fixed time buckets from trades."""

from collections.abc import Buffer, Sequence
from typing import Any, Literal, Protocol, SupportsFloat, SupportsIndex, TypeAlias, overload

import numpy as np
import numpy.typing as npt
from _barworks import Bar, Signal

from . import classic
from .bars import BarBuilder as BarBuilder, BarColumns as BarColumns, TimeBar as TimeBar, resample as resample
from .checkpoint import restore as restore, state as state
from .universe import Universe as Universe

__version__: str
__all__ = ["BarBuilder", "BarColumns", "TimeBar", "Universe", "feed", "feed_bars", "lookback",
           "peek", "peek_bar", "resample", "restore", "state"]

_Number: TypeAlias = SupportsFloat | SupportsIndex
# One column: a one-dimensional float64 buffer (numpy array, array('d'),
# memoryview, strided views included) or Arrow column, read in place; a
# buffer or Arrow column of other numbers (integers, bools, float32, the
# other byte order, Arrow decimals) or a sequence of numbers, converted as
# next converts its argument. Tables (DataFrames, 2-D arrays) and masked
# arrays are refused with TypeError.
class _ArrowArray(Protocol):
    """An exporter of one Arrow array (a pyarrow Array)."""

    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...

class _ArrowStream(Protocol):
    """An exporter of an Arrow stream of chunks (a polars Series, a pyarrow
    ChunkedArray)."""

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...

_ArrowColumn: TypeAlias = _ArrowArray | _ArrowStream

_Values: TypeAlias = Buffer | Sequence[_Number]
# A column in any form, where the answer's kind follows another column.
_Column: TypeAlias = _Values | _ArrowColumn | _SeriesLike
# nulls="raise" (the default) refuses an Arrow null with ValueError naming
# its position; nulls="nan" reads it as NaN.
_Nulls: TypeAlias = Literal["raise", "nan"]
# The kinds of object feed, peek and lookback take, by what next takes and
# gives: every _barworks and barworks.classic class is one of them.
class _ValueIndicator(Protocol):
    def next(self, input: float) -> float: ...

class _Triples(Protocol):
    def next(self, input: float) -> tuple[float, float, float]: ...

class _Strategy(Protocol):
    def next(self, input: float) -> Signal: ...

class _BarIndicator(Protocol):
    def next(self, input: Bar) -> float: ...

class _PairIndicator(Protocol):
    def next(self, x: float, y: float) -> float: ...

_Warmup: TypeAlias = Literal["value", "nan"]

class _SeriesLike(Protocol):
    """A pandas Series: answered with a Series (a DataFrame with the columns
    macd, signal and histogram for MACD) on the same index."""

    @property
    def index(self) -> Any: ...
    def to_numpy(self) -> Any: ...

@overload
def feed(
    indicator: _ValueIndicator | _Triples | _Strategy,
    values: _SeriesLike | _ArrowColumn,
    *,
    warmup: _Warmup = "value",
    nulls: _Nulls = "raise",
) -> Any:
    """Every value through `indicator.next`, in order, as one call.

    Answers a new array with one row per value: float64 of shape (n,); of
    shape (n, 3) (macd, signal, histogram) for
    MovingAverageConvergenceDivergence; int8 codes 0 BUY, 1 SELL, 2 HOLD for
    the strategies; the barworks.classic classes alike. The answers and the
    object's state afterwards are those
    of a loop of `next` bit for bit (a NaN's sign bit aside), so streaming
    can go on with the same object.

    `values` is a one-dimensional buffer of float64 (strided views accepted),
    kept exported (so not resizable) for the run, or a sequence of numbers
    converted one by one as `next` converts its argument. A pandas Series
    gives a Series on the same index.

    Any exporter of the Arrow PyCapsule interface (`__arrow_c_array__`, or
    `__arrow_c_stream__` for chunked data) is read without pyarrow or polars:
    float64 chunks without nulls where they lie, other Arrow numbers
    (integers, float32, float16, bools, decimals) converted as `next`
    converts each value. The answer is of the input's kind: a polars Series
    gives a polars Series named after it (a DataFrame with a column per part
    of a tuple answer, named as `next`'s answer names them), a pyarrow
    Array a pyarrow Array (a StructArray with those fields for a tuple
    answer), a ChunkedArray a ChunkedArray chunked alike; another exporter
    gives numpy. An Arrow null is refused by default (nulls="raise", a
    ValueError naming its position): a NaN fed to an indicator stays in its
    running sums until reset, so one missing value would silently blank
    every answer after it; nulls="nan" reads nulls as NaN when that is
    meant. Fill or drop nulls first otherwise.

    warmup="nan" replaces the answers given before the object has seen
    `lookback(indicator)` inputs with NaN. Inputs fed earlier count: exactly
    where the object counts them (the windowed classes; Minimum and Maximum
    by their slots no longer holding the fill value), and as a full warm-up
    for an object that has started where it keeps no count (the exponential
    averages, MACD, the true ranges; the classic classes count exactly). The
    strategies refuse warmup="nan":
    int8 codes have no NaN.

    The object is held exclusively for the run (a concurrent `next` raises
    RuntimeError "Already borrowed"); the interpreter lock is released while
    a long run computes. Raises TypeError for an object that is not a
    `_barworks` or `barworks.classic` indicator or strategy, one whose record
    was never built, a
    bar-fed class, a buffer that is not float64, or an item that does not
    convert; ValueError for a buffer that is not one-dimensional or an
    unknown warmup. A refused call leaves the object untouched.
    """
@overload
def feed(
    indicator: _Triples, values: _Values, *, warmup: _Warmup = "value", nulls: _Nulls = "raise"
) -> npt.NDArray[np.float64]: ...
@overload
def feed(
    indicator: _Strategy, values: _Values, *, warmup: Literal["value"] = "value", nulls: _Nulls = "raise"
) -> npt.NDArray[np.int8]: ...
@overload
def feed(
    indicator: _ValueIndicator, values: _Values, *, warmup: _Warmup = "value", nulls: _Nulls = "raise"
) -> npt.NDArray[np.float64]: ...
@overload
def feed(
    indicator: _PairIndicator, values: _SeriesLike | _ArrowColumn, y: _Column, /, *,
    warmup: _Warmup = "value", nulls: _Nulls = "raise"
) -> Any:
    """`feed` for a class whose next takes a pair (Correlation, Beta): the
    columns x (`values`) and y, each in any form one column takes, of equal lengths
    (else ValueError naming both); pandas Series must have equal indexes.
    The answer is of x's kind, else of y's. One column for a pair class, or
    two for any other class, is refused with TypeError."""
@overload
def feed(
    indicator: _PairIndicator, values: _Values, y: _SeriesLike | _ArrowColumn, /, *,
    warmup: _Warmup = "value", nulls: _Nulls = "raise"
) -> Any: ...
@overload
def feed(
    indicator: _PairIndicator, values: _Values, y: _Values, /, *, warmup: _Warmup = "value",
    nulls: _Nulls = "raise"
) -> npt.NDArray[np.float64]: ...

@overload
def feed_bars(indicator: _BarIndicator, bars: Sequence[Bar | Any], /, *, warmup: _Warmup = "value") -> npt.NDArray[np.float64]:
    """`feed` for the classes whose next takes a bar: a sequence of bars (a
    `Bar`, or for any class an object with numeric open, high, low, close
    and volume attributes), or the high, low and close columns with `open=`
    and `volume=` as float columns for the classic classes that read them
    (equal lengths, else ValueError). A class that reads the open or the
    volume refuses a call without that column with TypeError; the others
    ignore the columns they do not read. The columns take every form `feed`
    takes, Arrow columns chunked each its own way included, and nulls as
    `feed` does; the answer is of the high column's kind (a polars Series
    named after it)."""
@overload
def feed_bars(
    indicator: _BarIndicator, high: _Values, low: _Column, close: _Column, /, *,
    open: _Column | None = None, volume: _Column | None = None, warmup: _Warmup = "value",
    nulls: _Nulls = "raise"
) -> npt.NDArray[np.float64]: ...
@overload
def feed_bars(
    indicator: _BarIndicator, high: _SeriesLike | _ArrowColumn, low: _Column, close: _Column, /, *,
    open: _Column | None = None, volume: _Column | None = None, warmup: _Warmup = "value",
    nulls: _Nulls = "raise"
) -> Any: ...

@overload
def peek(indicator: _Triples, value: _Number) -> tuple[float, float, float]:
    """The answer `indicator.next(value)` would give, leaving the indicator
    exactly as it was: for a bar that is still forming. Takes the object
    exclusively, as `next` does; costs one step."""
@overload
def peek(indicator: _Strategy, value: _Number) -> Signal: ...
@overload
def peek(indicator: _ValueIndicator, value: _Number) -> float: ...
@overload
def peek(indicator: _PairIndicator, value: _Number, y: _Number, /) -> float:
    """`peek` for a class whose next takes a pair: peek(indicator, x, y)."""

def peek_bar(indicator: _BarIndicator, bar: Bar | Any) -> float:
    """`peek` for the classes whose next takes a bar (any bar `next` takes)."""

def lookback(indicator: _ValueIndicator | _Triples | _Strategy | _BarIndicator | _PairIndicator, /) -> int:
    """The count of leading answers that rest on less than a full window,
    counted as batch libraries (TA-Lib) count them for the same lengths;
    what warmup="nan" blanks on a fresh object.

    SimpleMovingAverage, ExponentialMovingAverage, StandardDeviation,
    Minimum, Maximum (n): n - 1. RelativeStrengthIndex (n): n, its first
    change being against 0.0. RateOfChange (n): n. SharpeRatio (n, rf):
    n - 1, at least 1 (its first answer is 0.0 by rule).
    MovingAverageConvergenceDivergence (long, short, signal):
    max(long, short) - 1 + signal - 1, 33 for (26, 12, 9). TrueRange: 1.
    AverageTrueRange (n): n. The crossovers (short, long): long - 1.

    The barworks.classic classes answer NaN through exactly these counts
    themselves, so warmup="nan" changes none of their answers:
    RelativeStrengthIndex, RateOfChange, AverageTrueRange (n): n;
    ExponentialMovingAverage, StandardDeviation (n): n - 1;
    MovingAverageConvergenceDivergence (fast, slow, signal):
    slow - 1 + signal - 1, 33 for (12, 26, 9); WeightedMovingAverage,
    Midpoint, Midprice, Correlation (n): n - 1; NormalizedAverageTrueRange,
    Beta (n): n; ParabolicSar: 1.
    """
