"""barworks.feed and feed_bars: the answers and the state afterwards equal a
loop of next() bit for bit, whatever form the input takes; refused inputs
leave the object untouched; the object is held for the whole run while the
interpreter lock is released."""

import array
import math
import random
import types
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import _barworks as bw
import barworks
from helpers import CallsBack
from batch_streams import (
    BAR_FED,
    CLASSIC_CONFIGS,
    CONFIG_IDS,
    CONFIGS,
    GIVES_TRIPLES,
    TUPLE_WIDTHS,
    PAIR_FED,
    STRATEGIES,
    array_bits,
    assert_same_state,
    bits,
    inputs_for,
    loop,
    make,
    values,
)


def feed(obj, name, inputs, **options):
    if name in BAR_FED:
        return barworks.feed_bars(obj, inputs, **options)
    if name in PAIR_FED:
        xs, ys = (np.array([pair[side] for pair in inputs], dtype=np.float64) for side in (0, 1))
        return barworks.feed(obj, xs, ys, **options)
    return barworks.feed(obj, np.array(inputs, dtype=np.float64), **options)


def like(item, value):
    """An input of item's kind (a value, a pair or a bar) whose every price is value."""
    bar = bw.Bar(value, value, value, value, 1)
    return {float: value, tuple: (value, value)}.get(type(item), bar)


@pytest.mark.parametrize("name, arguments", CONFIGS, ids=CONFIG_IDS)
def test_chunks_with_resets_equal_the_loop(name, arguments):
    rng = random.Random(CONFIGS.index((name, arguments)))
    obj, twin = make(name, arguments), make(name, arguments)
    # Some chunks are long and nearly free of NaN and infinities, so that
    # exact sums slide past their scheduled recomputations; the last long
    # one jumps far and back (a sum falls when the jump leaves the window),
    # and the short one after it continues from its end and stops on a flat
    # stretch, which a short window fills.
    sizes = [rng.choice([0, 1, 2, 5, 17, 60, 200]) for _ in range(12)]
    for k, size in enumerate(sizes + [200, 17]):
        chunk = inputs_for(name, rng, size, 0.08 if size < 200 else 0.002)
        if k == len(sizes):
            chunk[40] = like(chunk[40], 1e4)
        if k > len(sizes):
            chunk = inputs_for(name, rng, 5, 0.0) + [like(chunk[0], 101.0)] * 12
        answers = feed(obj, name, chunk)
        assert answers.dtype == (np.int8 if name in STRATEGIES else np.float64)
        assert answers.shape[0] == len(chunk)
        assert array_bits(answers) == loop(twin, chunk)
        if rng.random() < 0.3:
            obj.reset()
            twin.reset()
    assert_same_state(obj, twin, name)


@pytest.mark.parametrize("period", [2, 5, 20, 300])
@pytest.mark.parametrize("name", ["Variance", "StandardDeviation", "BollingerBands"])
def test_a_deviation_run_of_equal_inputs_across_checked_blocks_answers_as_the_loop(name, period):
    # The batch checks inputs 64 at a time from the first step after the
    # window fills; a run of equal inputs starting on a block's last input
    # goes on into the next block, which counts it from there. A jump
    # leaving the window makes the sums fall; a window longer than the batch
    # recomputes itself leaves those steps to update.
    rng = random.Random(period)
    chunk = [100.0 + rng.random() for _ in range(period + 63)] + [7.0] * (period + 3)
    chunk[10] = 1e4
    name = "classic." + name
    obj, twin = make(name, (period,)), make(name, (period,))
    assert array_bits(feed(obj, name, chunk)) == loop(twin, chunk)
    assert_same_state(obj, twin, name)


@pytest.mark.parametrize("first", [math.inf, -math.inf])
@pytest.mark.parametrize("name, arguments", CONFIGS, ids=CONFIG_IDS)
def test_an_infinite_first_input_answers_as_the_loop(name, arguments, first):
    # The first step's answers, NaN from infinity less infinity, carry next's sign.
    chunk = inputs_for(name, random.Random(1), 6, 0.0)
    chunk[0] = like(chunk[0], first)
    answers = feed(make(name, arguments), name, chunk)
    assert array_bits(answers) == loop(make(name, arguments), chunk)


