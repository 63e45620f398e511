"""barworks.classic: agreement with TA-Lib's batch functions, warm-up,
NaN handling, binding errors and access, without restating formulas."""

import math
import os
import random
import statistics
import struct
import types
from pathlib import Path
from fractions import Fraction

import numpy as np
import pytest

import _barworks
import barworks
from _barworks import Bar
from barworks import classic

from classes import CLASSIC, CLASSIC_BY_NAME
from models import exact_deviation

NAN = math.nan
NAMES = [row.name for row in CLASSIC]


def make(name, arguments=None):
    return CLASSIC_BY_NAME[name].make(arguments)


def walk(seed, count, gaps=False, start=100.0):
    """Closes of a seeded random walk; with gaps, one step in 50 jumps ±20 %."""
    rng = random.Random(seed)
    closes, price = [], start
    for _ in range(count):
        if gaps and rng.random() < 0.02:
            price *= 1.2 if rng.random() < 0.5 else 0.8
        price *= math.exp(rng.gauss(0.0, 0.01))
        closes.append(price)
    return closes


def flat_stretches(seed, count):
    """A random walk that stands still for stretches of 5 to 40 steps."""
    rng = random.Random(seed)
    closes = walk(seed, count)
    at = 0
    while at < count:
        at += rng.randrange(20, 80)
        length = rng.randrange(5, 40)
        closes[at:at + length] = [closes[at - 1]] * len(closes[at:at + length])
        at += length
    return closes[:count]


def bars_from(closes, seed=7):
    """Bars whose open is the previous close, so gaps show in the true range."""
    rng, volumes = random.Random(seed), random.Random(seed + 1)
    bars, previous = [], closes[0]
    for close in closes:
        high = max(previous, close) * (1.0 + 0.01 * rng.random())
        low = min(previous, close) * (1.0 - 0.01 * rng.random())
        bars.append(Bar(previous, high, low, close, volumes.randrange(2**32)))
        previous = close
    return bars


def stream(indicator, inputs):
    return [indicator.next(*value) if isinstance(value, tuple) else indicator.next(value)
            for value in inputs]


def partner(closes):
    """The second column of a pair: each close pushed on by its last move,
    on the same level and tick grid, flat where the closes are."""
    return [2.0 * b - a for a, b in zip(closes[:1] + closes[:-1], closes)]


def inputs_for(name, closes):
    kind = CLASSIC_BY_NAME[name].input
    if kind == "pair":
        return list(zip(closes, partner(closes)))
    return bars_from(closes) if kind == "bar" else closes


# --------------------------------------------------------------------------
# Agreement with TA-Lib, which lives in the peers' environment only.

@pytest.fixture(scope="module")
def talib():
    if os.environ.get("BARWORKS_PEERS") == "required":
        import talib
        return talib
    return pytest.importorskip("talib")


def columns(name, values):
    width = {"triple": 3, "pair": 2}.get(CLASSIC_BY_NAME[name].result)
    if width is None:
        return [values]
    return list(zip(*(v if isinstance(v, tuple) else (v,) * width for v in values)))


def peer_columns(talib, name, arguments, closes):
    """TA-Lib's answers to the inputs `inputs_for` makes of `closes`."""
    bars = bars_from(closes)
    sides = types.SimpleNamespace(
        close=np.array(closes, dtype=float), partner=np.array(partner(closes), dtype=float),
        **{side: np.array([getattr(bar, side)() for bar in bars], dtype=float)
           for side in ("open", "high", "low", "volume")})
    return CLASSIC_BY_NAME[name].talib(talib, sides, *arguments)


def worst_relative_difference(ours, theirs, level=0.0):
    """Largest |a - b| / |b| after checking that NaN positions are equal.

    A rate of change or a MACD column crosses zero, where its rounding is
    that of the terms it subtracts: values below the column's root mean
    square are measured against that instead of themselves, and a column of
    zeros (the histogram with a signal period of 1) absolutely."""
    ours = [float(v) for v in ours]
    theirs = [float(v) for v in theirs]
    assert [math.isnan(v) for v in ours] == [math.isnan(v) for v in theirs]
    numbers = [v for v in theirs if not math.isnan(v)]
    assert numbers, "no answer to compare"
    floor = max(math.sqrt(math.fsum(v * v for v in numbers) / len(numbers)), level)
    return max(abs(a - b) / (max(abs(b), floor) or 1.0)
               for a, b in zip(ours, theirs) if not math.isnan(b))


