"""Arrow columns through feed and feed_bars: polars Series, pyarrow arrays and
chunked arrays, and any other exporter of the Arrow PyCapsule interface, read
in place where float64 without nulls, converted as next converts each value
otherwise, and answered in the kind of column given."""

import decimal
import gc
import os
import threading
import tracemalloc

import numpy as np
import pytest

import _barworks as bw
import barworks
from barworks import classic
from batch_streams import array_bits, assert_same_state, loop

if os.environ.get("BARWORKS_PEERS") == "required":
    import polars as pl
    import pyarrow as pa
else:
    pl = pytest.importorskip("polars", reason="polars lives in the peers' environment (make test)")
    pa = pytest.importorskip("pyarrow", reason="pyarrow lives in the peers' environment (make test)")

VALUES = 100.0 + np.cumsum(np.random.default_rng(3).normal(0.0, 1.0, 40))


class StreamOnly:
    """An exporter of the stream capsule alone, as a library unknown here."""

    def __init__(self, column):
        self.column = column

    def __arrow_c_stream__(self, requested_schema=None):
        return self.column.__arrow_c_stream__(requested_schema)


class ArrayOnly(StreamOnly):
    def __arrow_c_array__(self, requested_schema=None):
        return self.column.__arrow_c_array__(requested_schema)

    __arrow_c_stream__ = None


def as_numpy(answers):
    """Any answer kind as a float64 or int8 numpy array, rows by columns."""
    if isinstance(answers, pa.ChunkedArray):
        answers = answers.combine_chunks()
    if isinstance(answers, pa.StructArray):
        return np.column_stack([part.to_numpy() for part in answers.flatten()])
    if isinstance(answers, (pa.Array, pl.Series, pl.DataFrame)):
        return answers.to_numpy()
    return answers


# Each kind of column: how it is made from numpy values, and the kinds of
# answer for one number and for a tuple answer.
KINDS = [
    ("polars", lambda v: pl.Series("close", v), pl.Series, pl.DataFrame),
    ("polars of chunks", lambda v: pl.concat([pl.Series("close", v[:7]), pl.Series("close", v[7:])],
                                             rechunk=False), pl.Series, pl.DataFrame),
    ("pyarrow", pa.array, pa.Array, pa.StructArray),
    ("pyarrow slice", lambda v: pa.array(np.concatenate(([7.0], v, [8.0]))).slice(1, len(v)),
     pa.Array, pa.StructArray),
    ("chunked", lambda v: pa.chunked_array([v[:3], v[3:3], v[3:11], v[11:]], type=pa.float64()),
     pa.ChunkedArray, pa.ChunkedArray),
    ("stream capsule", lambda v: StreamOnly(pl.Series(v)), np.ndarray, np.ndarray),
    ("array capsule", lambda v: ArrayOnly(pa.array(v)), np.ndarray, np.ndarray),
]
INDICATORS = [
    ("SimpleMovingAverage", lambda: bw.SimpleMovingAverage(5)),
    ("MovingAverageConvergenceDivergence", lambda: bw.MovingAverageConvergenceDivergence(7, 3, 2)),
    ("SimpleMovingAverageCrossover", lambda: bw.SimpleMovingAverageCrossover(2, 5)),
    ("classic.BollingerBands", lambda: classic.BollingerBands(5, 2.0, 2.0)),
]


@pytest.mark.parametrize("label, make_column, single, tuple_kind", KINDS, ids=[k[0] for k in KINDS])
@pytest.mark.parametrize("name, make", INDICATORS, ids=[i[0] for i in INDICATORS])
def test_each_kind_in_gives_its_kind_out(label, make_column, single, tuple_kind, name, make):
    obj, twin = make(), make()
    answers = barworks.feed(obj, make_column(VALUES))
    expected = barworks.feed(twin, VALUES)
    assert isinstance(answers, single if expected.ndim == 1 else tuple_kind)
    assert array_bits(as_numpy(answers)) == array_bits(expected)
    assert_same_state(obj, twin, name)
    if isinstance(answers, pl.Series):
        assert answers.name == "close"
    names = barworks._native.answer_names(obj)
    if isinstance(answers, pl.DataFrame):
        assert answers.columns == list(names)
    if isinstance(answers, pa.StructArray):
        assert [field.name for field in answers.type] == list(names)
    if isinstance(answers, pa.ChunkedArray):
        assert [len(chunk) for chunk in answers.chunks] == [3, 0, 8, len(VALUES) - 11]


