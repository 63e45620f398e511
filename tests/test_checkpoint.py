"""Checkpoints: barworks.state / barworks.restore, pickle and copy.

A restored object must answer bit for bit as the original does from the
checkpoint on, and a stored form that is cut, padded or out of range must be
refused with ValueError before anything is built."""

import copy
import json
import math
import pickle
import random
import struct
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import _barworks
import barworks
from classes import BY_NAME, CLASSES, CLASSIC, CLASSIC_BY_NAME, SAMPLES_ONLY, STREAMS
from helpers import RESET, random_stream

NAMES = [row.name for row in CLASSES]
STREAMED = [row.name for row in STREAMS]


def make(name):
    return BY_NAME[name].make()

TESTS = str(Path(__file__).resolve().parent)


def run_python(code):
    """Runs `code` in a fresh interpreter like this one (-P: the source tree
    is never imported in place of the build)."""
    return subprocess.run([sys.executable, "-P", "-c", textwrap.dedent(code)],
                          capture_output=True, text=True, timeout=120)

BAR_FED = {row.name for row in STREAMS + CLASSIC if row.input == "bar"}
PAIR_FED = {row.name for row in CLASSIC if row.input == "pair"}
PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


def as_inputs(name, value):
    """The arguments of next made of one value."""
    if name in BAR_FED:
        return (_barworks.Bar(value, value + 1.5, value - 0.5, value + 0.25, 7),)
    return (value, 2.0 - 0.5 * value) if name in PAIR_FED else (value,)


def bits(answer):
    """An answer as bytes, so that comparisons are bit for bit (NaN too)."""
    if isinstance(answer, tuple):
        return b"".join(struct.pack("<d", value) for value in answer)
    if isinstance(answer, float):
        return struct.pack("<d", answer)
    return int(answer).to_bytes(1)


def run(obj, name, items):
    answers = []
    for item in items:
        if item is RESET:
            obj.reset()
        else:
            answers.append(bits(obj.next(*as_inputs(name, item))))
    return answers


def stream(name, seed):
    return random_stream(hash((name, seed)) & 0xFFFF, length=120, reset_share=0.04,
                         special_share=0.06)


# ---------------------------------------------------------------------------
# Round trips.

RESTORERS = {
    "state": lambda obj, protocol: barworks.restore(barworks.state(obj)),
    "pickle": lambda obj, protocol: pickle.loads(pickle.dumps(obj, protocol)),
    "copy": lambda obj, protocol: copy.copy(obj),
    "deepcopy": lambda obj, protocol: copy.deepcopy(obj),
}
WAYS = [("state", None), ("copy", None), ("deepcopy", None)] + [
    ("pickle", protocol) for protocol in PROTOCOLS]


@pytest.mark.parametrize("name", STREAMED)
@pytest.mark.parametrize("way,protocol", WAYS)
def test_restored_object_continues_bit_for_bit(name, way, protocol):
    for seed in range(3):
        items = stream(name, seed)
        cut = len(items) * (seed + 1) // 4
        original = make(name)
        run(original, name, items[:cut])
        restored = RESTORERS[way](original, protocol)
        assert type(restored) is type(original)
        assert restored is not original
        assert barworks.state(restored) == barworks.state(original)
        assert run(restored, name, items[cut:]) == run(original, name, items[cut:])


@pytest.mark.parametrize("name", STREAMED)
def test_copies_are_independent(name):
    items = stream(name, 7)
    original, twin = make(name), make(name)
    run(original, name, items[:40])
    run(twin, name, items[:40])
    for duplicate in (copy.copy(original), copy.deepcopy(original)):
        run(duplicate, name, items[40:])
    # The copies' inputs reached neither the original nor its windows.
    assert run(original, name, items[40:]) == run(twin, name, items[40:])


def test_copy_of_composite_inside_container_is_deep():
    averages = [_barworks.SimpleMovingAverage(3), _barworks.MovingAverageConvergenceDivergence(5, 3, 2)]
    for obj in averages:
        obj.next(1.0)
    copied = copy.deepcopy({"a": averages, "b": averages})
    assert copied["a"] is copied["b"]
    assert copied["a"][0] is not averages[0]
    copied["a"][0].next(100.0)
    assert averages[0].next(1.0) == 1.0


def test_reset_state_survives_restore():
    # Minimum keeps its write slot and remembered slot through reset; a
    # restored copy must put the next input in the same slot.
    minimum = _barworks.Minimum(4)
    for x in (5.0, 1.0, 7.0):
        minimum.next(x)
    minimum.reset()
    restored = barworks.restore(barworks.state(minimum))
    for x in (9.0, 8.0, 3.0, 6.0, 2.0):
        assert restored.next(x) == minimum.next(x)
        assert restored.find_min_index() == minimum.find_min_index()


def test_bar_pickles_by_its_fields():
    bar = _barworks.Bar(1.5, float("inf"), float("-inf"), -0.0, 4294967295)
    for protocol in PROTOCOLS:
        copied = pickle.loads(pickle.dumps(bar, protocol))
        assert [bits(copied.open()), bits(copied.high()), bits(copied.low()),
                bits(copied.close()), copied.volume()] == [
            bits(1.5), bits(float("inf")), bits(float("-inf")), bits(-0.0), 4294967295]
    assert pickle.loads(pickle.dumps(_barworks.Bar(float("nan"), 0, 0, 0, 0))).open() != 0