AGREEMENT = [(row.name, arguments) for row in CLASSIC for arguments in row.configs
             if row.peer_takes(*arguments)]
SERIES = {
    "walk": lambda: walk(1, 3000),
    "walk-low": lambda: walk(2, 3000, start=0.5),
    "gaps": lambda: walk(3, 3000, gaps=True),
    "gaps-long": lambda: walk(4, 20000, gaps=True),
    "flat-stretches": lambda: flat_stretches(5, 3000),
    "100000-by-0.01": lambda: ticks(100_000.0, 0.01, 6, 3000),
    "1e8-by-1e-3": lambda: ticks(1e8, 1e-3, 7, 3000),
    "1.1-by-1e-5": lambda: ticks(1.1, 1e-5, 8, 3000),
}


@pytest.mark.parametrize("series", list(SERIES))
@pytest.mark.parametrize("name, arguments", AGREEMENT,
                         ids=[f"{name}{arguments}" for name, arguments in AGREEMENT])
def test_agrees_with_talib(talib, name, arguments, series):
    closes = SERIES[series]()
    row = CLASSIC_BY_NAME[name]
    ours = stream(row.make(arguments), inputs_for(name, closes))
    peers = peer_columns(talib, name, arguments, closes)
    level = row.level(closes)
    exact = row.exact_answers(inputs_for(name, closes), arguments)
    if exact is not None:
        # TA-Lib keeps running sums here, which drift (by up to 1e-8 for the
        # deviation's squares); ours must be exact to 1e-12 and differ from
        # TA-Lib by no more than TA-Lib's own error.
        for mine, want, theirs in zip(columns(name, ours), columns(name, exact), peers):
            assert worst_relative_difference(mine, want, level) <= 1e-12
            peer_error = worst_relative_difference(theirs, want, level)
            assert worst_relative_difference(mine, theirs, level) <= peer_error + 1e-12
        return
    for mine, theirs in zip(columns(name, ours), peers):
        assert worst_relative_difference(mine, theirs, level) <= 1e-12


BAR_ROWS = [row for row in CLASSIC if row.input == "bar"]


@pytest.mark.parametrize("name", [row.name for row in BAR_ROWS])
def test_bars_carry_fractional_and_large_volumes(talib, name):
    # Volumes a Bar cannot hold: fractions of a coin and share counts past 2**32.
    row, closes = CLASSIC_BY_NAME[name], walk(15, 400)
    rng = random.Random(16)
    volumes = np.array([rng.choice([rng.random(), rng.uniform(1e9, 1e11)]) for _ in closes])
    bars = bars_from(closes)
    sides = {side: np.array([getattr(bar, side)() for bar in bars]) for side in ("open", "high", "low", "close")}
    fields = types.SimpleNamespace(**sides, volume=volumes)
    candles = [types.SimpleNamespace(**{side: float(sides[side][i]) for side in sides}, volume=float(volumes[i]))
               for i in range(len(bars))]
    arguments = row.configs[0]
    streamed = np.array(stream(row.make(arguments), candles))
    columns = barworks.feed_bars(row.make(arguments), sides["high"], sides["low"], sides["close"],
                                 open=sides["open"], volume=volumes)
    records = barworks.feed_bars(row.make(arguments), candles)
    assert np.array_equal(streamed, columns, equal_nan=True)
    assert np.array_equal(streamed, records, equal_nan=True)
    if row.peer_takes(*arguments):
        for mine, theirs in zip(columns.T if columns.ndim > 1 else [columns], row.talib(talib, fields, *arguments)):
            assert worst_relative_difference(mine, theirs) <= 1e-12
    # Without its open or volume, a class that reads them refuses; the others
    # ignore them.
    try:
        bare = barworks.feed_bars(row.make(arguments), sides["high"], sides["low"], sides["close"])
    except TypeError as refusal:
        assert f"{name} reads the " in str(refusal)
    else:
        assert np.array_equal(bare, streamed, equal_nan=True)


@pytest.mark.single_pass  # a long stream; its accuracy, not its references, is the point
@pytest.mark.parametrize("name", [row.name for row in CLASSIC
                                  if row.exact is not None or row.exact_series is not None])
