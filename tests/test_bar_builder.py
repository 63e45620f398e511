"""barworks.BarBuilder and barworks.resample: bars of fixed time buckets that
agree with pandas' OHLC resampling, the bulk equal to the streaming builder
bit for bit, fills, refusals that leave the builder as it was, chained time
frames, checkpoints, and the kinds of time and column taken."""

import copy
import datetime
import os
import pickle

import numpy as np
import pytest

import _barworks
import barworks
from barworks import BarBuilder, TimeBar, classic
from barworks.bars import duration_nanoseconds, timestamp_nanoseconds

SECOND = 10**9
MINUTE = 60 * SECOND


def peer(name):
    if os.environ.get("BARWORKS_PEERS") == "required":
        return __import__(name)
    return pytest.importorskip(name, reason=f"{name} lives in the peers' environment (make test)")


def trades(seed, count=4000):
    """A seeded stream: times 0 to 3 s apart, a tenth of them equal to the
    one before, jumps of up to ten hours, starting on either side of the
    epoch; a random walk of prices and fractional volumes."""
    rng = np.random.default_rng(seed)
    steps = rng.integers(0, 3 * SECOND, count)
    steps[rng.random(count) < 0.1] = 0
    jumps = rng.random(count) < 0.003
    steps[jumps] += rng.integers(MINUTE, 600 * MINUTE, jumps.sum())
    times = int(rng.integers(-2 * 3600, 2 * 3600)) * SECOND + np.cumsum(steps)
    prices = 100.0 + np.cumsum(rng.normal(0.0, 0.1, count))
    return times, prices, rng.exponential(3.0, count)


def streamed(builder, times, prices, volumes):
    """Every bar a builder gives for the trades, with a final flush."""
    bars = [bar for t, p, v in zip(times.tolist(), prices.tolist(), volumes.tolist())
            for bar in builder.add(t, p, v)]
    last = builder.flush()
    return bars + ([last] if last is not None else [])


def rows(columns):
    return [TimeBar(*row) for row in zip(*(column.tolist() for column in columns))]


def bits(bars):
    return [(bar.start,) + tuple(np.float64(field).tobytes() for field in bar[1:]) for bar in bars]


STREAMS = [pytest.param(seed, every, id=f"seed{seed}-{every}")
           for seed, every in [(1, "1min"), (2, "5min"), (3, "7s"), (4, "1h")]]


@pytest.mark.parametrize("seed, every", STREAMS)
def test_agrees_with_pandas(seed, every):
    pandas = pytest.importorskip("pandas")
    times, prices, volumes = trades(seed)
    index = pandas.DatetimeIndex(times.view("datetime64[ns]"))
    options = dict(origin="epoch", label="left", closed="left")
    expected = pandas.Series(prices, index).resample(every, **options).ohlc().dropna()
    expected["volume"] = pandas.Series(volumes, index).resample(every, **options).sum()
    bars = barworks.resample(index, pandas.Series(prices, index), volumes, every=every)
    pandas.testing.assert_frame_equal(bars[["open", "high", "low", "close"]],
                                      expected[["open", "high", "low", "close"]],
                                      check_exact=True, check_freq=False, check_names=False)
    # pandas sums with compensation, the builder in order: within rounding.
    np.testing.assert_allclose(bars["volume"], expected["volume"], rtol=1e-12)


@pytest.mark.parametrize("fill", ["none", "previous"])
@pytest.mark.parametrize("seed, every", STREAMS)
def test_bulk_is_the_streaming_builder_bit_for_bit(seed, every, fill):
    times, prices, volumes = trades(seed)
    bulk = barworks.resample(times, prices, volumes, every=every, origin=-37 * SECOND, fill=fill)
    stream = streamed(BarBuilder(every, origin=-37 * SECOND, fill=fill), times, prices, volumes)
    assert bits(rows(bulk)) == bits(stream)
    if fill == "previous":
        assert np.all(np.diff(bulk.start) == duration_nanoseconds(every))


def bar(start, open_, high, low, close, volume):
    return TimeBar(start * SECOND, open_, high, low, close, volume)


# Trades in seconds into minute buckets: what each add answers.
JUMP = [(5, 10.0, 1.0), (59, 12.0, 2.0), (30, 11.0, 0.5), (59, 9.0, 0.0), (200, 13.0, 1.0),
        (-61, 8.0, 1.0)]