def chunked(values, *cuts):
    edges = [0, *cuts, len(values)]
    return pa.chunked_array([values[a:b] for a, b in zip(edges, edges[1:])], type=pa.float64())


def test_pairs_and_bars_read_columns_chunked_apart():
    # Chunks ending at different places in each column.
    x, y = VALUES, 2.0 * VALUES[::-1]
    answers = barworks.feed(classic.Correlation(4), chunked(x, 5, 6, 30), pl.Series("y", y))
    assert isinstance(answers, pa.ChunkedArray)
    assert array_bits(as_numpy(answers)) == array_bits(barworks.feed(classic.Correlation(4), x, y))
    named = barworks.feed(classic.Beta(4), x, pl.Series("y", y))
    assert named.name == "y"
    high, low = VALUES + 1.0, VALUES - 1.0
    expected = barworks.feed_bars(classic.ChaikinOscillator(3, 10), high, low, VALUES,
                                  open=VALUES[::-1], volume=high)
    answers = barworks.feed_bars(classic.ChaikinOscillator(3, 10), pl.Series("high", high),
                                 chunked(low, 1, 20), pa.array(VALUES), open=chunked(VALUES[::-1], 33),
                                 volume=chunked(high, 2, 3, 4))
    assert isinstance(answers, pl.Series) and answers.name == "high"
    assert array_bits(answers.to_numpy()) == array_bits(expected)


def decimals(*texts):
    return [decimal.Decimal(text) for text in texts]


# Beyond 2**53 or 10**22 the value is divided out of the integer exactly.
DECIMALS = decimals("0.1", "-2.675", "123456789.123456789", "-99999999999999999.99", "1E-20")
# Arrow types other than float64, read as next reads each value.
OTHER_TYPES = [
    pa.array([1, -2, 3, 127, -128], pa.int8()), pa.array([0, 255, 7], pa.uint8()),
    pa.array([-(2**15), 2**15 - 1], pa.int16()), pa.array([65535, 3], pa.uint16()),
    pa.array([-(2**31), 2**31 - 1], pa.int32()), pa.array([2**32 - 1], pa.uint32()),
    pa.array([-(2**63), 2**53 + 1, 2**62 + 3], pa.int64()), pa.array([2**64 - 1, 2**63 + 2**10 + 1], pa.uint64()),
    pa.array([0.1, -3.5, 1e38], pa.float32()), pa.array(np.array([1.5, -2.25, 65504.0], np.float16)),
    pa.array([True, False, True]), pa.array(DECIMALS, pa.decimal128(38, 20)),
    pa.array(decimals("0.1", "-2.67", "-999999999999999999.99"), pa.decimal128(20, 2)),
    pa.array(DECIMALS, pa.decimal256(76, 40)),
    pa.array(decimals("1.5", "-0.01"), pa.decimal32(5, 2)),
    pa.array(decimals("123456789012.345678"), pa.decimal64(18, 6)),
    pa.array(decimals("12E+5", "-3E+5"), pa.decimal128(5, -5)),
    pl.Series([3, 1, 2], dtype=pl.Int16), pl.Series([0.5, 0.25], dtype=pl.Float32),
]


@pytest.mark.parametrize("column", OTHER_TYPES, ids=lambda c: str(c.type if isinstance(c, pa.Array) else c.dtype))
def test_other_types_convert_as_next_converts_each_value(column):
    obj, twin = bw.SimpleMovingAverage(2), bw.SimpleMovingAverage(2)
    assert array_bits(as_numpy(barworks.feed(obj, column))) == loop(twin, column.to_list()
                                                                    if isinstance(column, pl.Series)
                                                                    else column.to_pylist())