def test_exact_classes_do_not_drift_over_long_streams(name):
    row, closes = CLASSIC_BY_NAME[name], walk(14, 200_000, gaps=True)
    arguments = row.configs[0]
    inputs = inputs_for(name, closes)
    if row.input == "bar":
        ours = barworks.feed_bars(row.make(arguments), inputs)[-1000:]
    else:
        columns_in = list(zip(*inputs)) if row.input == "pair" else [closes]
        ours = barworks.feed(row.make(arguments), *columns_in)[-1000:]
    if row.exact_series is not None:
        exact = row.exact_series(inputs, *arguments)[-1000:]
    else:
        span = row.lookback(*arguments) + 1
        exact = [row.exact(inputs[i - span + 1:i + 1], *arguments)
                 for i in range(len(inputs) - 1000, len(inputs))]
    level = row.level(closes[-1000:])
    for mine, want in zip(columns(name, [tuple(v) if np.ndim(v) else float(v) for v in ours]),
                          columns(name, exact)):
        assert worst_relative_difference(mine, want, level) <= 1e-12


@pytest.mark.parametrize("name", NAMES)
def test_leading_nans_are_skipped_as_talib_skips_them(talib, name):
    # Bars made of these have NaN sides up to the sixth.
    closes = [NAN] * 5 + walk(5, 300)
    arguments = CLASSIC_BY_NAME[name].configs[0]
    ours = stream(make(name), inputs_for(name, closes))
    level = CLASSIC_BY_NAME[name].level(closes[5:])
    for mine, theirs in zip(columns(name, ours), peer_columns(talib, name, arguments, closes)):
        assert worst_relative_difference(mine, theirs, level) <= 1e-12


@pytest.mark.parametrize("side", ["high", "low", "close"])
def test_a_nan_bar_side_reaches_the_average_true_range_as_in_talib(talib, side):
    import numpy as np
    bars = bars_from(walk(13, 60))
    sides = {name: np.array([getattr(bar, name)() for bar in bars]) for name in ("high", "low", "close")}
    sides[side][30] = NAN
    ours = stream(classic.AverageTrueRange(5),
                  [Bar(0.0, h, l, c, 1) for h, l, c in zip(sides["high"], sides["low"], sides["close"])])
    theirs = talib.ATR(sides["high"], sides["low"], sides["close"], 5)
    assert worst_relative_difference(ours, theirs) <= 1e-12


# --------------------------------------------------------------------------
# Behaviour that needs no peer.

@pytest.mark.parametrize("name", NAMES)
def test_nan_until_lookback_then_numbers(name):
    row = CLASSIC_BY_NAME[name]
    lookback = row.lookback(*row.configs[0])
    answers = columns(name, stream(make(name), inputs_for(name, walk(6, lookback + 50))))
    for column in answers:
        assert all(math.isnan(v) for v in column[:lookback])
        assert not any(math.isnan(v) for v in column[lookback:])


def test_every_class_has_its_readme_rows():
    readme = (Path(__file__).resolve().parent.parent / "README.md").read_text()
    for row in CLASSIC:
        shown = ", ".join(p if d is None else f"{p}={d}" for p, d in row.parameters)
        assert f"| `{row.name}({shown})` |" in readme, row.name
        assert readme.count(f"`{row.name}(") >= 2, row.name


@pytest.mark.parametrize("name", [row.name for row in CLASSIC if row.result != "float"])
def test_tuple_answers_name_their_columns_as_the_readme_does(name):
    pandas = pytest.importorskip("pandas")
    readme = (Path(__file__).resolve().parent.parent / "README.md").read_text()
    row = next(line for line in readme.splitlines() if line.startswith(f"| `{name}("))
    named = row.split("→ `(")[1].split(")`")[0].split(", ")
    closes = walk(17, 60)
    inputs = inputs_for(name, closes)
    index = pandas.RangeIndex(100, 160)
    if CLASSIC_BY_NAME[name].input == "bar":
        sides = [pandas.Series([getattr(bar, side)() for bar in inputs], index=index) for side in ("high", "low", "close")]
        frame = barworks.feed_bars(make(name), *sides)
    else:
        frame = barworks.feed(make(name), pandas.Series(closes, index=index))
    assert list(frame.columns) == named and frame.index.equals(index)


@pytest.mark.parametrize("name", NAMES)
def test_reset_equals_fresh(name):
    inputs = inputs_for(name, walk(8, 200, gaps=True))
    used = make(name)
    stream(used, inputs[50:])
    assert used.reset() is None
    assert repr(stream(used, inputs)) == repr(stream(make(name), inputs))