FILLS = {
    "none": [[], [], [], [], [bar(0, 10.0, 12.0, 9.0, 9.0, 3.5)], ValueError],
    "previous": [[], [], [], [], [bar(0, 10.0, 12.0, 9.0, 9.0, 3.5), bar(60, 9.0, 9.0, 9.0, 9.0, 0.0),
                                  bar(120, 9.0, 9.0, 9.0, 9.0, 0.0)], ValueError],
}


@pytest.mark.parametrize("fill", FILLS)
def test_a_jump_completes_the_forming_bucket_and_fills_the_gap_if_asked(fill):
    builder = BarBuilder(60, fill=fill)
    for (second, price, volume), answer in zip(JUMP, FILLS[fill]):
        if answer is ValueError:
            with pytest.raises(ValueError):
                builder.add(second * SECOND, price, volume)
        else:
            assert builder.add(second * SECOND, price, volume) == answer
    assert builder.forming == bar(180, 13.0, 13.0, 13.0, 13.0, 1.0)
    assert builder.flush() == bar(180, 13.0, 13.0, 13.0, 13.0, 1.0)
    assert builder.forming is None and builder.flush() is None
    later = builder.add(301 * SECOND, 14.0)
    assert later == ([bar(240, 13.0, 13.0, 13.0, 13.0, 0.0)] if fill == "previous" else [])
    builder.reset()
    assert barworks.state(builder) == barworks.state(BarBuilder(60, fill=fill))


def test_times_before_the_origin_fall_in_buckets_of_their_own():
    builder = BarBuilder(60, origin=datetime.datetime(1970, 1, 1, 0, 0, 30))
    assert builder.add(-1, 1.0) == []
    assert builder.forming.start == -30 * SECOND
    assert barworks.resample([-1, 0, 29 * SECOND, 30 * SECOND], [1.0, 2.0, 3.0, 4.0],
                             every=60, origin=30 * SECOND).start.tolist() == [-30 * SECOND,
                                                                              30 * SECOND]


def made(*trades_, flushed=False):
    builder = BarBuilder(60)
    for trade in trades_:
        builder.add(*trade)
    if flushed:
        builder.flush()
    return builder


# A builder, the refused call, the message's part.
REFUSALS = [
    (made((90 * SECOND, 1.0)), lambda b: b.add(59 * SECOND, 2.0),
     r"1970-01-01T00:00:59Z \(59000000000\) is older than the bucket forming since "
     r"1970-01-01T00:01:00Z \(60000000000\)"),
    (made((90 * SECOND, 1.0)), lambda b: b.add(100 * SECOND, float("nan")), "NaN"),
    (made((90 * SECOND, 1.0)), lambda b: b.add(100 * SECOND, 1.0, float("nan")), "NaN"),
    (made((90 * SECOND, 1.0)),
     lambda b: b.add_bar(100 * SECOND, TimeBar(0, 1.0, float("nan"), 1.0, 1.0, 1.0)), "NaN"),
    (made((90 * SECOND, 1.0), flushed=True), lambda b: b.add(119 * SECOND, 1.0),
     "falls in or before the bucket starting at 1970-01-01T00:01:00Z .* which flush"),
    (made(), lambda b: b.add(-2**63, 1.0), "before the earliest time"),
]


@pytest.mark.parametrize("builder, call, message", REFUSALS)
def test_a_refused_piece_leaves_the_builder_as_it_was(builder, call, message):
    before = barworks.state(builder)
    with pytest.raises(ValueError, match=message):
        call(builder)
    assert barworks.state(builder) == before


def test_the_bulk_refuses_as_the_builder_does_naming_the_trade():
    with pytest.raises(ValueError, match=r"trade 2: .*\(59000000000\) is older than the bucket "):
        barworks.resample([61 * SECOND, 62 * SECOND, 59 * SECOND], [1.0, 2.0, 3.0], every=60)
    with pytest.raises(ValueError, match="trade 1: a NaN price"):
        barworks.resample([1, 2], [1.0, float("nan")], every=60)


def test_chained_builders_make_the_coarser_frame_of_the_trades():
    times, prices, volumes = trades(7, count=20_000)
    volumes = np.round(volumes * 100)  # whole volumes: sums exact in any order
    minutes, hours = BarBuilder("1min"), BarBuilder("1h")
    chained = [hourly for minute in streamed(minutes, times, prices, volumes)
               for hourly in hours.add_bar(minute.start, minute)]
    chained += [hours.flush()]
    assert bits(chained) == bits(rows(barworks.resample(times, prices, volumes, every="1h")))