@pytest.mark.parametrize("signal", ["BUY", "SELL", "HOLD"])
def test_signal_pickles_and_copies_to_its_own_code(signal):
    original = _barworks.SimpleMovingAverageCrossover(1, 2).next(1.0) if signal == "HOLD" else \
        getattr(_barworks.Signal, signal)
    for protocol in PROTOCOLS:
        assert pickle.loads(pickle.dumps(original, protocol)) == original
    assert copy.copy(original) == original
    assert copy.deepcopy(original) == original
    assert barworks.restore(barworks.state(original)) == original


def test_classes_keep_exactly_their_methods():
    for row in CLASSES:
        own = {key for key, value in vars(row.cls).items() if callable(value) and not key.startswith("__")}
        assert own == {method for method, _ in row.methods}, row.name


# ---------------------------------------------------------------------------
# Access.

class CallsBack:
    """A number whose conversion runs `action` while `next` holds its object."""

    def __init__(self, action):
        self.action = action

    def __float__(self):
        self.action()
        return 1.0


def test_state_of_borrowed_object_is_refused():
    average = _barworks.SimpleMovingAverage(3)
    caught = []

    def dump():
        with pytest.raises(RuntimeError) as error:
            barworks.state(average)
        caught.append(str(error.value))

    average.next(CallsBack(dump))
    assert caught == ["Already mutably borrowed"]
    # A failed dump leaves the object usable and the pickle path refuses too.
    average.next(CallsBack(lambda: pytest.raises(RuntimeError, pickle.dumps, average)))
    assert barworks.restore(barworks.state(average)).next(1.0) == average.next(1.0)


def test_state_of_a_bar_being_read_is_allowed():
    # A bar is read under shared access, which a dump shares.
    bar = _barworks.Bar(1.0, 2.0, 0.5, 1.5, 3)
    assert barworks.restore(barworks.state(bar)).close() == 1.5


@pytest.mark.parametrize("name", ["SimpleMovingAverage", "Bar", "TrueRange"])
def test_never_built_instance_is_refused(name):
    # An instance made by object.__new__ holds no record to store.
    result = run_python(f"""
        import pickle, sys
        sys.path.insert(0, {TESTS!r})
        import _barworks, barworks
        from classes import BY_NAME
        cls = _barworks.{name}
        cls.__new__ = staticmethod(lambda cls, *a, **k: object.__new__(cls))
        hollow = cls(*BY_NAME[{name!r}].sample)
        for dump in (barworks.state, pickle.dumps):
            try:
                dump(hollow)
            except TypeError as error:
                assert str(error) == "{name} object was not initialized by its constructor", error
            else:
                raise AssertionError("a never-built instance was stored")
        print("ok")
        """)
    assert result.returncode == 0 and result.stdout == "ok\n", result.stderr


@pytest.mark.parametrize("obj", [1.0, "SimpleMovingAverage", None, _barworks.SimpleMovingAverage,
                                 object()])
def test_state_takes_only_barworks_objects(obj):
    with pytest.raises(TypeError, match="state\\(\\) takes a barworks object, not"):
        barworks.state(obj)


@pytest.mark.parametrize("data", ["BWCK", 5, None, [66, 87]])
def test_restore_takes_only_bytes_like(data):
    with pytest.raises(TypeError):
        barworks.restore(data)


def test_restore_accepts_any_buffer():
    data = barworks.state(make("SharpeRatio"))
    for form in (bytearray(data), memoryview(data)):
        assert barworks.state(barworks.restore(form)) == data


# ---------------------------------------------------------------------------
# The stored form.

# Field layout of each class, as documented: (path, struct code); "W" is a
# window, a 4-byte length then that many doubles.
EMA = [("period", "I"), ("current", "d"), ("first", "B")]
WINDOW = [("period", "I"), ("index", "I"), ("count", "I"), ("values", "W")]


def within(prefix, fields):
    return [(f"{prefix}.{path}", code) for path, code in fields]


SMA = within("window", WINDOW) + [("sum", "d")]
SD = within("window", WINDOW) + [("sum", "d"), ("sum_sq", "d")]
EXTREMUM = [("period", "I"), ("extreme_index", "I"), ("index", "I"), ("values", "W")]
TRUE_RANGE = [("has_previous", "B"), ("previous_close", "d")]
LAYOUTS = {
    "Bar": [("open", "d"), ("high", "d"), ("low", "d"), ("close", "d"), ("volume", "I")],
    "Signal": [("code", "B")],
    "AverageTrueRange": within("range", TRUE_RANGE) + within("average", EMA),
    "ExponentialMovingAverage": EMA,
    "Maximum": EXTREMUM,
    "Minimum": EXTREMUM,
    "MovingAverageConvergenceDivergence": within("long_average", EMA) + within(
        "short_average", EMA) + within("signal_average", EMA),
    "RateOfChange": within("window", WINDOW),
    "RelativeStrengthIndex": within("changes", WINDOW) + [("previous", "d")],
    "SharpeRatio": within("average", SMA) + within("deviation", SD) + [("rf", "d"),
                                                                      ("steps", "I")],
    "SimpleMovingAverage": SMA,
    "StandardDeviation": SD,
    "TrueRange": TRUE_RANGE,
    "ExponentialMovingAverageCrossover": within("short_average", EMA) + within("long_average", EMA),
    "SimpleMovingAverageCrossover": within("short_average", SMA) + within("long_average", SMA),
}


VERSION = 2
# Fields of classes whose layout an earlier format version had otherwise.
FORMER_LAYOUTS = {1: {}}


def header(name, version=VERSION):
    return b"BWCK" + struct.pack("<HB", version, len(name)) + name.encode()