NAN = float("nan")
# A column with nulls, the position of the first, and its values with nulls as NaN.
NULLS = [
    (pl.Series([1.0, None, 3.0]), 1, [1.0, NAN, 3.0]),
    (pa.chunked_array([[1.0, 2.0], [3.0, 4.0, None]]), 4, [1.0, 2.0, 3.0, 4.0, NAN]),
    (pa.array([1, 2, None, 4], pa.int64()).slice(1), 1, [2.0, NAN, 4.0]),
    (pa.array([None, 2.0]).slice(1), None, [2.0]),
    (pa.nulls(2), 0, [NAN, NAN]),
    (pa.array([decimal.Decimal("1.5"), None]), 1, [1.5, NAN]),
    (pa.array([True, None]), 1, [1.0, NAN]),
]


@pytest.mark.parametrize("column, first_null, as_nan", NULLS, ids=lambda v: str(v)[:30] if isinstance(v, list) else None)
def test_nulls_are_refused_by_position_or_read_as_nan(column, first_null, as_nan):
    obj, twin = bw.SimpleMovingAverage(2), bw.SimpleMovingAverage(2)
    if first_null is not None:
        with pytest.raises(ValueError, match=f"argument 'values': null at position {first_null}; "
                                             "pass nulls='nan'"):
            barworks.feed(obj, column)
        assert_same_state(obj, twin, "SimpleMovingAverage")
    answers = barworks.feed(obj, column, nulls="nan")
    assert array_bits(as_numpy(answers)) == loop(twin, as_nan)


def test_nulls_of_every_column_are_refused_as_asked():
    column = pl.Series([1.0, 2.0, None])
    with pytest.raises(ValueError, match="argument 'y': null at position 2"):
        barworks.feed(classic.Correlation(3), [1.0, 2.0, 3.0], column)
    with pytest.raises(ValueError, match="argument 'close': null at position 2"):
        barworks.feed_bars(bw.TrueRange(), [3.0] * 3, [1.0] * 3, column)
    as_nan = barworks.feed_bars(bw.TrueRange(), [3.0] * 3, [1.0] * 3, column, nulls="nan")
    assert array_bits(as_nan) == array_bits(barworks.feed_bars(bw.TrueRange(), [3.0] * 3, [1.0] * 3,
                                                               [1.0, 2.0, NAN]))
    with pytest.raises(ValueError, match="argument 'nulls': expected 'raise' or 'nan', not 'zero'"):
        barworks.feed(bw.SimpleMovingAverage(2), column, nulls="zero")


REFUSED = [
    (lambda: pl.DataFrame({"a": [1.0], "b": [2.0]}), TypeError, "got a table of 2 columns"),
    (lambda: pa.table({"a": [1.0]}), TypeError, "got a table of 1 columns"),
    (lambda: pa.array(["1.0"]), TypeError, "got Arrow format 'u'"),
    (lambda: pa.array([1.0]).dictionary_encode(), TypeError, "dictionary-encoded"),
    (lambda: pl.Series([[1.0]]), TypeError, "got Arrow format '[+]L'"),
]


@pytest.mark.parametrize("make_column, error, message", REFUSED, ids=[m for *_, m in REFUSED])
def test_columns_that_are_not_numbers_are_refused(make_column, error, message):
    obj, twin = bw.SimpleMovingAverage(2), bw.SimpleMovingAverage(2)
    with pytest.raises(error, match=message):
        barworks.feed(obj, make_column())
    assert_same_state(obj, twin, "SimpleMovingAverage")


BIG = 2_000_000


@pytest.mark.parametrize("label, make_column, copied", [
    ("pyarrow", pa.array, False),
    ("chunked", lambda v: pa.chunked_array(np.array_split(v, 5)), False),
    ("polars", lambda v: pl.Series(v), False),
    ("int64, converted", lambda v: pa.array(v.astype(np.int64)), True),
    ("float64 with a null, as NaN", lambda v: pa.array(v, mask=np.arange(len(v)) == 5), True),
])
def test_float64_columns_are_read_without_a_copy(label, make_column, copied):
    column = make_column(np.arange(BIG, dtype=np.float64))
    tracemalloc.start()
    try:
        barworks.feed(bw.SimpleMovingAverage(20), column, nulls="nan")
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    # The answers alone, or the answers and a copy of the inputs.
    answers = BIG * 8
    assert (peak > 1.9 * answers) == copied, f"{peak / answers:.2f} times the answers' size"


