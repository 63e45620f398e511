"""Random streams and bit-for-bit comparisons shared by the batch and peek
tests: every class driven through the companion must give what a loop of
its own `next` gives, and be left in the same state."""

import math
import random
import struct

import _barworks as bw
import barworks
from barworks import classic
from classes import CLASSIC, SAMPLES_ONLY, STREAMS

# The classic classes are named "classic.<Class>" in these tables.
BAR_FED = ({row.name for row in STREAMS if row.input == "bar"}
           | {f"classic.{row.name}" for row in CLASSIC if row.input == "bar"})
PAIR_FED = {f"classic.{row.name}" for row in CLASSIC if row.input == "pair"}
STRATEGIES = {row.name for row in STREAMS if row.result == "signal"}
# Classes that answer tuples, by their width.
TUPLE_WIDTHS = ({row.name: 3 for row in STREAMS if row.result == "triple"}
                | {f"classic.{row.name}": {"triple": 3, "pair": 2}[row.result]
                   for row in CLASSIC if row.result in ("triple", "pair")})
GIVES_TRIPLES = set(TUPLE_WIDTHS)

# Each classic class with three arguments of its row: its sample, the
# shortest window and the longest, where warm-up, slides, exact
# recomputations and the wrap-around all occur; so that the tests' cost
# grows with the classes and not with their rows' lengths.
def _three(configs):
    longest = lambda arguments: max(arguments, default=0)  # noqa: E731
    chosen = [configs[0]] if SAMPLES_ONLY else [configs[0], min(configs, key=longest), max(configs, key=longest)]
    return list(dict.fromkeys(chosen))


CLASSIC_CONFIGS = [(f"classic.{row.name}", arguments) for row in CLASSIC
                   for arguments in _three(row.configs)]

# Every streamed class with the table's arguments, plus the shortest and
# some longer windows, where warm-up and wrap-around differ.
CONFIGS = [(row.name, row.sample) for row in STREAMS] + [
    ("SimpleMovingAverage", (1,)),
    ("StandardDeviation", (8,)),
    ("Minimum", (1,)),
    ("Maximum", (7,)),
    ("RateOfChange", (1,)),
    ("RelativeStrengthIndex", (14,)),
    ("SharpeRatio", (1, 0.0)),
    ("MovingAverageConvergenceDivergence", (3, 5, 2)),
    ("AverageTrueRange", (1,)),
    ("SimpleMovingAverageCrossover", (3, 20)),
] + CLASSIC_CONFIGS
CONFIG_IDS = [f"{name}{arguments}" for name, arguments in CONFIGS]

# NaN of both signs and with a payload: a batch that reads its columns as
# they are must still answer and keep the one NaN a loop of next does.
SPECIALS = [float("nan"), -float("nan"), struct.unpack("<d", struct.pack("<Q", 0x7FF8000000000123))[0],
            float("inf"), float("-inf"), -0.0, 0.0]


def make(name, arguments):
    module, _, cls = name.rpartition(".")
    return getattr(classic if module else bw, cls)(*arguments)


def values(rng, count, specials=0.08):
    """Prices on a random walk with NaN, infinities, signed zeros and repeats."""
    price, out = 100.0, []
    for _ in range(count):
        roll = rng.random()
        if roll < specials:
            out.append(rng.choice(SPECIALS))
        elif roll < specials + 0.05 and out:
            out.append(out[-1])  # ties for the extremes
        else:
            price += rng.gauss(0.0, 1.0)
            out.append(price)
    return out


def bars(rng, count, specials=0.08):
    """Bars whose high, low and close come from such streams."""
    mids, spreads, closes = values(rng, count, specials), values(rng, count, specials / 4), values(rng, count, specials)
    return [bw.Bar(m, m + abs(s) % 3, m - abs(s) % 2, c, 1) for m, s, c in zip(mids, spreads, closes)]


def inputs_for(name, rng, count, specials=0.08):
    if name in PAIR_FED:
        return list(zip(values(rng, count, specials), values(rng, count, specials)))
    return bars(rng, count, specials) if name in BAR_FED else values(rng, count, specials)


def step(obj, x):
    """next of one input: a value, a Bar, or an (x, y) pair."""
    return obj.next(*x) if isinstance(x, tuple) else obj.next(x)


def bits(answer):
    """A next() answer as exact bits: floats by their encoding, a NaN by its
    sign (the records make every NaN one and the same, so that a batch run
    and a loop of next agree whichever operand of a NaN sum the compiler put
    first), MACD by its three floats, a Signal by its code."""
    if isinstance(answer, tuple):
        return tuple(bits(part) for part in answer)
    if isinstance(answer, float):
        return ("nan", math.copysign(1.0, answer)) if math.isnan(answer) else struct.pack("<d", answer)
    return int(answer)


def row_bits(array, i):
    row = array[i]
    if getattr(row, "ndim", 0) == 1:
        return tuple(bits(float(part)) for part in row)
    return bits(float(row)) if array.dtype.kind == "f" else int(row)


def array_bits(array):
    return [row_bits(array, i) for i in range(len(array))]


def loop(obj, inputs):
    return [bits(step(obj, x)) for x in inputs]


def assert_same_state(obj, twin, name, seed=7):
    """Equal state: the stored forms are equal byte for byte, the accessors
    agree, and both give the same answers to the same further inputs (long
    enough to cross any window)."""
    assert barworks.state(obj) == barworks.state(twin)
    for accessor in ("period", "find_min_index", "find_max_index"):
        if hasattr(obj, accessor):
            assert getattr(obj, accessor)() == getattr(twin, accessor)(), accessor
    further = inputs_for(name, random.Random(seed), 40)
    assert loop(obj, further) == loop(twin, further)