def decode(data):
    """The stored form as {path: value}, windows as lists, read by the
    documented layout; every byte must be accounted for."""
    name = data[7:7 + data[6]].decode()
    at = 7 + len(name)
    fields = {}
    for path, code in LAYOUTS[name]:
        if code == "W":
            (length,) = struct.unpack_from("<I", data, at)
            fields[path] = list(struct.unpack_from(f"<{length}d", data, at + 4))
            at += 4 + 8 * length
        else:
            (fields[path],) = struct.unpack_from("<" + code, data, at)
            at += struct.calcsize(code)
    assert at == len(data)
    return name, fields


def encode(name, fields, version=VERSION):
    body = b""
    for path, code in FORMER_LAYOUTS.get(version, {}).get(name, LAYOUTS[name]):
        value = fields[path]
        if code == "W":
            body += struct.pack(f"<I{len(value)}d", len(value), *value)
        else:
            body += struct.pack("<" + code, value)
    return header(name, version) + body


def sample(name, args=None, inputs=5):
    obj = getattr(_barworks, name)(*(BY_NAME[name].sample if args is None else args))
    if name in STREAMED:
        for i in range(inputs):
            obj.next(*as_inputs(name, 1.0 + i * 0.5))
    return obj


@pytest.mark.parametrize("name", NAMES)
def test_stored_form_follows_the_documented_layout(name):
    obj = sample(name) if name != "Signal" else _barworks.Signal.SELL
    data = barworks.state(obj)
    assert data.startswith(header(name))
    decoded_name, fields = decode(data)
    assert encode(decoded_name, fields) == data


def test_stored_values():
    average = _barworks.SimpleMovingAverage(3)
    for x in (1.0, 2.0):
        average.next(x)
    assert decode(barworks.state(average))[1] == {
        "window.period": 3, "window.index": 2, "window.count": 2,
        "window.values": [1.0, 2.0, 0.0], "sum": 3.0}
    bar = decode(barworks.state(_barworks.Bar(1.0, 2.0, 0.5, 1.5, 9)))[1]
    assert bar == {"open": 1.0, "high": 2.0, "low": 0.5, "close": 1.5, "volume": 9}


# Sizes of the sample objects of classes.py: header (7 bytes and the name)
# then the fields. A field added to a record without its list changes none of
# these; one added to its list changes its class's size here.
SIZES = {
    "Bar": 7 + 3 + 36,
    "Signal": 7 + 6 + 1,
    "AverageTrueRange": 7 + 16 + 9 + 13,
    "ExponentialMovingAverage": 7 + 24 + 13,
    "Maximum": 7 + 7 + 16 + 24,
    "Minimum": 7 + 7 + 16 + 24,
    "MovingAverageConvergenceDivergence": 7 + 34 + 3 * 13,
    "RateOfChange": 7 + 12 + 16 + 24,
    "RelativeStrengthIndex": 7 + 21 + 16 + 24 + 8,
    "SharpeRatio": 7 + 11 + (16 + 24 + 8) + (16 + 24 + 16) + 12,
    "SimpleMovingAverage": 7 + 19 + 16 + 24 + 8,
    "StandardDeviation": 7 + 17 + 16 + 24 + 16,
    "TrueRange": 7 + 9 + 9,
    "ExponentialMovingAverageCrossover": 7 + 33 + 2 * 13,
    "SimpleMovingAverageCrossover": 7 + 28 + (16 + 16 + 8) + (16 + 40 + 8),
}


@pytest.mark.parametrize("name", NAMES)
def test_stored_size(name):
    obj = sample(name) if name != "Signal" else _barworks.Signal.BUY
    assert len(barworks.state(obj)) == SIZES[name]


# ---------------------------------------------------------------------------
# Hostile stored forms.

def refuses(data, message):
    with pytest.raises(ValueError) as error:
        barworks.restore(data)
    assert message in str(error.value), str(error.value)


@pytest.mark.parametrize("name", NAMES)
def test_truncated_at_every_length(name):
    data = barworks.state(sample(name) if name != "Signal" else _barworks.Signal.HOLD)
    for length in range(len(data)):
        with pytest.raises(ValueError):
            barworks.restore(data[:length])
    for extra in (b"\0", b"\0" * 8, data):
        refuses(data + extra, "after its last field")