def test_bars_feed_the_classic_bar_classes_and_peek_bar():
    builder = BarBuilder(60)
    builder.add(0, 10.0, 2**33 + 0.5)
    builder.add(1, 11.0, 0.25)
    flowing, candle = classic.OnBalanceVolume(), _barworks.Bar(10.0, 11.0, 10.0, 11.0, 0)
    assert barworks.peek_bar(flowing, builder.forming) == 2**33 + 0.75  # the volume, whole
    assert flowing.next(builder.flush()) == 2**33 + 0.75
    assert builder.add_bar(60 * SECOND, candle) == [] and builder.forming.open == 10.0


COPIES = {
    "state": lambda b: barworks.restore(barworks.state(b)),
    "pickle": lambda b: pickle.loads(pickle.dumps(b, protocol=pickle.HIGHEST_PROTOCOL)),
    "pickle0": lambda b: pickle.loads(pickle.dumps(b, protocol=0)),
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}


@pytest.mark.parametrize("moment", ["new", "forming", "flushed"])
@pytest.mark.parametrize("fill", ["none", "previous"])
@pytest.mark.parametrize("how", COPIES)
def test_a_copy_continues_bit_for_bit(how, fill, moment):
    times, prices, volumes = trades(9)
    builder = BarBuilder("1min", origin=np.datetime64("2000-01-01T00:00:13"), fill=fill)
    split = 0 if moment == "new" else 2500
    for t, p, v in zip(times[:split].tolist(), prices[:split].tolist(), volumes[:split].tolist()):
        builder.add(t, p, v)
    if moment == "flushed":
        end = builder.flush().start + MINUTE
        split = int(np.searchsorted(times, end))
    twin = COPIES[how](builder)
    assert type(twin) is BarBuilder and barworks.state(twin) == barworks.state(builder)
    rest = times[split:], prices[split:], volumes[split:]
    assert bits(streamed(twin, *rest)) == bits(streamed(builder, *rest))


def test_a_damaged_checkpoint_is_refused():
    stored = bytearray(barworks.state(made((90 * SECOND, 1.0))))
    with pytest.raises(ValueError, match="truncated"):
        barworks.restore(stored[:-1])
    stored[26:34] = (0).to_bytes(8, "little")  # every
    with pytest.raises(ValueError, match="every is at least one nanosecond"):
        barworks.restore(stored)


