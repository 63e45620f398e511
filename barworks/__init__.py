"""Streaming technical analysis around the `_barworks` classes.

`feed` and `feed_bars` run whole arrays (two columns, x and y, for a class
whose next takes a pair) through an existing indicator or strategy, exactly
as a loop of its `next` would, with the interpreter lock released while the
native records compute, and answer in the kind of column given (numpy,
pandas, polars, pyarrow); `peek` and `peek_bar` give the
answer `next` would give without changing the object; `lookback` is the
count of warm-up answers `warmup="nan"` blanks. `BarBuilder` and `resample`
make bars of fixed time buckets from trades or finer bars.
"""

import sys

from ._native import lookback, peek, peek_bar
from .bars import BarBuilder, BarColumns, TimeBar, resample
from .checkpoint import restore, state
from .universe import Universe
from . import _native

__version__ = "0.1.0"

__all__ = ["BarBuilder", "BarColumns", "TimeBar", "Universe", "feed", "feed_bars", "lookback",
           "peek", "peek_bar", "resample", "restore", "state"]

def _series_type():
    # pandas is not a dependency: a Series can only be given if it is loaded.
    pandas = sys.modules.get("pandas")
    return None if pandas is None else pandas.Series


def _as_pandas(answers, index, indicator):
    """A tuple answer's parts are columns named as its class names them."""
    pandas = sys.modules["pandas"]
    if answers.ndim == 2:
        columns = list(_native.answer_names(indicator))
        return pandas.DataFrame(answers, index=index, columns=columns)
    return pandas.Series(answers, index=index)


def _as_arrow(pyarrow, answers, indicator):
    """A pyarrow array on the answers' memory; a tuple answer's parts as the
    named fields of a struct array."""
    if answers.ndim == 1:
        return pyarrow.array(answers)
    parts = [pyarrow.array(answers[:, j].copy()) for j in range(answers.shape[1])]
    return pyarrow.StructArray.from_arrays(parts, names=list(_native.answer_names(indicator)))


def _like(column, answers, indicator):
    """The answers as the kind of object `column` is, where that is a polars
    Series (named after it; a DataFrame for a tuple answer) or a pyarrow
    array or chunked array (chunked as it is); else the numpy array. Neither
    library is a dependency: a column of one can only be given if it is
    loaded."""
    polars = sys.modules.get("polars")
    if polars is not None and isinstance(column, polars.Series):
        if answers.ndim == 1:
            return polars.Series(column.name, answers)
        return polars.DataFrame(dict(zip(_native.answer_names(indicator), answers.T)))
    pyarrow = sys.modules.get("pyarrow")
    if pyarrow is not None and isinstance(column, pyarrow.Array):
        return _as_arrow(pyarrow, answers, indicator)
    if pyarrow is not None and isinstance(column, pyarrow.ChunkedArray):
        whole = _as_arrow(pyarrow, answers, indicator)
        chunks, start = [], 0
        for chunk in column.chunks:
            chunks.append(whole.slice(start, len(chunk)))
            start += len(chunk)
        return pyarrow.chunked_array(chunks, type=whole.type)
    return answers


def _refuse_unlike_a_column(values, parameter):
    """A table (a DataFrame, any 2-D array) would pass as a sequence of its
    rows or labels, and a masked array as its raw data: neither is one
    column of numbers."""
    ndim = getattr(values, "ndim", 1)
    if ndim != 1 and isinstance(ndim, int):
        raise TypeError(
            f"argument '{parameter}': expected one column of numbers, got "
            f"{ndim} dimensions ('{type(values).__name__}'); pass one column, "
            "such as frame['close']")
    masked = sys.modules.get("numpy.ma")
    if masked is not None and isinstance(values, masked.MaskedArray):
        raise TypeError(
            f"argument '{parameter}': masked arrays are not taken, since their masked "
            "cells hold arbitrary numbers; pass values.filled(numpy.nan) to feed them "
            "as NaN, or values.compressed() to leave them out")