# (class, constructor arguments, field, value, words of the message)
OUT_OF_RANGE = [
    ("SimpleMovingAverage", (3,), "window.period", 0, "window.period is 0"),
    ("SimpleMovingAverage", (3,), "window.period", 268435456, "window limit"),
    ("SimpleMovingAverage", (3,), "window.period", 2**32 - 1, "window limit"),
    ("SimpleMovingAverage", (3,), "window.period", 4, "holds 3 values for a period of 4"),
    ("SimpleMovingAverage", (3,), "window.index", 3, "window.index is 3; it must be at most 2"),
    ("SimpleMovingAverage", (3,), "window.index", 2**32 - 1, "window.index"),
    ("SimpleMovingAverage", (3,), "window.count", 4, "count must not pass the period"),
    ("SimpleMovingAverage", (3,), "window.count", 5, "window.count is 5"),
    ("SimpleMovingAverage", (5,), "window.count", 4,
     "SimpleMovingAverage checkpoint: window: the write slot must equal the count"),
    ("SimpleMovingAverage", (5,), "window.index", 0, "write slot must equal the count"),
    ("StandardDeviation", (3,), "window.count", 4, "count must not pass the period"),
    ("RelativeStrengthIndex", (3,), "changes.count", 4, "count must not pass the period"),
    ("RelativeStrengthIndex", (3,), "changes.period", 0, "changes.period is 0"),
    ("RateOfChange", (3,), "window.count", 5, "window.count is 5; it must be at most 4"),
    ("RateOfChange", (3,), "window.index", 7, "window.index is 7"),
    ("Minimum", (3,), "period", 0, "period is 0"),
    ("Minimum", (3,), "period", 268435456, "window limit"),
    ("Minimum", (3,), "extreme_index", 3, "extreme_index is 3"),
    ("Maximum", (3,), "index", 3, "index is 3"),
    ("Maximum", (3,), "period", 4, "values holds 3 values for a period of 4"),
    ("ExponentialMovingAverage", (3,), "period", 0, "period is 0"),
    ("ExponentialMovingAverage", (3,), "first", 2, "first is 2; it must be from 0 to 1"),
    ("ExponentialMovingAverage", (3,), "first", 255, "first is 255"),
    ("MovingAverageConvergenceDivergence", (26, 12, 9), "signal_average.period", 0,
     "signal_average.period is 0"),
    ("MovingAverageConvergenceDivergence", (26, 12, 9), "short_average.first", 3,
     "short_average.first is 3"),
    ("TrueRange", (), "has_previous", 2, "has_previous is 2"),
    ("AverageTrueRange", (3,), "range.has_previous", 9, "range.has_previous is 9"),
    ("AverageTrueRange", (3,), "average.period", 0, "average.period is 0"),
    ("SharpeRatio", (3, 0.01), "deviation.window.index", 1,
     "SharpeRatio checkpoint: the average and the deviation must cover the same window"),
    ("SharpeRatio", (4, 0.01), "steps", 2, "step counter capped at the period"),
    ("SharpeRatio", (3, 0.01), "deviation.window.count", 4,
     "SharpeRatio checkpoint: deviation: the count must not pass the period"),
    ("ExponentialMovingAverageCrossover", (2, 5), "short_average.period", 5,
     "short period must be less than the long period"),
    ("ExponentialMovingAverageCrossover", (2, 5), "long_average.period", 1,
     "short period must be less than the long period"),
    ("SimpleMovingAverageCrossover", (2, 5), "long_average.window.index", 5,
     "long_average.window.index is 5"),
    ("Signal", None, "code", 3, "code is 3; it must be from 0 to 2"),
]


@pytest.mark.parametrize("name,args,path,value,message", OUT_OF_RANGE,
                         ids=[f"{row[0]}-{row[2]}={row[3]}" for row in OUT_OF_RANGE])
def test_field_out_of_range_is_refused(name, args, path, value, message):
    obj = _barworks.Signal.BUY if name == "Signal" else sample(name, args, inputs=3)
    _, fields = decode(barworks.state(obj))
    fields[path] = value
    refuses(encode(name, fields), message)


def test_largest_valid_values_are_accepted():
    # The edges of each bound load: the last slot, a count one past the period
    # for the rate of change, the largest period without a window.
    _, fields = decode(barworks.state(sample("RateOfChange", (3,), inputs=4)))
    assert fields["window.count"] == 4
    assert barworks.restore(encode("RateOfChange", fields)).period() == 3
    _, fields = decode(barworks.state(_barworks.ExponentialMovingAverage(2)))
    fields["period"] = 2**32 - 1
    restored = barworks.restore(encode("ExponentialMovingAverage", fields))
    assert restored.period() == 2**32 - 1
    assert decode(barworks.state(restored))[1] == fields


def test_alpha_is_recomputed_from_the_period():
    # The smoothing factor is not stored: a period rewritten in a checkpoint
    # smooths as a fresh object of that period does.
    _, fields = decode(barworks.state(_barworks.ExponentialMovingAverage(3)))
    fields["period"] = 10
    restored = barworks.restore(encode("ExponentialMovingAverage", fields))
    fresh = _barworks.ExponentialMovingAverage(10)
    assert [restored.next(x) for x in (1.0, 5.0, 2.0)] == [fresh.next(x) for x in (1.0, 5.0, 2.0)]


@pytest.mark.parametrize("data,message", [
    (b"", "not a barworks checkpoint"),
    (b"BWC", "not a barworks checkpoint"),
    (b"XWCK\x01\x00\x03Bar", "not a barworks checkpoint"),
    (header("Bar", version=3) + bytes(36),
     "format version 3 is not supported (this build reads versions 1 to 2)"),
    (header("Bar", version=0) + bytes(36), "format version 0 is not supported"),
    (header("Foo") + bytes(36), "unknown class 'Foo'"),
    (header("Bar\n") + bytes(36), "unknown class (a 4-byte name)"),
    (header("") + bytes(36), "unknown class (a 0-byte name)"),
    (b"BWCK\x01\x00\x09Bar", "truncated inside its class name"),
    (header("Bar"), "Bar checkpoint: open is cut short"),
])
def test_bad_header_is_refused(data, message):
    refuses(data, message)


def test_huge_window_claim_is_refused_without_allocating():
    # A period just below the limit with its window missing: refused from
    # its length alone.
    refuses(header("Minimum") + struct.pack("<IIII", 268435455, 0, 0, 268435455),
            "Minimum checkpoint: values is cut short")