AWARE = datetime.timezone(datetime.timedelta(hours=2))
# Every kind of timestamp, and of duration, with its nanoseconds.
TIMESTAMPS = [
    (1_700_000_000_123_456_789, 1_700_000_000_123_456_789),
    (datetime.datetime(2024, 1, 2, 3, 4, 5, 6), 1_704_164_645_000_006_000),
    (datetime.datetime(2024, 1, 2, 5, 4, 5, 6, tzinfo=AWARE), 1_704_164_645_000_006_000),
    (datetime.datetime(1969, 12, 31, 23, 59, 59), -SECOND),
    (np.datetime64("2024-01-02T03:04:05.000006"), 1_704_164_645_000_006_000),
    (np.datetime64("1970-02", "M"), 31 * 86_400 * SECOND),
    (np.int64(-5), -5),
]
DURATIONS = [(300, 300 * SECOND), (0.25, SECOND // 4), ("5min", 5 * MINUTE), ("1h30min", 90 * MINUTE),
             ("1.5s", 3 * SECOND // 2), ("1D", 86_400 * SECOND), ("250ms", SECOND // 4),
             (datetime.timedelta(minutes=5), 5 * MINUTE), (np.timedelta64(7, "us"), 7000)]


@pytest.mark.parametrize("value, nanoseconds", TIMESTAMPS)
def test_timestamps_of_every_kind(value, nanoseconds):
    assert timestamp_nanoseconds(value) == nanoseconds


@pytest.mark.parametrize("value, nanoseconds", DURATIONS)
def test_durations_of_every_kind(value, nanoseconds):
    assert duration_nanoseconds(value) == nanoseconds


def test_pandas_times_and_offsets():
    pandas = pytest.importorskip("pandas")
    stamp = pandas.Timestamp("2024-01-02 05:04:05.000006001", tz="Europe/Berlin")
    assert timestamp_nanoseconds(stamp) == 1_704_164_645_000_006_001 + 3600 * SECOND
    assert duration_nanoseconds(pandas.Timedelta(1)) == 1
    assert duration_nanoseconds(pandas.offsets.Minute(5)) == 5 * MINUTE
    with pytest.raises(ValueError, match="calendar offset"):
        BarBuilder(pandas.offsets.MonthEnd())


# Constructor and add arguments that are refused, and the message's part.
REFUSED_ARGUMENTS = [
    (lambda: BarBuilder("1M"), ValueError, "'1M' is not a fixed duration"),
    (lambda: BarBuilder("W"), ValueError, "calendar offsets"),
    (lambda: BarBuilder("5"), ValueError, "not a duration such as"),
    (lambda: BarBuilder(0), ValueError, "from one nanosecond"),
    (lambda: BarBuilder(-60), ValueError, "from one nanosecond"),
    (lambda: BarBuilder(1e-10), ValueError, "from one nanosecond"),
    (lambda: BarBuilder(float("inf")), ValueError, "not a duration"),
    (lambda: BarBuilder("0.5ns"), ValueError, "whole number of nanoseconds"),
    (lambda: BarBuilder(np.timedelta64(1, "M")), ValueError, "calendar length"),
    (lambda: BarBuilder(True), TypeError, "not 'bool'"),
    (lambda: BarBuilder(60, 0), TypeError, "positional"),
    (lambda: BarBuilder(60, origin=1.5), TypeError, "argument 'origin': expected int"),
    (lambda: BarBuilder(60, origin=2**63), ValueError, "argument 'origin': .* outside"),
    (lambda: BarBuilder(60, fill="forward"), ValueError, "'none' or 'previous'"),
    (lambda: BarBuilder(60).add(1.5, 1.0), TypeError, "argument 'timestamp': expected int"),
    (lambda: BarBuilder(60).add(np.datetime64("NaT"), 1.0), ValueError, "NaT"),
    (lambda: BarBuilder(60).add(0, "1"), TypeError, "price"),
    (lambda: BarBuilder(60).add(0, 1.0, volume=None), TypeError, "volume"),
    (lambda: BarBuilder(60).add_bar(0, 1.0), TypeError, "bar"),
    (lambda: barworks.resample([0, 1], [1.0], every=60), ValueError, "same length"),
    (lambda: barworks.resample([0.5], [1.0], every=60), TypeError, "not float64"),
    (lambda: barworks.resample([0, 1], np.ones((2, 2)), every=60), TypeError, "one column"),
    (lambda: barworks.resample(np.array(["NaT"], "datetime64[s]"), [1.0], every=60),
     ValueError, "NaT at position 0"),
]


@pytest.mark.parametrize("call, error, message", REFUSED_ARGUMENTS)
def test_refused_arguments(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_pandas_in_pandas_out():
    pandas = pytest.importorskip("pandas")
    index = pandas.date_range("2024-03-31 00:59", periods=4, freq="20s", tz="Europe/Berlin")
    prices = pandas.Series([1.0, 3.0, 2.0, 4.0], index)
    bars = barworks.resample(index, prices, every="1min")
    assert list(bars.columns) == ["open", "high", "low", "close", "volume"]
    assert list(bars.index) == [pandas.Timestamp("2024-03-31 00:59", tz="Europe/Berlin"),
                                pandas.Timestamp("2024-03-31 01:00", tz="Europe/Berlin")]
    assert bars["high"].tolist() == [3.0, 4.0]
    with pytest.raises(ValueError, match="indexes differ"):
        barworks.resample(index, prices.reset_index(drop=True), every="1min")


def test_polars_in_polars_out():
    polars = peer("polars")
    times = polars.Series("time", [0, 20, 40, 60]).cast(polars.Datetime("us", "UTC"))
    bars = barworks.resample(times, polars.Series("price", [1.0, 3.0, 2.0, 4.0]), every="30us")
    assert bars.columns == ["start", "open", "high", "low", "close", "volume"]
    assert bars["start"].dtype == polars.Datetime("ns", "UTC")
    assert bars["start"].dt.epoch("ns").to_list() == [0, 30_000, 60_000]
    assert bars["close"].to_list() == [3.0, 2.0, 4.0]
    with pytest.raises(ValueError, match="null"):
        barworks.resample(times, polars.Series([1.0, None, 2.0, 3.0]), every=1)
