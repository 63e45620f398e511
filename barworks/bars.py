"""Bars of fixed-length time buckets from trades or finer bars:
`BarBuilder`, a piece at a time, and `resample`, whole columns at a time,
both by the one native rule; `TimeBar`, the bars they give.

This module reads the kinds of timestamp (int nanoseconds, datetime, numpy
datetime64, pandas Timestamp) and of duration (seconds, timedelta, numpy
timedelta64, offset strings) into int nanoseconds, and the kinds of column
resample takes and gives; the buckets themselves are the native half's.
"""

import datetime
import fractions
import operator
import re
import sys
from typing import NamedTuple

from . import _native

__all__ = ["BarBuilder", "BarColumns", "TimeBar", "resample"]

BarBuilder = _native.BarBuilder


class TimeBar(NamedTuple):
    """A bar of one time bucket: `start`, the bucket's start in int
    nanoseconds since the Unix epoch (UTC), then its prices and volume."""

    start: int
    open: float
    high: float
    low: float
    close: float
    volume: float


class BarColumns(NamedTuple):
    """The bars of `resample` as numpy columns: `start` int64 nanoseconds
    since the epoch, the others float64."""

    start: object
    open: object
    high: object
    low: object
    close: object
    volume: object


_NANOSECONDS = {"W": 604_800 * 10**9, "D": 86_400 * 10**9, "h": 3_600 * 10**9, "m": 60 * 10**9,
                "s": 10**9, "ms": 10**6, "us": 10**3, "ns": 1}
_OFFSET_UNITS = {"D": _NANOSECONDS["D"], "h": _NANOSECONDS["h"], "min": _NANOSECONDS["m"],
                 "s": 10**9, "ms": 10**6, "us": 10**3, "ns": 1}
_OFFSET_PART = re.compile(r"(\d+(?:\.\d*)?|\.\d+)?([a-zA-Z]+)")
_INT64_LIMIT = 2**63
_EPOCH = datetime.datetime(1970, 1, 1)
_EPOCH_UTC = _EPOCH.replace(tzinfo=datetime.timezone.utc)
_TIMESTAMP_KINDS = ("int nanoseconds since the epoch, a datetime (naive: UTC), a numpy "
                    "datetime64 or a pandas Timestamp")


def _in_range(nanoseconds, parameter, value):
    if not -_INT64_LIMIT <= nanoseconds < _INT64_LIMIT:
        raise ValueError(f"argument '{parameter}': {value!r} lies outside the int64 nanoseconds "
                         "from 1677-09-21 to 2262-04-11")
    return nanoseconds


def _numpy_nanoseconds(value, parameter):
    """A numpy datetime64 or timedelta64 scalar in whole nanoseconds."""
    numpy = sys.modules["numpy"]
    if numpy.isnat(value):
        raise ValueError(f"argument '{parameter}': NaT is not a time")
    unit, step = numpy.datetime_data(value.dtype)
    if unit in ("Y", "M"):
        if isinstance(value, numpy.timedelta64):
            raise ValueError(f"argument '{parameter}': {value!r} is a calendar length (months "
                             "or years), which has no fixed duration")
        value, unit, step = value.astype("datetime64[D]"), "D", 1
    if unit not in _NANOSECONDS:
        raise ValueError(f"argument '{parameter}': {value!r} is not in whole nanoseconds or "
                         "coarser units")
    return _in_range(int(value.astype(numpy.int64)) * step * _NANOSECONDS[unit], parameter, value)


def timestamp_nanoseconds(value, parameter="timestamp"):
    """Int nanoseconds since the Unix epoch of a timestamp: an int (taken as
    nanoseconds), a datetime (a naive one is UTC), a numpy datetime64 or a
    pandas Timestamp."""
    numpy = sys.modules.get("numpy")
    if hasattr(value, "to_datetime64"):  # a pandas Timestamp, in UTC when aware
        value = value.to_datetime64()
    if numpy is not None and isinstance(value, numpy.datetime64):
        return _numpy_nanoseconds(value, parameter)
    if isinstance(value, datetime.datetime):
        since = value - (_EPOCH if value.utcoffset() is None else _EPOCH_UTC)
        return _in_range((since.days * 86_400 + since.seconds) * 10**9 + since.microseconds * 1000,
                         parameter, value)
    if isinstance(value, (bool, float, datetime.date)) or not hasattr(value, "__index__"):
        raise TypeError(f"argument '{parameter}': expected {_TIMESTAMP_KINDS}, not "
                        f"'{type(value).__name__}'")
    return _in_range(operator.index(value), parameter, value)