def assert_corruptions_refused_or_exact(data, rng):
    """A few bytes of a stored form changed, 300 times: each result is either
    refused or an object whose own checkpoint is exactly the corrupted string."""
    for _ in range(300):
        corrupted = bytearray(data)
        for _ in range(rng.randint(1, 3)):
            corrupted[rng.randrange(len(data))] = rng.randrange(256)
        try:
            restored = barworks.restore(bytes(corrupted))
        except ValueError:
            continue
        # Read as version 1, whose fields are those of version 2 outside
        # the classic deviation, it is stored back as version 2.
        corrupted[4:6] = struct.pack("<H", VERSION)
        assert barworks.state(restored) == bytes(corrupted)


@pytest.mark.parametrize("name", STREAMED)
def test_corrupted_bytes_are_refused_or_restored_exactly(name):
    # Any byte of a stored form changed: the result is either refused or an
    # object whose own checkpoint is exactly the corrupted string.
    rng = random.Random(name)
    data = barworks.state(sample(name))
    assert_corruptions_refused_or_exact(data, rng)


def test_garbage_is_refused():
    rng = random.Random(12)
    for length in range(0, 200, 7):
        with pytest.raises(ValueError):
            barworks.restore(bytes(rng.randrange(256) for _ in range(length)))



# ---------------------------------------------------------------------------
# barworks.classic: stored under module-qualified names, with rules that a
# stored form must describe a state that feeding can reach.

from barworks import classic  # noqa: E402

CLASSIC_PREFIX = "barworks.classic."
# Constructor arguments per class: its rows' short ones, where every kind
# of state (filling, sliding, recomputing, wrapping) is reached within a
# short stream.
# Three at most, so that the tests' cost grows with the classes and not with
# their rows' lengths.
CLASSIC_ARGS = {row.name: [args for args in row.configs if max(args) <= 6][:1 if SAMPLES_ONLY else 3]
                for row in CLASSIC}
CLASSIC_CASES = [(name, args) for name, argument_lists in CLASSIC_ARGS.items()
                 for args in argument_lists]
CLASSIC_IDS = [f"{name}{args}" for name, args in CLASSIC_CASES]
# Every case by its stored form; every way (pickle of each protocol, copy,
# deepcopy) on each class's first case, since the ways differ only in the
# wrappers around the same stored form.
CLASSIC_WAYS = [(name, args, way, protocol) for name, args in CLASSIC_CASES
                for way, protocol in (WAYS if args == CLASSIC_ARGS[name][0] else WAYS[:1])]

WILDER = [("period", "I"), ("average", "d"), ("count", "I")]
CLASSIC_EMA = [("period", "I"), ("current", "d"), ("count", "I")]
LAYOUTS.update({
    CLASSIC_PREFIX + "AverageTrueRange": within("range", TRUE_RANGE) + within("average", WILDER),
    CLASSIC_PREFIX + "ExponentialMovingAverage": CLASSIC_EMA,
    CLASSIC_PREFIX + "MovingAverageConvergenceDivergence": within("fast_average", CLASSIC_EMA)
    + within("slow_average", CLASSIC_EMA) + within("signal_average", CLASSIC_EMA),
    CLASSIC_PREFIX + "RateOfChange": within("window", WINDOW),
    CLASSIC_PREFIX + "RelativeStrengthIndex": within("gains", WILDER) + within("losses", WILDER)
    + [("previous", "d"), ("has_previous", "B")],
    CLASSIC_PREFIX + "StandardDeviation": within("window", WINDOW) + [
        ("mean", "d"), ("squares", "d"), ("reference", "d"), ("peak", "d"), ("equal_run", "I"),
        ("since_exact", "I")],
})
LAYOUTS.update({CLASSIC_PREFIX + row.name: list(row.layout) for row in CLASSIC if row.layout})
FORMER_LAYOUTS[1][CLASSIC_PREFIX + "StandardDeviation"] = within("window", WINDOW) + [
    ("mean", "d"), ("squares", "d"), ("peak", "d"), ("equal_run", "I"), ("since_exact", "I")]


def classic_stream(name, seed):
    """Leading NaNs (skipped by every class while it waits for a number),
    then a random stream with NaN, infinities and resets, and runs of equal
    values long enough for a standard deviation to read exactly 0."""
    items = [math.nan, math.nan] + random_stream(hash((name, seed)) & 0xFFFF, length=150,
                                                 reset_share=0.03, special_share=0.06)
    for at in (40, 100):
        items[at:at] = [items[at - 1] if isinstance(items[at - 1], float) else 2.5] * 8
    return items


def classic_run(obj, name, items):
    return run(obj, name, items)


@pytest.mark.parametrize("name,args", CLASSIC_CASES, ids=CLASSIC_IDS)
def test_classic_every_reachable_state_restores(name, args):
    # A checkpoint taken at any step loads, stores back to the same bytes and
    # answers the next input as the original does: the loader's rules refuse
    # no state that feeding reaches.
    for seed in range(2):
        original = getattr(classic, name)(*args)
        for item in classic_stream(name, seed):
            data = barworks.state(original)
            restored = barworks.restore(data)
            assert type(restored) is type(original)
            assert barworks.state(restored) == data
            if item is RESET:
                original.reset()
                restored.reset()
            else:
                assert bits(restored.next(*as_inputs(name, item))) == bits(
                    original.next(*as_inputs(name, item)))


@pytest.mark.parametrize("name,args,way,protocol", CLASSIC_WAYS,
                         ids=[f"{n}{a}-{w}{p if p is not None else ''}" for n, a, w, p in CLASSIC_WAYS])