def test_bar_columns_equal_bar_records():
    rng = random.Random(5)
    chunk = inputs_for("AverageTrueRange", rng, 300)
    columns = {side: np.array([getattr(bar, side)() for bar in chunk], dtype=float)
               for side in ("open", "high", "low", "close", "volume")}
    first_arguments = dict(reversed(CONFIGS))
    for name in sorted(BAR_FED):
        arguments = first_arguments[name]
        obj, twin = make(name, arguments), make(name, arguments)
        answers = barworks.feed_bars(obj, columns["high"], columns["low"], columns["close"],
                                     open=columns["open"], volume=columns["volume"])
        assert array_bits(answers) == loop(twin, chunk)
        assert_same_state(obj, twin, name)


def test_float_columns_with_flat_bars_equal_next_on_such_bars():
    """The classic bar classes over float columns whose volumes and opens hold
    NaN, infinities and signed zeros and whose bars are often flat, dense and
    strided: the batches that take two bars at a time included."""
    rng = random.Random(6)
    mids = values(rng, 301, 0.15)
    sides = {"open": values(rng, 301, 0.15), "low": mids,
             "high": [m if rng.random() < 0.3 else m + rng.random() for m in mids],
             "close": values(rng, 301, 0.15), "volume": values(rng, 301, 0.15)}
    columns = {side: np.array(column, dtype=float) for side, column in sides.items()}
    candles = [types.SimpleNamespace(**{side: sides[side][i] for side in sides}) for i in range(301)]
    first_arguments = dict(reversed(CONFIGS))
    for name in sorted(n for n in BAR_FED if n.startswith("classic.")):
        obj, twin = make(name, first_arguments[name]), make(name, first_arguments[name])
        # The last stretch as strided views.
        for part, form in ((slice(0, 1), None), (slice(1, 150), None), (slice(150, 301), 2)):
            at = {side: columns[side][part] if form is None else np.repeat(columns[side][part], form)[::form]
                  for side in columns}
            answers = barworks.feed_bars(obj, at["high"], at["low"], at["close"], open=at["open"],
                                         volume=at["volume"])
            assert array_bits(answers) == loop(twin, candles[part]), name
        assert_same_state(obj, twin, name)


