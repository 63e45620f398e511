"""Bars of fixed-length time buckets from trades or finer bars: `BarBuilder`,
`resample` and the bars they give, `TimeBar`."""

import datetime
from collections.abc import Buffer, Sequence
from typing import Any, Literal, NamedTuple, Protocol, SupportsFloat, SupportsIndex, TypeAlias, final, overload

import numpy as np
import numpy.typing as npt
from _barworks import Bar

from .classic import _BarFields

__all__ = ["BarBuilder", "BarColumns", "TimeBar", "resample"]

_Number: TypeAlias = SupportsFloat | SupportsIndex
# A point in time: int nanoseconds since the Unix epoch, a datetime (naive:
# UTC; aware: converted to UTC), a numpy datetime64 or a pandas Timestamp.
_Timestamp: TypeAlias = int | SupportsIndex | datetime.datetime | np.datetime64
class _FixedOffset(Protocol):
    """A pandas offset; only the fixed ones (Minute, Hour, Day, ...) know
    their length in nanoseconds."""

    @property
    def rule_code(self) -> str: ...
    @property
    def nanos(self) -> int: ...

# A bucket length: seconds (int or float), a timedelta (pandas Timedelta
# included), a numpy timedelta64, a fixed pandas offset, or a fixed offset
# string of ns, us, ms, s, min, h and D units ("5min", "1h30min", "1D").
_Duration: TypeAlias = float | SupportsIndex | datetime.timedelta | np.timedelta64 | str | _FixedOffset
_Fill: TypeAlias = Literal["none", "previous"]

class TimeBar(NamedTuple):
    """A bar of one time bucket: `start`, the bucket's start in int
    nanoseconds since the Unix epoch (UTC), then its open (the first trade's
    price), high, low, close (the last trade's price) and volume (the sum,
    a float: fractional and beyond 2**32 alike). An immutable named tuple;
    the barworks.classic bar classes' next and `barworks.peek_bar` read it as
    a bar, and a coarser `BarBuilder.add_bar` takes it."""

    start: int
    open: float
    high: float
    low: float
    close: float
    volume: float

class BarColumns(NamedTuple):
    """`resample`'s bars as numpy columns: `start` int64 nanoseconds since
    the epoch (`start.view("datetime64[ns]")` for numpy times), the others
    float64."""

    start: npt.NDArray[np.int64]
    open: npt.NDArray[np.float64]
    high: npt.NDArray[np.float64]
    low: npt.NDArray[np.float64]
    close: npt.NDArray[np.float64]
    volume: npt.NDArray[np.float64]

@final
class BarBuilder:
    """Bars of buckets `every` long, [origin + k * every, origin + (k + 1) *
    every) for whole k, from trades (`add`) or finer bars (`add_bar`).

    `every` is a fixed duration (see _Duration; an int or float is seconds);
    a calendar offset ("1M", "W", business days) has no fixed length and is
    refused with ValueError, as are lengths below a nanosecond. `origin`
    (default the Unix epoch) is a timestamp: buckets before it work alike,
    by floor division. Each bucket's bar: open the first piece's open, high
    and low the extremes (the earlier on a tie), close the last piece's
    close, volume the sum, in the order pieces arrive; pieces of the forming
    bucket may come in any order and at equal timestamps. A bucket with no
    piece gives no bar (fill="none"), or a flat bar at the last close with
    zero volume (fill="previous").

    Refused with ValueError, leaving the builder exactly as it was: a piece
    older than the forming bucket (the message names both times), one in or
    before the bucket `flush` gave out, and a NaN price or volume (a NaN
    would make the bucket's bar NaN through its extremes and sum).

    Checkpoints with `barworks.state`/`barworks.restore`, pickle and copy; a
    restored builder continues bit for bit.
    """

    def __new__(cls, every: _Duration, /, *, origin: _Timestamp = 0, fill: _Fill = "none") -> BarBuilder: ...
    def add(self, timestamp: _Timestamp, price: _Number, volume: _Number = 0) -> list[TimeBar]:
        """Adds one trade; answers the bars it completed, in order: none
        within the forming bucket, else the forming one, and with
        fill="previous" a flat bar for each empty bucket jumped over."""
    def add_bar(self, timestamp: _Timestamp, bar: Bar | _BarFields) -> list[TimeBar]:
        """Adds one finer bar whose bucket starts at `timestamp` (a TimeBar's
        `start`); answers as `add`. Feed it bars made with fill="none": a
        flat filler bar would open a coarser bucket at the previous close."""
    @property
    def forming(self) -> TimeBar | None:
        """The bar of the bucket so far (None before the first piece and
        after `flush`), for `barworks.peek_bar`."""
    def flush(self) -> TimeBar | None:
        """Gives out the forming bar (None when there is none); later pieces
        must fall after its bucket."""
    def reset(self) -> None:
        """Forgets every piece: as new, with the same buckets and fill."""

@overload
def resample(
    timestamps: Buffer | Sequence[_Timestamp], prices: Buffer | Sequence[_Number],
    volumes: Buffer | Sequence[_Number] | None = None, *, every: _Duration,
    origin: _Timestamp = 0, fill: _Fill = "none"
) -> BarColumns:
    """The bars a new `BarBuilder(every, origin=origin, fill=fill)` makes of
    the trades, the last forming one included: bit for bit its adds and a
    final flush. The interpreter lock is released while a long run computes.

    `timestamps` are int nanoseconds (any integer column), numpy datetime64
    of any unit, or a sequence of any timestamp `add` takes; `prices` and
    `volumes` (None: no volume) any column `barworks.feed` takes. A pandas
    DatetimeIndex or Series among the inputs gives a pandas DataFrame of
    open, high, low, close and volume indexed by `start` (in the inputs'
    time zone); pandas inputs must have equal indexes. A polars Series gives
    a polars DataFrame whose `start` column is Datetime("ns"). Otherwise a
    BarColumns of numpy arrays. Refused as `add` refuses, with the trade's
    position; columns of unequal lengths are a ValueError.
    """
@overload
def resample(
    timestamps: Any, prices: Any, volumes: Any = None, *, every: _Duration,
    origin: _Timestamp = 0, fill: _Fill = "none"
) -> Any: ...

def timestamp_nanoseconds(value: _Timestamp, parameter: str = "timestamp") -> int:
    """Int nanoseconds since the Unix epoch of any timestamp `add` takes."""

def duration_nanoseconds(every: _Duration, parameter: str = "every") -> int:
    """The length in int nanoseconds of any duration `BarBuilder` takes."""