def test_deviation_does_not_drift_and_equal_values_give_zero():
    period = 20
    values = walk(9, 200_000, gaps=True)
    deviation = classic.StandardDeviation(period)
    worst = 0.0
    for step, value in enumerate(values):
        answer = deviation.next(value)
        if step >= 199_000:
            expected = exact_deviation(values[step - period + 1:step + 1])
            worst = max(worst, abs(answer - expected) / expected)
    assert worst <= 1e-13
    for _ in range(period - 1):
        assert deviation.next(123.456) > 0.0
    assert deviation.next(123.456) == 0.0
    assert deviation.next(123.456) == 0.0
    assert deviation.next(124.0) == pytest.approx(exact_deviation([123.456] * 19 + [124.0]), rel=1e-13)


@pytest.mark.parametrize("period", [5, 6, 7, 23])
@pytest.mark.parametrize("start", [0.5, 100.0])
def test_deviation_is_exact_for_any_period(period, start):
    # The exact recomputation must take every value of the window once,
    # whatever the period's remainder against its unrolling.
    values = walk(12, 3000, gaps=True, start=start)
    answers = stream(classic.StandardDeviation(period), values)
    expected = [NAN] * (period - 1) + [exact_deviation(values[i - period + 1:i + 1])
                                       for i in range(period - 1, len(values))]
    assert worst_relative_difference(answers, expected) <= 1e-12