def _offset_nanoseconds(text, parameter):
    """A fixed-length offset string ('5min', '1h30min', '1.5s') in
    nanoseconds."""
    total, at = fractions.Fraction(0), 0
    for part in _OFFSET_PART.finditer(text):
        if part.start() != at:
            break
        number, unit = part.groups()
        if unit not in _OFFSET_UNITS:
            raise ValueError(
                f"argument '{parameter}': {text!r} is not a fixed duration: {unit!r} is none of "
                "the units ns, us, ms, s, min, h and D (calendar offsets such as months, weeks "
                "and business days have no fixed length); write, say, '5min' or '1h30min'")
        total += fractions.Fraction(number or 1) * _OFFSET_UNITS[unit]
        at = part.end()
    if at != len(text) or at == 0:
        raise ValueError(f"argument '{parameter}': {text!r} is not a duration such as '5min' or '1h'")
    if total.denominator != 1:
        raise ValueError(f"argument '{parameter}': {text!r} is not a whole number of nanoseconds")
    return int(total)


def duration_nanoseconds(every, parameter="every"):
    """A bucket length in int nanoseconds: seconds (an int or float), a
    timedelta, a numpy timedelta64, a pandas Timedelta or fixed offset, or a
    fixed offset string such as '5min'; at least one nanosecond."""
    numpy = sys.modules.get("numpy")
    if hasattr(every, "to_timedelta64"):  # a pandas Timedelta
        every = every.to_timedelta64()
    if isinstance(every, str):
        nanoseconds = _offset_nanoseconds(every, parameter)
    elif numpy is not None and isinstance(every, numpy.timedelta64):
        nanoseconds = _numpy_nanoseconds(every, parameter)
    elif isinstance(every, datetime.timedelta):
        nanoseconds = (every.days * 86_400 + every.seconds) * 10**9 + every.microseconds * 1000
    elif hasattr(every, "rule_code"):  # a pandas offset: fixed ones know their length
        try:
            nanoseconds = every.nanos
        except ValueError:
            raise ValueError(f"argument '{parameter}': {every!r} is a calendar offset, which has no "
                             "fixed length; use a fixed one such as '5min' or '1D'") from None
    elif isinstance(every, bool) or not isinstance(every, (int, float)) and not (
            hasattr(every, "__index__") or hasattr(every, "__float__")):
        raise TypeError(f"argument '{parameter}': expected seconds (int or float), a timedelta, a numpy "
                        "timedelta64 or an offset string such as '5min', not "
                        f"'{type(every).__name__}'")
    else:
        try:
            seconds = fractions.Fraction(operator.index(every))
        except TypeError:
            seconds = float(every)
            if seconds != seconds or seconds in (float("inf"), float("-inf")):
                raise ValueError(f"argument '{parameter}': {every!r} seconds is not a duration") from None
            seconds = fractions.Fraction(seconds)
        nanoseconds = round(seconds * 10**9)
    if not 0 < nanoseconds < _INT64_LIMIT:
        raise ValueError(f"argument '{parameter}': {every!r} is not a duration from one nanosecond to "
                         "292 years")
    return nanoseconds


_native.use_time_types(TimeBar, timestamp_nanoseconds, duration_nanoseconds)


# ---------------------------------------------------------------------------
# Whole columns.

def _loaded(module, name):
    loaded = sys.modules.get(module)
    return None if loaded is None else getattr(loaded, name, None)


def _kind_of(column):
    """'pandas', 'polars' or None for anything else."""
    for module, names in (("pandas", ("Series", "Index")), ("polars", ("Series",))):
        for name in names:
            kind = _loaded(module, name)
            if kind is not None and isinstance(column, kind):
                return module
    return None


def _datetime_nanoseconds(np, values, parameter):
    """An int64 column of nanoseconds from a datetime64 array of any unit."""
    unit, step = np.datetime_data(values.dtype)
    if unit in ("Y", "M"):
        values, unit, step = values.astype("datetime64[D]"), "D", 1
    if unit not in _NANOSECONDS:
        raise ValueError(f"argument '{parameter}': datetime64 in {unit} is finer than nanoseconds")
    counts = values.view(np.int64)
    missing = np.flatnonzero(np.isnat(values))
    if missing.size:
        raise ValueError(f"argument '{parameter}': NaT at position {missing[0]}")
    factor = step * _NANOSECONDS[unit]
    if factor == 1:
        return counts
    if counts.size and np.abs(counts).max() > (_INT64_LIMIT - 1) // factor:
        raise ValueError(f"argument '{parameter}': a time lies outside the int64 nanoseconds "
                         "from 1677-09-21 to 2262-04-11")
    return counts * factor