def test_classic_restored_object_continues_bit_for_bit(name, args, way, protocol):
    for seed in range(3):
        items = classic_stream(name, seed)
        cut = len(items) * (seed + 1) // 4
        original = getattr(classic, name)(*args)
        run(original, name, items[:cut])
        restored = RESTORERS[way](original, protocol)
        assert type(restored) is type(original)
        assert restored is not original
        assert barworks.state(restored) == barworks.state(original)
        assert run(restored, name, items[cut:]) == run(original, name, items[cut:])
        assert barworks.state(restored) == barworks.state(original)


@pytest.mark.parametrize("name", list(CLASSIC_ARGS))
def test_classic_copies_are_independent(name):
    items = classic_stream(name, 5)
    args = CLASSIC_ARGS[name][-1]
    original, twin = getattr(classic, name)(*args), getattr(classic, name)(*args)
    run(original, name, items[:60])
    run(twin, name, items[:60])
    for duplicate in (copy.copy(original), copy.deepcopy(original),
                      pickle.loads(pickle.dumps(original))):
        run(duplicate, name, items[60:])
    assert run(original, name, items[60:]) == run(twin, name, items[60:])


@pytest.mark.parametrize("name", [name for name in CLASSIC_ARGS if name in BY_NAME])
def test_classic_and_module_classes_are_told_apart(name):
    obj = getattr(classic, name)(*CLASSIC_ARGS[name][-1])
    data = barworks.state(obj)
    assert data.startswith(header(CLASSIC_PREFIX + name))
    assert type(barworks.restore(data)) is getattr(classic, name)
    module_obj = BY_NAME[name].make()
    assert type(barworks.restore(barworks.state(module_obj))) is getattr(_barworks, name)
    # The same fields under the module's name are read by the module's list:
    # refused where they do not fit it, and where they do (a rate of change
    # is a window in both) they make the module's class, never the classic.
    fields = data[7 + len(CLASSIC_PREFIX + name):]
    if name == "RateOfChange":
        assert type(barworks.restore(header(name) + fields)) is _barworks.RateOfChange
    else:
        with pytest.raises(ValueError):
            barworks.restore(header(name) + fields)
    refuses(header("barworks.classic.Minimum") + fields,
            "unknown class 'barworks.classic.Minimum'")


def classic_sample(name, args, inputs=5):
    obj = getattr(classic, name)(*args)
    for i in range(inputs):
        obj.next(*as_inputs(name, 1.0 + i * 0.5))
    return obj


# Sizes of each class at its constructor's defaults or a 14/20 period:
# header (7 bytes and the qualified name) then the fields.
CLASSIC_SIZES = {
    ("AverageTrueRange", (14,)): 7 + 33 + 9 + 16,
    ("ExponentialMovingAverage", (20,)): 7 + 41 + 16,
    ("MovingAverageConvergenceDivergence", (12, 26, 9)): 7 + 51 + 3 * 16,
    ("RateOfChange", (10,)): 7 + 29 + 16 + 8 * 10,
    ("RelativeStrengthIndex", (14,)): 7 + 38 + 2 * 16 + 9,
    ("StandardDeviation", (20,)): 7 + 34 + 16 + 8 * 20 + 32 + 8,
}


@pytest.mark.parametrize("name,args", list(CLASSIC_SIZES), ids=[f"{n}{a}" for n, a in CLASSIC_SIZES])
def test_classic_stored_form_follows_the_documented_layout(name, args):
    data = barworks.state(classic_sample(name, args, inputs=30))
    assert len(data) == CLASSIC_SIZES[name, args]
    decoded_name, fields = decode(data)
    assert decoded_name == CLASSIC_PREFIX + name
    assert encode(decoded_name, fields) == data


@pytest.mark.parametrize("name,args", CLASSIC_CASES, ids=CLASSIC_IDS)
def test_classic_truncated_at_every_length(name, args):
    data = barworks.state(classic_sample(name, args))
    for length in range(len(data)):
        with pytest.raises(ValueError):
            barworks.restore(data[:length])
    for extra in (b"\0", b"\0" * 8, data):
        refuses(data + extra, "after its last field")