def feed(indicator, values, *y, warmup="value", nulls="raise"):
    """Every value through `indicator.next`, answers as a new numpy array
    (or the kind of column given: pandas, polars, pyarrow);
    `feed(indicator, x, y)` for a class whose next takes a pair.

    See the package's stub for the shapes, dtypes, warm-up and null rules.
    """
    if y:
        if len(y) != 1:
            raise TypeError(
                "feed() takes the indicator and one column, or the two columns x and y for "
                f"a class whose next takes a pair ({1 + len(y)} given after the indicator)")
        return _feed_pairs(indicator, values, y[0], warmup, nulls)
    _refuse_unlike_a_column(values, "values")
    series = _series_type()
    if series is not None and isinstance(values, series):
        return _as_pandas(_native.feed(indicator, values.to_numpy(), warmup, nulls), values.index,
                          indicator)
    return _like(values, _native.feed(indicator, values, warmup, nulls), indicator)


def _listed(names):
    """'a', 'b' and 'c'."""
    quoted = [f"'{name}'" for name in names]
    return ", ".join(quoted[:-1]) + " and " + quoted[-1]


def _feed_pairs(indicator, x, y, warmup, nulls):
    _refuse_unlike_a_column(x, "x")
    _refuse_unlike_a_column(y, "y")
    series = _series_type()
    if series is None or not (isinstance(x, series) or isinstance(y, series)):
        answers = _native.feed_pairs(indicator, x, y, warmup, nulls)
        # Like x, or like y where x is of no kind of its own.
        like_x = _like(x, answers, indicator)
        return like_x if like_x is not answers else _like(y, answers, indicator)
    indexes = [c.index for c in (x, y) if isinstance(c, series)]
    if not all(index.equals(indexes[0]) for index in indexes[1:]):
        # Combining by position would pair one day's x with another's y.
        raise ValueError("arguments 'x' and 'y': the Series must have equal indexes; align "
                         "them first (for example with pandas.concat(..., axis=1).dropna())")
    arrays = [c.to_numpy() if isinstance(c, series) else c for c in (x, y)]
    return _as_pandas(_native.feed_pairs(indicator, *arrays, warmup, nulls), indexes[0], indicator)


def feed_bars(indicator, /, *columns, open=None, volume=None, warmup="value", nulls="raise"):
    """Every bar through `indicator.next`: `feed_bars(indicator, bars)` with a
    sequence of bars, or `feed_bars(indicator, high, low, close)` with the
    `open` and `volume` columns as keywords for the classes that read them;
    answers of the kind of the high column.
    """
    if len(columns) == 1:
        if open is not None or volume is not None:
            raise TypeError("feed_bars() takes the open and volume columns only beside high, "
                            "low and close; a sequence of bars carries its own")
        return _native.feed_bar_records(indicator, columns[0], warmup)
    if len(columns) != 3:
        raise TypeError(
            "feed_bars() takes the indicator and either a sequence of Bar or the three "
            f"arrays high, low and close ({len(columns)} given after the indicator)")
    named = dict(zip(("high", "low", "close"), columns))
    named.update((name, column) for name, column in (("open", open), ("volume", volume))
                 if column is not None)
    for parameter, column in named.items():
        _refuse_unlike_a_column(column, parameter)
    high = columns[0]
    series = _series_type()
    if series is None or not any(isinstance(c, series) for c in named.values()):
        return _like(high, _native.feed_bars(indicator, *columns, warmup, open, volume, nulls),
                     indicator)
    indexes = [c.index for c in named.values() if isinstance(c, series)]
    if not all(index.equals(indexes[0]) for index in indexes[1:]):
        # Combining by position would pair one day's high with another's low.
        raise ValueError(f"arguments {_listed(named)}: the Series must have equal "
                         "indexes; align them first (for example with "
                         "pandas.concat(..., axis=1).dropna())")
    arrays = {name: c.to_numpy() if isinstance(c, series) else c for name, c in named.items()}
    answers = _native.feed_bars(indicator, arrays["high"], arrays["low"], arrays["close"], warmup,
                                arrays.get("open"), arrays.get("volume"), nulls)
    return _as_pandas(answers, high.index, indicator) if isinstance(high, series) else answers