def _timestamp_column(np, timestamps):
    """The timestamps as contiguous int64 nanoseconds, and their time zone
    (None for naive times or numbers)."""
    kind, zone = _kind_of(timestamps), None
    if kind == "pandas" and timestamps.dtype.kind == "M":
        index = sys.modules["pandas"].DatetimeIndex(timestamps)
        zone, timestamps = index.tz, index.as_unit("ns").asi8  # UTC where aware
    elif kind == "pandas":
        timestamps = timestamps.to_numpy()
    elif kind == "polars":
        if timestamps.null_count():
            raise ValueError("argument 'timestamps': nulls are not times; drop them first")
        if timestamps.dtype.is_temporal():
            zone = getattr(timestamps.dtype, "time_zone", None)
            timestamps = timestamps.dt.epoch("ns")
        timestamps = timestamps.to_numpy()
    values = np.asarray(timestamps)
    if values.ndim != 1:
        raise TypeError(f"argument 'timestamps': expected one column, got {values.ndim} "
                        "dimensions")
    if values.dtype.kind == "M":
        values = _datetime_nanoseconds(np, values, "timestamps")
    elif values.dtype.kind in "iu" and values.dtype.itemsize <= 8:
        if values.dtype.kind == "u" and values.size and values.max() >= _INT64_LIMIT:
            raise ValueError("argument 'timestamps': a time lies outside int64 nanoseconds")
        values = values.astype(np.int64, copy=False)
    elif values.dtype.kind == "O" or values.size == 0:
        values = np.fromiter((timestamp_nanoseconds(value, "timestamps") for value in values),
                             np.int64, len(values))
    else:
        raise TypeError(f"argument 'timestamps': expected {_TIMESTAMP_KINDS} for each trade, "
                        f"not {values.dtype}")
    return np.ascontiguousarray(values), zone


def _same_pandas_index(columns):
    """Pandas columns are paired by position: refused unless their indexes
    (a DatetimeIndex given as timestamps counting as its own) are equal."""
    series = _loaded("pandas", "Series")
    indexes = [(name, column.index if isinstance(column, series) else column)
               for name, column in columns.items() if _kind_of(column) == "pandas"]
    for name, index in indexes[1:]:
        if not index.equals(indexes[0][1]):
            raise ValueError(f"arguments '{indexes[0][0]}' and '{name}': the pandas indexes "
                             "differ, so their rows would be paired by position with other "
                             "rows; align them first")


def _as_kind(np, columns, kind, zone):
    if kind == "pandas":
        pandas = sys.modules["pandas"]
        start = pandas.DatetimeIndex(columns.start.view("datetime64[ns]"), name="start")
        if zone is not None:
            start = start.tz_localize("UTC").tz_convert(zone)
        return pandas.DataFrame(dict(zip(BarColumns._fields[1:], columns[1:])), index=start)
    if kind == "polars":
        polars = sys.modules["polars"]
        start = polars.Series("start", columns.start).cast(polars.Datetime("ns"))
        if zone is not None:
            start = start.dt.replace_time_zone("UTC").dt.convert_time_zone(zone)
        return polars.DataFrame([start] + [polars.Series(name, column) for name, column
                                           in zip(BarColumns._fields[1:], columns[1:])])
    return columns


def resample(timestamps, prices, volumes=None, *, every, origin=0, fill="none"):
    """The bars a new `BarBuilder(every, origin=origin, fill=fill)` makes of
    the trades, the last forming one included: bit for bit what its adds and
    a final flush give. See the package's stub for the kinds taken and given.
    """
    import numpy as np

    from . import _refuse_unlike_a_column

    _refuse_unlike_a_column(prices, "prices")
    if volumes is not None:
        _refuse_unlike_a_column(volumes, "volumes")
    every = duration_nanoseconds(every)
    origin = timestamp_nanoseconds(origin, "origin")
    given = {"timestamps": timestamps, "prices": prices, "volumes": volumes}
    kinds = {_kind_of(column) for column in given.values()} - {None}
    kind = "pandas" if "pandas" in kinds else kinds.pop() if kinds else None
    _same_pandas_index(given)
    times, zone = _timestamp_column(np, timestamps)
    prices, volumes = (column.to_numpy() if _kind_of(column) == "pandas" else column
                       for column in (prices, volumes))
    columns = BarColumns(*_native.resample(times, prices, volumes, every, origin, fill))
    return _as_kind(np, columns, kind, zone)