# (class, constructor arguments, inputs fed, field, value, words of the message)
CLASSIC_OUT_OF_RANGE = [
    ("ExponentialMovingAverage", (3,), 1, "period", 0, "period is 0"),
    ("ExponentialMovingAverage", (3,), 1, "count", 4, "count is 4; it must be at most 3"),
    ("ExponentialMovingAverage", (3,), 1, "count", 2**32 - 1, "count is 4294967295"),
    ("ExponentialMovingAverage", (3,), 0, "current", 1.0, "running sum must be 0"),
    ("ExponentialMovingAverage", (3,), 1, "count", 0, "running sum must be 0"),
    ("AverageTrueRange", (3,), 2, "range.has_previous", 2, "range.has_previous is 2"),
    ("AverageTrueRange", (3,), 2, "average.period", 0, "average.period is 0"),
    ("AverageTrueRange", (3,), 2, "average.count", 4, "average.count is 4"),
    ("AverageTrueRange", (3,), 2, "range.has_previous", 0,
     "AverageTrueRange checkpoint: nothing may be averaged before the first bar's close"),
    ("AverageTrueRange", (3,), 0, "average.average", 2.0,
     "average: the running sum must be 0 before the first value"),
    ("RelativeStrengthIndex", (3,), 3, "gains.period", 4,
     "the gains and the losses must be averaged over the same period and count"),
    ("RelativeStrengthIndex", (3,), 3, "losses.count", 1,
     "the gains and the losses must be averaged over the same period and count"),
    ("RelativeStrengthIndex", (3,), 3, "losses.count", 4, "losses.count is 4"),
    ("RelativeStrengthIndex", (3,), 3, "gains.period", 0, "gains.period is 0"),
    ("RelativeStrengthIndex", (3,), 3, "has_previous", 2, "has_previous is 2"),
    ("RelativeStrengthIndex", (3,), 3, "has_previous", 0,
     "nothing may be averaged or remembered before the first input"),
    ("RelativeStrengthIndex", (3,), 0, "previous", 5.0,
     "nothing may be averaged or remembered before the first input"),
    ("MovingAverageConvergenceDivergence", (3, 6, 2), 0, "fast_average.period", 6,
     "MovingAverageConvergenceDivergence checkpoint: the fast period must be less than the slow"),
    ("MovingAverageConvergenceDivergence", (3, 6, 2), 0, "slow_average.period", 2,
     "the fast period must be less than the slow period"),
    ("MovingAverageConvergenceDivergence", (3, 6, 2), 0, "signal_average.period", 0,
     "signal_average.period is 0"),
    ("MovingAverageConvergenceDivergence", (3, 6, 2), 4, "fast_average.count", 2,
     "fast average must not have taken inputs the slow one has not passed on"),
    ("MovingAverageConvergenceDivergence", (3, 6, 2), 5, "signal_average.count", 1,
     "signal average must not have taken inputs before the slow one is seeded"),
    ("MovingAverageConvergenceDivergence", (3, 6, 2), 6, "slow_average.count", 7,
     "slow_average.count is 7"),
    ("RateOfChange", (3,), 3, "window.count", 4, "count must not pass the period"),
    ("RateOfChange", (3,), 3, "window.index", 3, "window.index is 3"),
    ("RateOfChange", (3,), 3, "window.period", 4, "holds 3 values for a period of 4"),
    ("RateOfChange", (3,), 2, "window.index", 0, "write slot must equal the count"),
    ("StandardDeviation", (3,), 3, "window.count", 4, "count must not pass the period"),
    ("StandardDeviation", (3,), 3, "window.period", 0, "window.period is 0"),
    ("StandardDeviation", (3,), 0, "mean", 1.0, "must be 0 before the first input"),
    ("StandardDeviation", (3,), 0, "equal_run", 1, "must be 0 before the first input"),
    ("StandardDeviation", (3,), 0, "reference", 1.0, "must be 0 before the first input"),
    ("StandardDeviation", (3,), 5, "equal_run", 4, "no input before the window's"),
    ("StandardDeviation", (3,), 3, "equal_run", 0, "the run of equal inputs must count"),
    ("StandardDeviation", (5,), 2, "equal_run", 3, "the run of equal inputs must count"),
    ("StandardDeviation", (6,), 8, "since_exact", 64, "slides since the last exact computation"),
    ("StandardDeviation", (6,), 3, "since_exact", 1, "none while the window fills"),
]


@pytest.mark.parametrize("name,args,inputs,path,value,message", CLASSIC_OUT_OF_RANGE,
                         ids=[f"{row[0]}-{row[3]}={row[4]}@{row[2]}" for row in CLASSIC_OUT_OF_RANGE])
def test_classic_field_out_of_range_is_refused(name, args, inputs, path, value, message):
    data = barworks.state(classic_sample(name, args, inputs))
    stored_name, fields = decode(data)
    assert fields[path] != value, "the case must change the field"
    fields[path] = value
    with pytest.raises(ValueError) as error:
        barworks.restore(encode(stored_name, fields))
    assert str(error.value).startswith(stored_name + " checkpoint: ")
    assert message in str(error.value), str(error.value)


def test_classic_derived_fields_are_recomputed():
    # The smoothing factor follows the stored period; the standard
    # deviation's previous input and its count of non-finite inputs follow
    # the stored window.
    _, fields = decode(barworks.state(classic.ExponentialMovingAverage(3)))
    fields["period"] = 5
    restored = barworks.restore(encode(CLASSIC_PREFIX + "ExponentialMovingAverage", fields))
    fresh = classic.ExponentialMovingAverage(5)
    inputs = [1.0, 5.0, 2.0, 8.0, 3.0, 4.0, 9.0]
    assert [bits(restored.next(x)) for x in inputs] == [bits(fresh.next(x)) for x in inputs]

    deviation = classic.StandardDeviation(3)
    for x in (1.0, 2.0, math.nan):
        deviation.next(x)
    _, fields = decode(barworks.state(deviation))
    fields["window.values"] = [7.0, 7.0, 7.0]
    restored = barworks.restore(encode(CLASSIC_PREFIX + "StandardDeviation", fields))
    # No NaN is left in the window, and the last input reads 7.0: one more
    # 7.0 makes a run that is not yet the window's length.
    assert not math.isnan(restored.next(7.0))


def test_classic_largest_period_without_a_window_loads():
    _, fields = decode(barworks.state(classic.RelativeStrengthIndex(2)))
    fields["gains.period"] = fields["losses.period"] = 2**32 - 1
    restored = barworks.restore(encode(CLASSIC_PREFIX + "RelativeStrengthIndex", fields))
    assert restored.period() == 2**32 - 1
    assert math.isnan(restored.next(1.0)) and math.isnan(restored.next(2.0))


@pytest.mark.parametrize("name", list(CLASSIC_ARGS))
def test_classic_corrupted_bytes_are_refused_or_restored_exactly(name):
    rng = random.Random(name)
    data = barworks.state(classic_sample(name, CLASSIC_ARGS[name][-1], inputs=9))
    assert_corruptions_refused_or_exact(data, rng)


