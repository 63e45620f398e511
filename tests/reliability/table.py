"""One row per class: what the reliability tests need to drive it.

A row names the class, its constructor parameters with their kinds, small
valid constructor arguments, the class's own checks on converted arguments,
what `next` takes and gives, and its accessors with the access each takes.
The arithmetic itself comes from the class's model in models.py. A new
class needs a row here and a model there; the stateful, thread, leak and
soak checks then cover it.
"""

import math
import struct
from dataclasses import dataclass, field
from typing import Callable

from hypothesis import strategies as st

import _barworks
from hostile import F64, PANIC, U32, Refusal, plain_floats, small_periods
from models import MODELS

EXCLUSIVE, SHARED = "exclusive", "shared"
# A window of this many doubles or more is refused as an internal fault.
WINDOW_LIMIT = 268435456

PERIOD_ZERO = Refusal(ValueError, "Period cannot be 0.")
CAPACITY = Refusal(PANIC, "capacity overflow")
SHORT_NOT_BELOW_LONG = Refusal(ValueError, "Short period must be less than long period.")


def windows(*periods):
    """The checks of records that allocate one window per period, in order."""
    for period in periods:
        if period == 0:
            return PERIOD_ZERO
        if period >= WINDOW_LIMIT:
            return CAPACITY
    return None


def nonzero(*periods):
    """The checks of records without windows."""
    return PERIOD_ZERO if 0 in periods else None


def crossover(checks):
    def refusal(short_period, long_period):
        if short_period >= long_period:
            return SHORT_NOT_BELOW_LONG
        return checks(short_period, long_period)

    return refusal


def period_of(model, arguments):
    return arguments[0]


def scanned_slot(model, arguments):
    return model.scan()


def ordered_pair():
    return st.tuples(small_periods(), st.integers(1, 40)).map(lambda p: (p[0], p[0] + p[1]))


@dataclass(frozen=True)
class Row:
    name: str
    parameters: tuple  # ((name, kind), ...)
    arguments: st.SearchStrategy  # small valid constructor arguments
    refusal: Callable  # the class's own checks: converted arguments -> Refusal or None
    input: str | None = "float"  # what next takes: "float", "bar", or None (no next)
    result: str = "float"  # what next gives: "float", "triple" or "signal"
    accessors: tuple = ()  # (method, access, expected(model, arguments))
    model: Callable = field(default=None)

    @property
    def cls(self):
        return getattr(_barworks, self.name)

    def new_model(self, arguments):
        return (self.model or MODELS[self.name])(*arguments)

    def __repr__(self):
        return self.name


PERIOD = (("period", U32),)
PERIOD_ACCESSOR = (("period", EXCLUSIVE, period_of),)
BAR_FIELDS = ("open", "high", "low", "close", "volume")

ROWS = [
    Row("Bar", tuple((name, F64) for name in BAR_FIELDS[:4]) + (("volume", U32),),
        st.tuples(plain_floats(), plain_floats(), plain_floats(), plain_floats(),
                  st.integers(0, 2**32 - 1)),
        lambda *values: None, input=None,
        accessors=tuple((name, SHARED, lambda model, arguments, i=i: arguments[i])
                        for i, name in enumerate(BAR_FIELDS)),
        model=lambda *values: None),
    Row("AverageTrueRange", PERIOD, st.tuples(small_periods()), nonzero, input="bar",
        accessors=PERIOD_ACCESSOR),
    Row("ExponentialMovingAverage", PERIOD, st.tuples(small_periods()), nonzero,
        accessors=PERIOD_ACCESSOR),
    Row("Maximum", PERIOD, st.tuples(small_periods()), windows,
        accessors=PERIOD_ACCESSOR + (("find_max_index", SHARED, scanned_slot),)),
    Row("Minimum", PERIOD, st.tuples(small_periods()), windows,
        accessors=PERIOD_ACCESSOR + (("find_min_index", SHARED, scanned_slot),)),
    Row("MovingAverageConvergenceDivergence",
        (("long_period", U32), ("short_period", U32), ("signal_period", U32)),
        st.tuples(small_periods(), small_periods(), small_periods()), nonzero, result="triple"),
    Row("RateOfChange", PERIOD, st.tuples(small_periods()), windows, accessors=PERIOD_ACCESSOR),
    Row("RelativeStrengthIndex", PERIOD, st.tuples(small_periods()), windows,
        accessors=PERIOD_ACCESSOR),
    Row("SharpeRatio", (("period", U32), ("rf", F64)), st.tuples(small_periods(), plain_floats()),
        lambda period, rf: windows(period), accessors=PERIOD_ACCESSOR),
    Row("SimpleMovingAverage", PERIOD, st.tuples(small_periods()), windows,
        accessors=PERIOD_ACCESSOR),
    Row("StandardDeviation", PERIOD, st.tuples(small_periods()), windows,
        accessors=PERIOD_ACCESSOR),
    Row("TrueRange", (), st.just(()), lambda: None, input="bar"),
    Row("ExponentialMovingAverageCrossover", (("short_period", U32), ("long_period", U32)),
        ordered_pair(), crossover(nonzero), result="signal"),
    Row("SimpleMovingAverageCrossover", (("short_period", U32), ("long_period", U32)),
        ordered_pair(), crossover(windows), result="signal"),
]
BY_NAME = {row.name: row for row in ROWS}
STREAMS = [row for row in ROWS if row.input is not None]
FLOAT_STREAMS = [row for row in STREAMS if row.input == "float"]


def same_float(a, b):
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return struct.pack("<d", a) == struct.pack("<d", b)


def same_result(row, got, want):
    """Whether `got`, from the module, is the model's `want`, bit for bit."""
    if row.result == "float":
        return type(got) is float and same_float(got, want)
    if row.result == "triple":
        return (type(got) is tuple and len(got) == 3 and all(type(x) is float for x in got)
                and all(map(same_float, got, want)))
    return type(got) is _barworks.Signal and int(got) == want


def same_accessor(got, want):
    if isinstance(want, float):
        return type(got) is float and same_float(got, want)
    return type(got) is int and got == want


def model_input(row, value):
    """The arguments the model's next takes for a converted input."""
    return value if row.input == "bar" else (value,)