def test_imported_arrays_are_released():
    gc.collect()
    before = pa.total_allocated_bytes()
    for column in (pa.array(list(range(100_000)), pa.float64()), pa.chunked_array([list(range(1000))] * 3),
                   pa.array([1.0, None]), pa.table({"a": [1.0]})):
        try:
            barworks.feed(bw.SimpleMovingAverage(20), column)
        except (TypeError, ValueError):
            pass
        del column
    gc.collect()
    assert pa.total_allocated_bytes() == before


def test_a_long_arrow_run_releases_the_interpreter_lock():
    column = pa.chunked_array(np.array_split(np.random.default_rng(0).normal(100.0, 1.0, 8_000_000), 3))
    first, second = bw.StandardDeviation(20), bw.StandardDeviation(20)
    threads = [threading.Thread(target=barworks.feed, args=(obj, column)) for obj in (first, second)]
    both_busy = False
    for thread in threads:
        thread.start()
    while any(thread.is_alive() for thread in threads) and not both_busy:
        both_busy = all(_busy(obj) for obj in (first, second))
    for thread in threads:
        thread.join()
    assert both_busy


def _busy(obj):
    try:
        obj.period()
    except RuntimeError:
        return True
    return False


def test_a_universe_steps_and_runs_on_arrow_columns():
    u = barworks.Universe(classic.WeightedMovingAverage, ["a", "b", "c"], 3)
    twin = barworks.Universe(classic.WeightedMovingAverage, ["a", "b", "c"], 3)
    matrix = np.random.default_rng(5).normal(100.0, 1.0, (8, 3))
    for row in matrix[:4]:
        # A step's column may come in chunks: it is gathered into one.
        chunked = pa.chunked_array([row[:1], row[1:1], row[1:]])
        assert array_bits(u.next(chunked)) == array_bits(twin.next(row))
        assert array_bits(u.next(pl.Series(row))) == array_bits(twin.next(row))
    frame = pl.DataFrame(matrix[4:], schema=["a", "b", "c"], orient="row")
    answers = u.feed(frame)
    assert isinstance(answers, pl.DataFrame) and answers.columns == ["a", "b", "c"]
    assert array_bits(answers.to_numpy()) == array_bits(twin.feed(matrix[4:]))
    # Wider than a tile of columns, an odd count of rows, names beyond ASCII.
    names = [f"é {j}" for j in range(67)]
    wide = np.random.default_rng(6).normal(100.0, 1.0, (5, 67))
    answers = barworks.Universe(classic.WeightedMovingAverage, names, 3).feed(
        pl.DataFrame(wide, schema=names, orient="row"))
    assert answers.columns == names
    assert array_bits(answers.to_numpy()) == \
        array_bits(barworks.Universe(classic.WeightedMovingAverage, names, 3).feed(wide))


def test_answers_go_out_as_an_arrow_stream_any_consumer_reads():
    """The universe's export, read by pyarrow as polars reads it, and the
    matrices and names it refuses (the native half is reachable)."""
    from barworks import _native
    from barworks.universe import _ArrowColumns
    matrix = np.random.default_rng(7).normal(size=(5, 3))
    table = pa.table(_ArrowColumns(matrix, ["a", "é", "c"]))
    assert table.column_names == ["a", "é", "c"]
    assert array_bits(np.column_stack([c.to_numpy() for c in table.columns])) == array_bits(matrix)
    for bad, names, error in ((matrix[:, ::-1], ["a", "b", "c"], ValueError),
                              (matrix.astype(np.float32), ["a", "b", "c"], ValueError),
                              (matrix[0], ["a", "b", "c"], ValueError),
                              (matrix, ["a", "b"], ValueError),
                              (matrix, ["a", "b", 3], TypeError),
                              (matrix, 3, TypeError)):
        with pytest.raises(error):
            _native.columns_as_arrow(bad, names)