def test_classic_state_of_borrowed_object_is_refused():
    rate = classic.RateOfChange(2)
    caught = []

    def dump():
        with pytest.raises(RuntimeError) as error:
            pickle.dumps(rate)
        caught.append(str(error.value))

    rate.next(CallsBack(dump))
    assert caught == ["Already mutably borrowed"]


def test_classic_classes_keep_exactly_their_methods():
    for row in CLASSIC:
        own = {key for key, value in vars(row.cls).items()
               if callable(value) and not key.startswith("__")}
        assert own == set(row.methods), row.name


# ---------------------------------------------------------------------------
# Stored forms written by earlier releases keep loading: each fixture is a
# checkpoint as that release stored it, with the inputs that follow and the
# answers that release gave to them.

FIXTURES = Path(TESTS) / "checkpoints"
STORED = [(version.stem, entry) for version in sorted(FIXTURES.glob("v*.json"))
          for entry in json.loads(version.read_text())]
# Classes whose arithmetic was since made more exact: their answers are
# held to the exact ones instead of the old bits.
MADE_EXACT = {"classic.StandardDeviation"}


def fixture_input(name, item):
    if isinstance(item, list):
        return _barworks.Bar(*map(float.fromhex, item[:4]), item[4])
    return float.fromhex(item)


def fixture_bits(answer):
    """An answer as the fixtures hold it, every NaN alike: which NaN an
    operation gives is no part of a stored state's promise."""
    if isinstance(answer, (tuple, list)):
        return [fixture_bits(value) for value in answer]
    if isinstance(answer, str):
        answer = struct.unpack("<d", bytes.fromhex(answer))[0]
    if isinstance(answer, float):
        return "nan" if math.isnan(answer) else struct.pack("<d", answer).hex()
    return int(answer)


@pytest.mark.parametrize("version,entry", STORED,
                         ids=[f"{v}-{e['class']}{tuple(e['arguments'])}-{e['case']}" for v, e in STORED])
def test_stored_forms_of_earlier_releases_keep_loading(version, entry):
    name = entry["class"]
    obj = barworks.restore(bytes.fromhex(entry["state"]))
    assert type(obj).__name__ == name.rpartition(".")[2]
    inputs = [fixture_input(name, item) for item in entry["inputs"]]
    answers = [fixture_bits(obj.next(item)) for item in inputs]
    if name not in MADE_EXACT:
        assert answers == fixture_bits(entry["answers"])
        return
    # The old answers were within 1e-10 of the exact ones; the new ones are
    # closer still, NaN where they were NaN.
    for got, want in zip(answers, entry["answers"]):
        got_value, want_value = (math.nan if x == "nan" else struct.unpack("<d", bytes.fromhex(x))[0]
                                 for x in (got, want))
        assert math.isnan(got_value) == math.isnan(want_value)
        assert got_value == pytest.approx(want_value, rel=1e-9, abs=1e-12, nan_ok=True)


# ---------------------------------------------------------------------------
# Counters at their limits: every count a loader bounds, at the largest value
# it accepts, stores and restores; a counter that feeding can carry past
# that value (and wrap) is a fault.

U32_MAX = 2**32 - 1


def largest_count(name, path, fields):
    prefix, _, leaf = path.rpartition(".")
    if leaf in ("steps", "volume"):
        return U32_MAX
    candidates = (f"{prefix}.period" if prefix else "period", f"{prefix}.xs.period",
                  f"{prefix}.window.period", "window.period")
    period = next(fields[key] for key in candidates if key in fields)
    since_exact = max(period, 64) - 1 if name == CLASSIC_PREFIX + "StandardDeviation" else period - 1
    return {"index": period - 1, "extreme_index": period - 1, "since_exact": since_exact,
            "count": period + (name == "RateOfChange"), "equal_run": period, "run_x": period,
            "run_y": period}[leaf]


@pytest.mark.parametrize("name", NAMES + [CLASSIC_PREFIX + name for name in CLASSIC_ARGS])
def test_counters_at_their_limits_store_and_restore(name):
    if name.startswith(CLASSIC_PREFIX):
        short = name.removeprefix(CLASSIC_PREFIX)
        obj = classic_sample(short, CLASSIC_ARGS[short][-1], inputs=40)
    else:
        obj = _barworks.Signal.BUY if name == "Signal" else sample(name, inputs=40)
    _, fields = decode(barworks.state(obj))
    for path, code in LAYOUTS[name]:
        if code == "I" and not path.endswith("period"):
            fields[path] = largest_count(name, path, fields)
    data = encode(name, fields)
    assert barworks.state(barworks.restore(data)) == data


def test_classic_deviation_of_version_1_loads_with_any_run_of_equal_inputs():
    # Version 1 let the run grow without bound (and wrap at 2^32); a loaded
    # run counts at most the window, as the run now saturates there.
    deviation = classic.StandardDeviation(3)
    for _ in range(10):
        deviation.next(2.5)
    assert decode(barworks.state(deviation))[1]["equal_run"] == 3
    name = CLASSIC_PREFIX + "StandardDeviation"
    for run, loaded in [(U32_MAX, 3), (2**31, 3), (1, 1)]:
        fields = {"window.period": 3, "window.index": 1, "window.count": 3,
                  "window.values": [2.5] * 3, "mean": 2.5, "squares": 0.0, "peak": 0.0,
                  "equal_run": run, "since_exact": 0}
        restored = barworks.restore(encode(name, fields, version=1))
        assert decode(barworks.state(restored))[1]["equal_run"] == loaded
        assert restored.next(2.5) == 0.0