def ticks(level, tick, seed, count=20_000):
    """Prices on a tick grid far above the tick: a random walk of -1/0/+1
    ticks, then of gaussian steps rounded to the tick."""
    rng = random.Random(seed)
    steps = [rng.choice((-1, 0, 1)) for _ in range(count // 2)]
    steps += [round(rng.gauss(0.0, 3.0)) for _ in range(count - count // 2)]
    k, prices = 0, []
    for step in steps:
        k += step
        prices.append(level + k * tick)
    return prices


def exact_deviations(values, period):
    """The deviation of each full window from exact rational sums, which
    slide exactly; NaN until the first window is full."""
    exact = [Fraction(v) for v in values]
    total = squares = Fraction(0)
    answers = []
    for i, x in enumerate(exact):
        total += x
        squares += x * x
        if i >= period:
            total -= exact[i - period]
            squares -= exact[i - period] ** 2
        answers.append(NAN if i < period - 1 else
                       math.sqrt((squares - total * total / period) / period))
    return answers


@pytest.mark.single_pass  # long streams; accuracy, not references, is the point
@pytest.mark.parametrize("values,period", [
    (ticks(100.0, 0.01, 1), 20),
    (ticks(1.1, 1e-5, 2), 20),  # a currency pair
    (ticks(100_000.0, 0.01, 3), 20),
    (ticks(1e8, 1e-3, 4), 20),
    ([1e8 + k * 1e-3 for k in (3, 1, 4, 1, 5)], 5),  # one window, nothing slid
], ids=["100-by-0.01", "1.1-by-1e-5", "100000-by-0.01", "1e8-by-1e-3", "fresh-window"])
def test_deviation_is_exact_at_any_price_level(values, period):
    answers = stream(classic.StandardDeviation(period), values)
    exact = exact_deviations(values, period)
    assert [math.isnan(v) for v in answers] == [math.isnan(v) for v in exact]
    for got, want in zip(answers[period - 1:], exact[period - 1:]):
        assert got == want or abs(got - want) <= 1e-12 * want, (got, want)


def wilder_by_division(values, period):
    """Wilder's smoothing as the batch libraries write it, one division a step."""
    average = sum(values[:period]) / period
    answers = [NAN] * (period - 1) + [average]
    for value in values[period:]:
        average = (average * (period - 1) + value) / period
        answers.append(average)
    return answers


@pytest.mark.single_pass  # a long stream; its accuracy, not its references, is the point
@pytest.mark.parametrize("period", [2, 14, 50])
def test_wilder_smoothing_stays_with_the_division_form_over_long_streams(period):
    closes = walk(13, 200_000, gaps=True)
    ranges = [abs(b - a) for a, b in zip(closes, closes[1:])]
    bars = [Bar(c, c, c, c, 1) for c in closes]
    ours = stream(classic.AverageTrueRange(period), bars)[1:]
    assert worst_relative_difference(ours, wilder_by_division(ranges, period)) <= 1e-12


@pytest.mark.parametrize("poison", [NAN, math.inf, -math.inf])
def test_deviation_recovers_exactly_once_a_non_finite_input_leaves(poison):
    period = 5
    values = walk(10, 40)
    values[20] = poison
    answers = stream(classic.StandardDeviation(period), values)
    assert all(math.isnan(v) for v in answers[20:25])
    for step in range(25, 40):
        assert answers[step] == pytest.approx(exact_deviation(values[step - 4:step + 1]), rel=1e-14)


@pytest.mark.parametrize("name", ["ExponentialMovingAverage", "MovingAverageConvergenceDivergence",
                                  "RelativeStrengthIndex"])
def test_nan_after_warm_up_stays_until_reset(name):
    indicator = make(name)
    closes = walk(11, 100)
    stream(indicator, closes)
    stream(indicator, [NAN])
    assert all(math.isnan(v) for column in columns(name, stream(indicator, closes))
               for v in column)
    indicator.reset()
    assert repr(stream(indicator, closes)) == repr(stream(make(name), closes))


DIRECTIONAL = [row.name for row in CLASSIC if "Directional" in row.name]


@pytest.mark.parametrize("name", DIRECTIONAL)
@pytest.mark.parametrize("side", ["high", "low"])
def test_a_nan_high_or_low_makes_the_directional_classes_nan_until_reset(name, side):
    # TA-Lib reads a missing side as no movement and answers on.
    indicator, bars = make(name), bars_from(walk(11, 100))
    stream(indicator, bars)
    sides = {field: getattr(bars[-1], field)() for field in ("open", "high", "low", "close")}
    sides[side] = NAN
    after = stream(indicator, [Bar(*sides.values(), 1)] + bars)
    assert all(math.isnan(v) for v in after)
    indicator.reset()
    assert repr(stream(indicator, bars)) == repr(stream(make(name), bars))


@pytest.mark.parametrize("name", DIRECTIONAL + ["AbsolutePriceOscillator", "PercentagePriceOscillator",
                                                "ChandeMomentumOscillator", "Trix"])
@pytest.mark.parametrize("level", [0.0, 10.0])
def test_zero_divisors_answer_as_talib(talib, name, level):
    # Flat bars: no range, no movement, no change; at level 0 also a zero
    # average to divide by.
    row, flat = CLASSIC_BY_NAME[name], np.full(120, level)
    inputs = [Bar(level, level, level, level, 1)] * 120 if row.input == "bar" else flat.tolist()
    ours = stream(make(name), inputs)
    theirs = row.talib(talib, types.SimpleNamespace(high=flat, low=flat, close=flat), *row.configs[0])[0]
    assert [math.isnan(v) for v in ours] == [math.isnan(v) for v in theirs]
    assert [v for v in ours if not math.isnan(v)] == [v for v in theirs if not math.isnan(v)]


def test_rate_of_change_reads_nan_and_zero_references_only_where_they_are_read():
    rate = classic.RateOfChange(2)
    answers = stream(rate, [10.0, 0.0, 11.0, 5.0, NAN, 0.0, 6.0, 3.0])
    expected = [NAN, NAN, (11.0 / 10.0 - 1.0) * 100.0, math.inf, NAN, -100.0, NAN, math.inf]
    assert repr(answers) == repr(expected)


def test_relative_strength_index_of_no_movement_and_of_gains_only():
    assert stream(classic.RelativeStrengthIndex(3), [5.0] * 6)[3:] == [0.0, 0.0, 0.0]
    assert stream(classic.RelativeStrengthIndex(3), [1.0, 2.0, 3.0, 4.0, 5.0])[3:] == [100.0, 100.0]
    assert stream(classic.RelativeStrengthIndex(3), [5.0, 4.0, 3.0, 2.0])[3:] == [0.0]


def test_on_balance_volume_adds_subtracts_or_keeps_each_bit():
    """Against the rule as branches: totals of -0.0, NaN volumes of either
    sign, infinities meeting, equal and NaN closes."""
    one_nan = struct.unpack("<d", struct.pack("<Q", 0xFFF8000000000000))[0]
    rng = random.Random(3)
    pool = [0.0, -0.0, 1.0, -1.0, math.inf, -math.inf, NAN, -NAN, 2.5]
    def bar(close, volume):
        return types.SimpleNamespace(open=0.0, high=0.0, low=0.0, close=close, volume=volume)

    # A total of -0.0 first, which an equal and a NaN close must keep.
    candles = [bar(1.0, -0.0), bar(1.0, 5.0), bar(NAN, 5.0)]
    candles += [bar(rng.choice(pool[:4] + [NAN]), rng.choice(pool)) for _ in range(400)]
    total, previous, started, expected = 0.0, 0.0, False, []
    for bar in candles:
        volume = one_nan if math.isnan(bar.volume) else bar.volume
        if not started:
            started, total = True, volume
        elif bar.close > previous:
            total += volume
        elif bar.close < previous:
            total -= volume
        previous = bar.close
        expected.append(struct.pack("<d", total))
    obv = classic.OnBalanceVolume()
    assert [struct.pack("<d", obv.next(bar)) for bar in candles] == expected


def test_average_true_range_measures_gaps_from_the_previous_close():
    # The first bar only supplies a close; the gap up to 20 counts in full.
    bars = [Bar(10, 11, 9, 10, 1), Bar(10, 12, 10, 11, 1), Bar(20, 21, 19, 20, 1),
            Bar(20, 21, 19, 20, 1)]
    assert repr(stream(classic.AverageTrueRange(2), bars)) == repr([NAN, NAN, 6.0, 4.0])


@pytest.mark.parametrize("period", [1, 3])
def test_normalized_average_true_range_is_a_percentage_of_the_close_at_any_period(period):
    # TA-Lib's NATR with period 1 answers the true range itself.
    bars = bars_from(walk(15, 100))
    bars[50] = Bar(0.0, 1.0, 0.0, 0.0, 1)
    ranges = stream(classic.AverageTrueRange(period), bars)
    expected = [0.0 if bar.close() == 0.0 and not math.isnan(r) else r * (100.0 / bar.close())
                for r, bar in zip(ranges, bars)]
    assert repr(stream(classic.NormalizedAverageTrueRange(period), bars)) == repr(expected)


def test_average_directional_index_rating_of_one_bar_is_the_index():
    # TA-Lib refuses period 1; the rating over one bar averages the index with itself.
    bars = bars_from(walk(16, 100))
    assert repr(stream(classic.AverageDirectionalIndexRating(1), bars)) == \
        repr(stream(classic.AverageDirectionalIndex(1), bars))


def test_macd_feeds_its_fast_average_from_the_slow_average_seed_window():
    closes = walk(12, 40)
    macd = stream(classic.MovingAverageConvergenceDivergence(3, 6, 2), closes)
    fast = stream(classic.ExponentialMovingAverage(3), closes[3:])
    slow = stream(classic.ExponentialMovingAverage(6), closes)
    line = [f - s for f, s in zip(fast, slow[3:])]
    signal = stream(classic.ExponentialMovingAverage(2), line[2:])
    assert [m for m, _, _ in macd[6:]] == line[3:]
    assert [s for _, s, _ in macd[6:]] == signal[1:]
    assert [h for _, _, h in macd[6:]] == [m - s for m, s in zip(line[3:], signal[1:])]


# --------------------------------------------------------------------------
# The frame's rules, as for the module's classes.

def message_of(call, *args, **kwargs):
    with pytest.raises(BaseException) as caught:
        call(*args, **kwargs)
    assert len(caught.value.args) == 1
    return type(caught.value), str(caught.value)


@pytest.mark.parametrize("name", NAMES)
def test_class_shape(name):
    row = CLASSIC_BY_NAME[name]
    cls = row.cls
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("barworks.classic", name, name)
    shown = [p if default is None else f"{p}={default}" for p, default in row.parameters]
    assert cls.__doc__ == "" and cls.__text_signature__ == "(" + ", ".join(shown) + ")"
    assert [key for key in vars(cls) if not key.startswith("__")] == list(row.methods)
    assert cls.next.__text_signature__ == ("($self, x, y)" if row.input == "pair" else "($self, input)")
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    with pytest.raises(AttributeError):
        make(name).extra = 1


@pytest.mark.parametrize("name", NAMES)
def test_binding_errors(name):
    row = CLASSIC_BY_NAME[name]
    parameters, arguments, takes_bars = row.parameter_names, row.configs[0], row.input == "bar"
    cls = row.cls
    new = f"{name}.__new__()"
    count = len(parameters)
    quoted = [f"'{p}'" for p in parameters]
    listed = quoted[0] if count == 1 else ", ".join(quoted[:-1]) + ", and " + quoted[-1] if count else ""
    if not row.defaults and count:
        assert message_of(cls) == (
            TypeError,
            f"{new} missing {count} required positional argument{'s' * (count > 1)}: {listed}")
    assert message_of(cls, *arguments, 1) == (
        TypeError, f"{new} takes {count} positional arguments but {count + 1} "
        f"{'was' if count == 0 else 'were'} given")
    assert message_of(cls, size=3) == (TypeError, f"{new} got an unexpected keyword argument 'size'")
    if count:
        assert message_of(cls, *arguments, **{parameters[0]: 3}) == (
            TypeError, f"{new} got multiple values for argument '{parameters[0]}'")
    # The last period; a float parameter after it keeps its value.
    periods = [i for i, (_, default) in enumerate(row.parameters) if not isinstance(default, float)]
    if periods:
        at = periods[-1]
        with_period = lambda value: (*arguments[:at], value, *arguments[at + 1:])  # noqa: E731
        assert message_of(cls, *with_period(0)) == (ValueError, "Period cannot be 0.")
        assert message_of(cls, *with_period(2.0))[1].startswith(f"argument '{parameters[at]}': ")
        assert message_of(cls, *with_period(2**32)) == (
            OverflowError, "out of range integral type conversion attempted")
    elif count:
        assert message_of(cls, *arguments[:-1], "1")[1].startswith(f"argument '{parameters[-1]}': ")
    indicator = cls(**dict(zip(parameters, arguments)))
    run = f"{name}.next()"
    inputs = ("x", "y") if row.input == "pair" else ("input",)
    missing = " and ".join(f"'{p}'" for p in inputs)
    assert message_of(indicator.next) == (
        TypeError, f"{run} missing {len(inputs)} required positional argument{'s' * (len(inputs) > 1)}: {missing}")
    assert message_of(indicator.next, *[1.0] * (len(inputs) + 1)) == (
        TypeError, f"{run} takes {len(inputs)} positional arguments but {len(inputs) + 1} were given")
    assert message_of(indicator.next, z=1.0) == (
        TypeError, f"{run} got an unexpected keyword argument 'z'")
    if takes_bars:
        assert message_of(indicator.next, 1.0) == (
            TypeError, "argument 'input': expected a Bar or an object with numeric open, high, low, "
            "close and volume attributes, got 'float', which has no 'open'")
    else:
        assert message_of(indicator.next, *["1"] * len(inputs))[1].startswith(f"argument '{inputs[0]}': ")


@pytest.mark.parametrize("name, arguments, message", [
    ("MovingAverageConvergenceDivergence", (12, 12, 9), "Fast period must be less than slow period."),
    ("MovingAverageConvergenceDivergence", (26, 12, 9), "Fast period must be less than slow period."),
    ("MovingAverageConvergenceDivergence", (0, 12, 9), "Period cannot be 0."),
    # zero periods are refused before the order
    ("MovingAverageConvergenceDivergence", (26, 12, 0), "Period cannot be 0."),
    ("ChaikinOscillator", (10, 3), "Fast period must be less than slow period."),
    ("AbsolutePriceOscillator", (5, 5), "Fast period must be less than slow period."),
    ("PercentagePriceOscillator", (26, 12), "Fast period must be less than slow period."),
    ("PercentagePriceOscillator", (26, 0), "Period cannot be 0."),
])
def test_fast_periods_not_below_slow_ones_are_refused(name, arguments, message):
    assert message_of(getattr(classic, name), *arguments) == (ValueError, message)


@pytest.mark.parametrize("arguments, keywords, error", [
    ((5, 1.5), {}, (ValueError, "Volume factor must be between 0 and 1.")),
    ((5, -0.1), {}, (ValueError, "Volume factor must be between 0 and 1.")),
    ((), {"volume_factor": NAN}, (ValueError, "Volume factor must be between 0 and 1.")),
    ((0, 2.0), {}, (ValueError, "Period cannot be 0.")),  # the period is refused first
    ((5, "0.7"), {}, (TypeError, "argument 'volume_factor': must be real number, not str")),
])
def test_tillson_t3_refuses_a_volume_factor_outside_0_to_1(arguments, keywords, error):
    assert message_of(classic.TillsonT3, *arguments, **keywords) == error


def test_tillson_t3_defaults():
    values = walk(15, 100)
    assert repr(barworks.feed(classic.TillsonT3(), values).tolist()) == repr(
        barworks.feed(classic.TillsonT3(5, 0.7), values).tolist())


@pytest.mark.parametrize("arguments, message", [
    ((-0.01, 0.2), "Acceleration cannot be negative."),
    ((0.0, -0.2), "Maximum cannot be negative."),
    ((0.3, 0.2), "Acceleration must not be greater than maximum."),
    ((0.25,), "Acceleration must not be greater than maximum."),
    ((NAN, 0.2), "Acceleration must be a finite number."),
    ((0.02, math.inf), "Maximum must be a finite number."),
])
def test_parabolic_sar_refuses_nonsense_factors(arguments, message):
    assert message_of(classic.ParabolicSar, *arguments) == (ValueError, message)


def test_parabolic_sar_defaults_are_talibs():
    default, explicit = classic.ParabolicSar(), classic.ParabolicSar(0.02, 0.2)
    bars = bars_from(walk(14, 200))
    assert repr(stream(default, bars)) == repr(stream(explicit, bars))


MACD_PERIODS = [
    ((), {}, (12, 26, 9)),
    ((5,), {}, (5, 26, 9)),
    ((5, 30), {}, (5, 30, 9)),
    ((), {"signal_period": 4}, (12, 26, 4)),
    ((), {"slow_period": 40, "fast_period": 3}, (3, 40, 9)),
    ((8,), {"signal_period": 2}, (8, 26, 2)),
    ((True,), {}, (1, 26, 9)),  # an integer-like argument converts as before
]


@pytest.mark.parametrize("arguments, keywords, periods", MACD_PERIODS)
def test_macd_omitted_periods_take_their_defaults(arguments, keywords, periods):
    cls = classic.MovingAverageConvergenceDivergence
    values = walk(7, 120)
    assert barworks.lookback(cls(*arguments, **keywords)) == periods[1] - 1 + periods[2] - 1
    omitted = np.asarray(barworks.feed(cls(*arguments, **keywords), values))
    explicit = np.asarray(barworks.feed(cls(*periods), values))
    assert np.array_equal(omitted, explicit, equal_nan=True)


@pytest.mark.parametrize("arguments, keywords, error", [
    ((12, 26, 9, 1), {}, (TypeError, "MovingAverageConvergenceDivergence.__new__() takes 3 "
                                     "positional arguments but 4 were given")),
    ((), {"fast": 3}, (TypeError, "MovingAverageConvergenceDivergence.__new__() got an "
                                  "unexpected keyword argument 'fast'")),
    ((3,), {"fast_period": 4}, (TypeError, "MovingAverageConvergenceDivergence.__new__() got "
                                           "multiple values for argument 'fast_period'")),
    ((), {"slow_period": 12}, (ValueError, "Fast period must be less than slow period.")),
    ((30,), {}, (ValueError, "Fast period must be less than slow period.")),
    ((), {"signal_period": 0}, (ValueError, "Period cannot be 0.")),
    ((), {"slow_period": -1}, (OverflowError, "can't convert negative int to unsigned")),
    ((), {"signal_period": None}, (TypeError, "argument 'signal_period': 'NoneType' object cannot "
                                              "be interpreted as an integer")),
])
def test_macd_binding_errors_with_defaults(arguments, keywords, error):
    assert message_of(classic.MovingAverageConvergenceDivergence, *arguments, **keywords) == error


def test_module_macd_keeps_every_period_required():
    cls = _barworks.MovingAverageConvergenceDivergence
    assert cls.__text_signature__ == "(long_period, short_period, signal_period)"
    assert message_of(cls) == (
        TypeError, "MovingAverageConvergenceDivergence.__new__() missing 3 required positional "
                   "arguments: 'long_period', 'short_period', and 'signal_period'")
    assert message_of(cls, 26, 12) == (
        TypeError, "MovingAverageConvergenceDivergence.__new__() missing 1 required positional "
                   "argument: 'signal_period'")


class Reentrant:
    """A number whose conversion calls back into the indicator taking it."""

    def __init__(self, indicator):
        self.indicator = indicator

    def __float__(self):
        self.indicator.reset()
        return 1.0


@pytest.mark.parametrize("name", [row.name for row in CLASSIC if row.input != "bar"])
def test_reentrant_call_is_refused_and_leaves_state_unchanged(name):
    inputs = inputs_for(name, walk(13, 60))
    indicator = make(name)
    stream(indicator, inputs[:40])
    others = (1.0,) if CLASSIC_BY_NAME[name].input == "pair" else ()
    assert message_of(indicator.next, Reentrant(indicator), *others) == (RuntimeError, "Already borrowed")
    fresh = make(name)
    stream(fresh, inputs[:40])
    assert repr(stream(indicator, inputs[40:])) == repr(stream(fresh, inputs[40:]))


def test_average_true_range_reads_a_bar_held_by_nobody_else():
    indicator = classic.AverageTrueRange(1)
    bar = Bar(1.0, 2.0, 0.5, 1.5, 10)
    assert math.isnan(indicator.next(bar))
    assert indicator.next(input=bar) == 1.5


def test_faults_share_one_class_with_the_module():
    def fault_of(cls):
        with pytest.raises(BaseException) as caught:
            cls(268435456)
        return caught.value

    fault = fault_of(classic.StandardDeviation)
    assert str(fault) == "capacity overflow"
    assert type(fault) is type(fault_of(_barworks.StandardDeviation))
    assert not isinstance(fault, Exception)