@pytest.mark.parametrize("name", ["Minimum", "Maximum"])
@pytest.mark.parametrize("period", [2, 3, 20])
def test_extremes_follow_the_remembered_slot_over_long_batches(name, period):
    """Long batches of few distinct values: zeros of both signs that tie for
    the extreme, windows of only NaN and the fill, flat and trending stretches;
    the answers and the remembered slot as next leaves them."""
    rng = random.Random(period)
    pools = [[0.0, -0.0, 1.0, -1.0], [float("nan"), float("inf"), -float("inf"), 0.0, -0.0], [5.0]]
    xs = []
    for _ in range(60):
        pool = rng.choice(pools + [None])
        xs += [rng.choice(pool) if pool else len(xs) * rng.choice([1.0, -1.0]) + rng.random()
               for _ in range(rng.randrange(1, 4 * period))]
    obj, twin = make(name, (period,)), make(name, (period,))
    loop(twin, xs[:period // 2 + 1])
    barworks.feed(obj, np.array(xs[:period // 2 + 1]))
    assert array_bits(barworks.feed(obj, np.array(xs))) == loop(twin, xs)
    assert_same_state(obj, twin, name)


SOURCE = values(random.Random(11), 64)
INTEGERS = [random.Random(12).randrange(-50, 50) for _ in range(64)]


class FloatSubclass(float):
    pass


class Real:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


# Each form of the same stream: (label, build from a list of floats).
FORMS = [
    ("ndarray", lambda xs: np.array(xs)),
    ("strided view", lambda xs: np.repeat(np.array(xs), 3)[::3]),
    ("reversed view", lambda xs: np.array(xs[::-1])[::-1]),
    ("array('d')", lambda xs: array.array("d", xs)),
    ("memoryview", lambda xs: memoryview(array.array("d", xs))),
    ("unaligned memoryview", lambda xs: memoryview(b"\0" + array.array("d", xs).tobytes())[1:].cast("d")),
    ("explicit little-endian dtype", lambda xs: np.array(xs, dtype="<f8")),
    ("list", list),
    ("tuple", tuple),
    ("objects with __float__", lambda xs: [Real(x) for x in xs]),
    # numpy's scalars are read as floats once their type is known; a
    # subclass of another kind in between must not be taken for them.
    ("float subclasses among floats", lambda xs: [
        (np.float64, FloatSubclass, float, np.float64)[i % 4](x) for i, x in enumerate(xs)]),
    ("object ndarray", lambda xs: np.array(xs, dtype=object)),
    ("big-endian float64", lambda xs: np.array(xs, dtype=">f8")),
    ("long double", lambda xs: np.array(xs, dtype=np.longdouble)),
]
# Number arrays that are not float64 convert as next converts each item.
NUMBER_ARRAYS = [np.array(INTEGERS, dtype=dtype) for dtype in ("i1", "<i2", ">i4", "i8", "u8")] + [
    np.array(SOURCE, dtype=np.float32), np.array(SOURCE, dtype=">f4"),
    np.array([0, 2**63 + 2**10 + 1, 2**64 - 1], dtype=np.uint64), np.array([True, False, True]),
    np.array([1.5, -2.25, 65504.0], dtype=">f2"), np.array([-(2**63), 2**53 + 1], dtype=">i8")]


@pytest.mark.parametrize("label, form", FORMS, ids=[label for label, _ in FORMS])
def test_every_input_form_gives_the_loop(label, form):
    obj, twin = bw.StandardDeviation(5), bw.StandardDeviation(5)
    assert array_bits(barworks.feed(obj, form(SOURCE))) == loop(twin, SOURCE)
    assert_same_state(obj, twin, "StandardDeviation")


def test_integers_convert_as_next_converts_them():
    obj, twin = bw.SimpleMovingAverage(3), bw.SimpleMovingAverage(3)
    assert array_bits(barworks.feed(obj, INTEGERS + [True, 2**60])) == loop(twin, INTEGERS + [True, 2**60])


@pytest.mark.parametrize("numbers", NUMBER_ARRAYS, ids=lambda a: a.dtype.str)
def test_number_arrays_convert_as_next_converts_each_item(numbers):
    obj, twin = bw.SimpleMovingAverage(2), bw.SimpleMovingAverage(2)
    assert array_bits(barworks.feed(obj, numbers)) == loop(twin, numbers.tolist())
    assert_same_state(obj, twin, "SimpleMovingAverage")


def test_pandas_series_in_series_out():
    pandas = pytest.importorskip("pandas")
    index = pandas.date_range("2024-01-01", periods=len(SOURCE), freq="min")
    series = pandas.Series(SOURCE, index=index)
    answers = barworks.feed(bw.SimpleMovingAverage(4), series, warmup="nan")
    assert isinstance(answers, pandas.Series) and answers.index.equals(index)
    assert array_bits(answers.to_numpy()) == array_bits(barworks.feed(bw.SimpleMovingAverage(4), SOURCE, warmup="nan"))
    macd = barworks.feed(bw.MovingAverageConvergenceDivergence(5, 3, 2), series)
    assert list(macd.columns) == ["macd", "signal", "histogram"] and macd.index.equals(index)
    high = pandas.Series([2.0, 3.0], index=["a", "b"])
    ranges = barworks.feed_bars(bw.TrueRange(), high, high - 1.0, high)
    assert list(ranges.index) == ["a", "b"] and list(ranges) == [1.0, 1.0]
    together = barworks.feed(make("classic.Correlation", (3,)), series, series * 2.0 + 1.0)
    assert together.index.equals(index)
    with pytest.raises(ValueError, match="arguments 'x' and 'y': the Series must have equal indexes"):
        barworks.feed(make("classic.Correlation", (3,)), high, high.set_axis(["b", "a"]))


@pytest.mark.parametrize("name, arguments", CONFIGS, ids=CONFIG_IDS)
def test_empty_input_gives_an_empty_answer(name, arguments):
    obj, twin = make(name, arguments), make(name, arguments)
    answers = feed(obj, name, [])
    assert answers.shape == ((0, TUPLE_WIDTHS[name]) if name in GIVES_TRIPLES else (0,))
    assert_same_state(obj, twin, name)


# ---------------------------------------------------------------------------
# Warm-up.

LOOKBACKS = [
    ("SimpleMovingAverage", (5,), 4), ("ExponentialMovingAverage", (5,), 4),
    ("StandardDeviation", (5,), 4), ("RelativeStrengthIndex", (14,), 14),
    ("RateOfChange", (10,), 10), ("Minimum", (5,), 4), ("Maximum", (1,), 0),
    ("MovingAverageConvergenceDivergence", (26, 12, 9), 33),
    ("MovingAverageConvergenceDivergence", (12, 26, 9), 33),
    ("SharpeRatio", (5, 0.0), 4), ("SharpeRatio", (1, 0.0), 1),
    ("TrueRange", (), 1), ("AverageTrueRange", (14,), 14),
    ("SimpleMovingAverageCrossover", (5, 20), 19), ("ExponentialMovingAverageCrossover", (5, 20), 19),
    ("classic.RelativeStrengthIndex", (14,), 14), ("classic.AverageTrueRange", (14,), 14),
    ("classic.ExponentialMovingAverage", (20,), 19), ("classic.RateOfChange", (10,), 10),
    ("classic.MovingAverageConvergenceDivergence", (12, 26, 9), 33),
    ("classic.MovingAverageConvergenceDivergence", (1, 2, 1), 1),
    ("classic.StandardDeviation", (20,), 19), ("classic.StandardDeviation", (1,), 0),
]


@pytest.mark.parametrize("name, arguments, expected", LOOKBACKS)
def test_lookback_per_class(name, arguments, expected):
    assert barworks.lookback(make(name, arguments)) == expected


@pytest.mark.parametrize("name, arguments", [c for c in CONFIGS if c[0] not in STRATEGIES],
                         ids=[i for c, i in zip(CONFIGS, CONFIG_IDS) if c[0] not in STRATEGIES])
def test_warmup_nan_blanks_the_lookback_only(name, arguments):
    chunk = inputs_for(name, random.Random(3), 50)
    plain = feed(make(name, arguments), name, chunk)
    blanked = feed(make(name, arguments), name, chunk, warmup="nan")
    cut = min(barworks.lookback(make(name, arguments)), len(chunk))
    assert np.isnan(blanked[:cut]).all()
    assert array_bits(blanked[cut:]) == array_bits(plain[cut:])


# Classes that count their inputs blank across chunk boundaries exactly as
# one feed would; the others count an object that has started as warm.
@pytest.mark.parametrize("name, arguments", [
    ("SimpleMovingAverage", (6,)), ("StandardDeviation", (6,)), ("RelativeStrengthIndex", (6,)),
    ("RateOfChange", (6,)), ("SharpeRatio", (6, 0.0)), ("Minimum", (6,)), ("Maximum", (6,)),
    ("classic.RelativeStrengthIndex", (6,)), ("classic.AverageTrueRange", (6,)),
    ("classic.ExponentialMovingAverage", (6,)), ("classic.RateOfChange", (6,)),
    ("classic.StandardDeviation", (6,)), ("classic.MovingAverageConvergenceDivergence", (2, 4, 3)),
])
def test_warmup_nan_counts_across_chunks(name, arguments):
    chunk = [float(x) for x in range(1, 21)]
    if name in BAR_FED:
        chunk = [bw.Bar(x, x + 1.0, x - 1.0, x, 1) for x in chunk]
    whole = feed(make(name, arguments), name, chunk, warmup="nan")
    obj = make(name, arguments)
    pieces = [feed(obj, name, chunk[a:b], warmup="nan") for a, b in ((0, 2), (2, 3), (3, 20))]
    assert array_bits(np.concatenate(pieces)) == array_bits(whole)
    obj.reset()
    assert array_bits(feed(obj, name, chunk, warmup="nan")) == array_bits(whole)


CLASSIC_IDS = [f"{name}{arguments}" for name, arguments in CLASSIC_CONFIGS]


@pytest.mark.parametrize("name, arguments", CLASSIC_CONFIGS, ids=CLASSIC_IDS)
def test_classic_lookback_is_the_count_of_leading_nans(name, arguments):
    # Finite inputs only: the classic classes also skip leading NaN inputs.
    rng = random.Random(4)
    stream = inputs_for(name, rng, barworks.lookback(make(name, arguments)) + 20, specials=0.0)
    answers = loop(make(name, arguments), stream)
    values = [answer if name in GIVES_TRIPLES else (answer,) for answer in answers]
    leading = next(i for i, row in enumerate(values) if not any(part[0] == "nan" for part in row if isinstance(part, tuple)))
    assert leading == barworks.lookback(make(name, arguments))


@pytest.mark.parametrize("name, arguments", CLASSIC_CONFIGS, ids=CLASSIC_IDS)
def test_classic_warmup_nan_changes_nothing(name, arguments):
    # The classic classes answer NaN through their lookback themselves, so
    # blanking, chunk after chunk and across resets, never hides a number.
    rng = random.Random(CLASSIC_CONFIGS.index((name, arguments)) + 50)
    obj, twin = make(name, arguments), make(name, arguments)
    for _ in range(10):
        chunk = inputs_for(name, rng, rng.choice([1, 3, 8, 30]), specials=rng.choice([0.0, 0.3]))
        assert array_bits(feed(obj, name, chunk, warmup="nan")) == loop(twin, chunk)
        if rng.random() < 0.4:
            obj.reset()
            twin.reset()
    assert_same_state(obj, twin, name)


def test_warmup_nan_treats_a_started_average_as_warm():
    ema = bw.ExponentialMovingAverage(5)
    assert math.isnan(barworks.feed(ema, [1.0], warmup="nan")[0])
    assert not np.isnan(barworks.feed(ema, [1.0, 2.0], warmup="nan")).any()


# ---------------------------------------------------------------------------
# Refusals: the message, and the object untouched.

REFUSALS = [
    (lambda o: barworks.feed(o, np.zeros(3, dtype=complex)), TypeError,
     "argument 'values': expected a buffer of numbers (float64, float32, integers or bools), got format 'Zd'"),
    (lambda o: barworks.feed(o, memoryview(b"abcd").cast("c")), TypeError, "got format 'c' from 'memoryview'"),
    (lambda o: barworks.feed(o, np.zeros((2, 2))), TypeError,
     "argument 'values': expected one column of numbers, got 2 dimensions ('ndarray'); pass one column"),
    (lambda o: barworks._native.feed(o, memoryview(np.zeros((2, 2))), "value"), TypeError,
     "argument 'values': expected one column of numbers, got 2 dimensions ('memoryview'); pass one column"),
    (lambda o: barworks.feed(o, np.float64(1.0).reshape(())), TypeError, "got 0 dimensions"),
    (lambda o: barworks.feed(o, np.ma.masked_array([1.0, 2.0], mask=[0, 1])), TypeError,
     "argument 'values': masked arrays are not taken"),
    (lambda o: barworks.feed(o, {1.0, 2.0}), TypeError,
     "argument 'values': expected a numeric buffer or a sequence of numbers, not 'set'"),
    (lambda o: barworks.feed(o, [1.0, 2.0, "3"]), TypeError, "argument 'values[2]': must be real number, not str"),
    (lambda o: barworks.feed(o, [1.0, None]), TypeError, "argument 'values[1]': must be real number, not NoneType"),
    (lambda o: barworks.feed(o, [1.0, 10**400]), OverflowError, "int too large to convert to float"),
    (lambda o: barworks.feed(o, [bw.Bar(1.0, 2.0, 0.5, 1.5, 1)]), TypeError, "argument 'values[0]': must be real number, not builtins.Bar"),
    (lambda o: barworks.feed(o, [1.0], warmup="none"), ValueError, "argument 'warmup': expected 'value' or 'nan', not 'none'"),
    (lambda o: barworks.feed(o, [1.0], warmup=None), ValueError, "argument 'warmup': expected 'value' or 'nan', not None"),
    (lambda o: barworks.feed(o), TypeError, "missing 1 required positional argument: 'values'"),
    (lambda o: barworks.feed_bars(o, [bw.Bar(1.0, 2.0, 0.5, 1.5, 1)]), TypeError,
     "argument 'indicator': SimpleMovingAverage takes float inputs; use barworks.feed()"),
    (lambda o: barworks.peek_bar(o, bw.Bar(1.0, 2.0, 0.5, 1.5, 1)), TypeError,
     "argument 'indicator': SimpleMovingAverage takes float inputs; use barworks.peek()"),
    (lambda o: barworks.feed(o, [1.0], [2.0]), TypeError,
     "argument 'indicator': SimpleMovingAverage takes float inputs; use barworks.feed() with one column"),
    (lambda o: barworks.feed(o, [1.0], [2.0], [3.0]), TypeError, "feed() takes the indicator and one column, or"),
]

BAR_REFUSALS = [
    (lambda o: barworks.feed_bars(o, [1.0, 2.0], [1.0], [1.0, 2.0]), ValueError,
     "arguments 'high', 'low' and 'close' must have the same length, got 2, 1 and 2"),
    (lambda o: barworks.feed_bars(o, [bw.Bar(1.0, 2.0, 0.5, 1.5, 1), 2.0]), TypeError,
     "argument 'bars[1]': expected a Bar or an object with numeric open, high, low, close and "
     "volume attributes, got 'float', which has no 'open'"),
    (lambda o: barworks.feed_bars(o, [1.0], [1.0]), TypeError, "feed_bars() takes the indicator and either"),
    (lambda o: barworks.feed_bars(o, [1.0], np.zeros(1, dtype=complex), [1.0]), TypeError, "argument 'low': expected a buffer of numbers"),
    (lambda o: barworks.feed_bars(o, (bar for bar in [])), TypeError,
     "argument 'bars': expected a sequence of Bar (or the three columns high, low and close), not 'generator'"),
    (lambda o: barworks.feed(o, [1.0]), TypeError, "argument 'indicator': AverageTrueRange takes Bar inputs; use barworks.feed_bars()"),
    (lambda o: barworks.peek(o, 1.0), TypeError, "argument 'indicator': AverageTrueRange takes Bar inputs; use barworks.peek_bar()"),
]


PAIR_REFUSALS = [
    (lambda o: barworks.feed(o, [1.0, 2.0], [1.0]), ValueError,
     "arguments 'x' and 'y' must have the same length, got 2 and 1"),
    (lambda o: barworks.feed(o, [1.0], ["2"]), TypeError, "argument 'y[0]': must be real number, not str"),
    (lambda o: barworks.feed(o, [1.0], np.zeros((1, 1))), TypeError, "argument 'y': expected one column"),
    (lambda o: barworks.feed(o, [1.0]), TypeError,
     "argument 'indicator': Correlation takes pairs of floats; use barworks.feed(indicator, x, y)"),
    (lambda o: barworks.peek(o, 1.0), TypeError,
     "argument 'indicator': Correlation takes pairs of floats; use barworks.peek(indicator, x, y)"),
    (lambda o: barworks.peek(o, 1.0, "2"), TypeError, "argument 'y': must be real number, not str"),
    (lambda o: barworks.feed_bars(o, [bw.Bar(1.0, 2.0, 0.5, 1.5, 1)]), TypeError,
     "argument 'indicator': Correlation takes pairs of floats; use barworks.feed(indicator, x, y)"),
]
REFUSED_BY = {"SimpleMovingAverage": REFUSALS, "AverageTrueRange": BAR_REFUSALS, "classic.Correlation": PAIR_REFUSALS}
REFUSAL_CASES = [(name, call, error, message) for name, table in REFUSED_BY.items() for call, error, message in table]


@pytest.mark.parametrize("name, call, error, message", REFUSAL_CASES, ids=[m[:50] for *_, m in REFUSAL_CASES])
def test_refused_inputs_leave_the_object_untouched(name, call, error, message):
    arguments = (3,)
    obj, twin = make(name, arguments), make(name, arguments)
    warm = inputs_for(name, random.Random(1), 4)
    loop(obj, warm), loop(twin, warm)
    with pytest.raises(error) as caught:
        call(obj)
    assert message in str(caught.value)
    assert_same_state(obj, twin, name)


@pytest.mark.parametrize("function", ["feed", "feed_bars", "peek", "peek_bar", "lookback"])
@pytest.mark.parametrize("not_an_indicator", [None, 3.0, bw.Bar(1.0, 2.0, 0.5, 1.5, 1), bw.Signal.BUY, np.zeros(3)])
def test_only_barworks_indicators_are_taken(function, not_an_indicator):
    arguments = {"feed": ([1.0],), "feed_bars": ([],), "peek": (1.0,), "peek_bar": (bw.Bar(1, 2, 0, 1, 1),), "lookback": ()}
    with pytest.raises(TypeError, match="argument 'indicator': expected a _barworks or barworks.classic indicator or strategy, not '"):
        getattr(barworks, function)(not_an_indicator, *arguments[function])


@pytest.mark.parametrize("name", sorted(STRATEGIES))
def test_strategies_refuse_nan_warmup(name):
    obj, twin = make(name, (2, 5)), make(name, (2, 5))
    with pytest.raises(ValueError, match=f"argument 'warmup': {name} answers int8 signal codes"):
        barworks.feed(obj, [1.0, 2.0], warmup="nan")
    assert_same_state(obj, twin, name)


class CallsBackInBuffer:
    """A sequence of numbers that also exports a buffer; `action` runs in
    __buffer__ before the buffer is given."""

    def __init__(self, values, action):
        self.values, self.action = np.array(values), action

    def __buffer__(self, flags):
        self.action()
        return memoryview(self.values)

    def __len__(self):
        return len(self.values)

    def __getitem__(self, i):
        return float(self.values[i])


def raise_(error):
    raise error


# Inputs whose conversion calls back into the object being fed: the object
# is already taken, so the call back is refused and nothing lands.
CALLBACKS = [
    ("__float__", lambda o: barworks.feed(o, [1.0, 2.0, CallsBack(lambda: o.next(100.0)), 4.0])),
    ("__buffer__", lambda o: barworks.feed(o, CallsBackInBuffer([1.0, 2.0], lambda: o.reset()))),
    ("state in __float__", lambda o: barworks.feed(o, [CallsBack(lambda: barworks.state(o))])),
]


@pytest.mark.parametrize("label, call", CALLBACKS, ids=[label for label, _ in CALLBACKS])
def test_the_object_is_taken_before_its_inputs_convert(label, call):
    obj, twin = bw.SimpleMovingAverage(3), bw.SimpleMovingAverage(3)
    loop(obj, [5.0, 6.0]), loop(twin, [5.0, 6.0])
    with pytest.raises(RuntimeError, match="^Already (mutably )?borrowed$"):
        call(obj)
    assert barworks.state(obj) == barworks.state(twin)


@pytest.mark.parametrize("error", [KeyboardInterrupt, MemoryError, ValueError])
def test_errors_raised_inside_buffer_reach_the_caller(error):
    with pytest.raises(error):
        barworks.feed(bw.SimpleMovingAverage(3), CallsBackInBuffer([1.0], lambda: raise_(error("from __buffer__"))))


def test_an_exporter_without_such_a_buffer_is_read_as_a_sequence():
    obj, twin = bw.SimpleMovingAverage(3), bw.SimpleMovingAverage(3)
    values = CallsBackInBuffer([1.0, 2.0], lambda: raise_(BufferError("no strided buffer")))
    assert array_bits(barworks.feed(obj, values)) == loop(twin, [1.0, 2.0])


def test_tables_and_unaligned_series_are_refused():
    pandas = pytest.importorskip("pandas")
    frame = pandas.DataFrame({"close": np.linspace(1.0, 2.0, 500)})
    obj, twin = bw.SimpleMovingAverage(3), bw.SimpleMovingAverage(3)
    with pytest.raises(TypeError, match=r"expected one column of numbers, got 2 dimensions \('DataFrame'\); pass one column"):
        barworks.feed(obj, frame)
    assert array_bits(barworks.feed(obj, frame["close"]).to_numpy()) == loop(twin, frame["close"].tolist())
    high = pandas.Series([2.0, 3.0], index=["a", "b"])
    with pytest.raises(ValueError, match="the Series must have equal indexes"):
        barworks.feed_bars(bw.TrueRange(), high, high.set_axis(["b", "a"]) - 1.0, high)
    integers = pandas.Series([1, 2, 3], index=["a", "b", "c"])
    assert list(barworks.feed(bw.SimpleMovingAverage(2), integers)) == [1.0, 1.5, 2.5]


# numpy.empty is looked up once, at the first batch; a replacement that
# gives the wrong cells must be caught before the loop writes into them.
REPLACED_EMPTY = """
import numpy, _barworks, barworks
real = numpy.empty
wrong = [lambda shape, dtype: real(1, dtype), lambda shape, dtype: real(shape, numpy.float32),
         lambda shape, dtype: real(shape, dtype)[::-1], lambda shape, dtype: real(shape, numpy.int16),
         lambda shape, dtype: bytearray(8 * 10**4)]
current = []
numpy.empty = lambda shape, dtype: current[-1](shape, dtype)
for make in wrong:
    current.append(make)
    for obj, run in ((_barworks.SimpleMovingAverage(3), lambda o: barworks.feed(o, numpy.ones(10**4))),
                     (_barworks.SimpleMovingAverageCrossover(2, 3), lambda o: barworks.feed(o, numpy.ones(10**4)))):
        try:
            run(obj)
        except (TypeError, ValueError, BufferError) as error:
            print(type(error).__name__)
        else:
            print("written")
"""


def test_a_replaced_numpy_empty_is_checked():
    done = subprocess.run([sys.executable, "-P", "-c", REPLACED_EMPTY], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert "written" not in done.stdout and len(done.stdout.split()) == 10, done.stdout


NEVER_BUILT = """
import _barworks, barworks, barworks.classic
cls = {name}
cls.__new__ = staticmethod(lambda cls, *a: object.__new__(cls))
obj = cls()
for call in (lambda: barworks.feed(obj, [1.0, 2.0]), lambda: barworks.peek(obj, 1.0),
             lambda: barworks.lookback(obj)):
    try:
        call()
    except TypeError as error:
        print("TypeError", error)
    else:
        print("accepted")
"""


@pytest.mark.parametrize("name", ["_barworks.SimpleMovingAverage", "_barworks.Minimum",
                                  "_barworks.ExponentialMovingAverage", "barworks.classic.StandardDeviation",
                                  "barworks.classic.ExponentialMovingAverage"])
def test_a_never_built_instance_is_refused(name):
    # In a child: the class's __new__ is replaced for good there.
    done = subprocess.run([sys.executable, "-P", "-c", NEVER_BUILT.format(name=name)],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert len(lines) == 3 and all(line.startswith("TypeError") for line in lines), done.stdout


# ---------------------------------------------------------------------------
# Access and threads.

LONG = np.random.default_rng(0).normal(100.0, 1.0, 8_000_000)


def busy(obj):
    """True while another caller holds the object."""
    try:
        obj.period()
    except RuntimeError as error:
        assert str(error) == "Already borrowed"
        return True
    return False


def wait_until(condition, seconds=30.0):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, "timed out"


def test_next_is_refused_while_feed_runs_and_the_run_is_whole():
    obj, twin = bw.SimpleMovingAverage(20), bw.SimpleMovingAverage(20)
    results = {}
    worker = threading.Thread(target=lambda: results.setdefault("answers", barworks.feed(obj, LONG)))
    worker.start()
    wait_until(lambda: busy(obj) or "answers" in results)
    refused = False
    try:
        obj.next(1.0)
    except RuntimeError as error:
        refused = str(error) == "Already borrowed"
    worker.join()
    assert refused, "feed ended before next was tried"
    expected = barworks.feed(twin, LONG)
    assert array_bits(results["answers"][-50:]) == array_bits(expected[-50:])
    assert_same_state(obj, twin, "SimpleMovingAverage")


def test_two_threads_run_at_the_same_time():
    first, second = bw.StandardDeviation(20), bw.StandardDeviation(20)
    both_busy = []
    threads = [threading.Thread(target=barworks.feed, args=(obj, LONG)) for obj in (first, second)]
    for thread in threads:
        thread.start()

    # Both runs inside their loops at one moment: neither holds the lock.
    def both_inside_or_done():
        if busy(first) and busy(second):
            both_busy.append(True)
            return True
        return not any(thread.is_alive() for thread in threads)

    wait_until(both_inside_or_done)
    for thread in threads:
        thread.join()
    assert both_busy
    assert bits(first.next(1.0)) == bits(second.next(1.0))
