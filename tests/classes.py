"""Every class in one table, in registration order: the one place a class is
listed for the tests.

A row names the class, its constructor parameters with their kinds (None
when it has no constructor), valid sample arguments and a strategy of small
valid ones, the class's own checks on converted arguments with a few
arguments they refuse, its methods with the access each takes, what `next`
takes and gives, and its model. Tests over all classes (shape, binding,
refusals, models, the stateful, thread, leak and soak checks) are driven by
these rows; a new class needs a row here and a model in models.py.
"""

import importlib
from dataclasses import dataclass, field
from typing import Callable

from hypothesis import strategies as st

import _barworks
import models
from helpers import same_float
from hostile import F64, PANIC, U32, U32_MAX, Refusal, plain_floats, small_periods

EXCLUSIVE, SHARED = "exclusive", "shared"
# A window of this many doubles or more is refused as an internal fault.
WINDOW_LIMIT = 268435456

PERIOD_ZERO = Refusal(ValueError, "Period cannot be 0.")
CAPACITY = Refusal(PANIC, "capacity overflow")
SHORT_NOT_BELOW_LONG = Refusal(ValueError, "Short period must be less than long period.")

SAMPLE_BAR = _barworks.Bar(10.0, 11.0, 9.0, 10.5, 100)


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


def accepts_all(*arguments):
    return None


def period_of(model, arguments):
    return arguments[0]


def scanned_slot(model, arguments):
    return model.scan()


def ordered_pair():
    return st.tuples(small_periods(), st.integers(1, 40)).map(lambda p: (p[0], p[0] + p[1]))


@dataclass(frozen=True)
class Row:
    name: str
    parameters: tuple | None  # ((name, kind), ...); None: no constructor
    sample: tuple = ()  # valid constructor arguments
    arguments: st.SearchStrategy = None  # small valid constructor arguments
    refusal: Callable = accepts_all  # the class's own checks: converted arguments -> Refusal or None
    refused: tuple = ()  # constructor arguments the class's own checks refuse
    methods: tuple = ()  # own methods in definition order, with the access each takes
    input: str | None = "float"  # what next takes: "float", "bar", or None (no next)
    result: str = "float"  # what next gives: "float", "triple" or "signal"
    accessors: tuple = ()  # (method, access, expected(model, arguments))
    model: Callable = field(default=None)  # converted constructor arguments -> model; None: a Twin
    module: str = "_barworks"  # imported when first used: the companion may not be built
    defaults: tuple = ()  # values of the trailing parameters a caller may omit

    @property
    def cls(self):
        return getattr(importlib.import_module(self.module), self.name)

    @property
    def label(self):
        return self.name if self.module == "_barworks" else f"classic.{self.name}"

    @property
    def parameter_names(self):
        return tuple(name for name, _ in self.parameters)

    @property
    def sample_input(self):
        return {"float": 1.0, "bar": SAMPLE_BAR, None: None}[self.input]

    def make(self):
        return self.cls(*self.sample)

    def new_model(self, arguments):
        return Twin(self.cls, arguments) if self.model is None else self.model(*arguments)

    def __repr__(self):
        return self.label


class Twin:
    """The model of a class that has no Python one: a second object of the
    class, given only plain converted inputs."""

    def __init__(self, cls, arguments):
        self.native = cls(*arguments)

    def next(self, *value):
        return self.native.next(_barworks.Bar(0.0, *value, 0) if len(value) == 3 else value[0])

    def reset(self):
        self.native.reset()


PERIOD = (("period", U32),)
PERIOD_ACCESSOR = (("period", EXCLUSIVE, period_of),)
STREAM_METHODS = (("next", EXCLUSIVE), ("reset", EXCLUSIVE))
PERIOD_METHODS = (("period", EXCLUSIVE),) + STREAM_METHODS
WINDOW_REFUSED = ((0,), (WINDOW_LIMIT,), (U32_MAX,))
CROSSOVER_REFUSED = ((0, 0), (5, 5), (3, 2), (U32_MAX, 1), (0, 3), (0, U32_MAX))
BAR_FIELDS = ("open", "high", "low", "close", "volume")


def windowed(name, accessor=None, **extra):
    """A class of one period that keeps a window of that many values."""
    methods = PERIOD_METHODS + ((accessor, SHARED),) if accessor else PERIOD_METHODS
    accessors = PERIOD_ACCESSOR + ((accessor, SHARED, scanned_slot),) if accessor else PERIOD_ACCESSOR
    return Row(name, PERIOD, (3,), st.tuples(small_periods()), windows, WINDOW_REFUSED,
               methods, accessors=accessors, **extra)


CLASSES = [
    Row("Bar", tuple((name, F64) for name in BAR_FIELDS[:4]) + (("volume", U32),),
        (1.0, 2.0, 0.5, 1.5, 10),
        st.tuples(plain_floats(), plain_floats(), plain_floats(), plain_floats(),
                  st.integers(0, 2**32 - 1)),
        methods=tuple((name, SHARED) for name in BAR_FIELDS), input=None,
        accessors=tuple((name, SHARED, lambda model, arguments, i=i: arguments[i])
                        for i, name in enumerate(BAR_FIELDS)),
        model=lambda *values: None),
    Row("Signal", None, input=None),
    Row("AverageTrueRange", PERIOD, (3,), st.tuples(small_periods()), nonzero, ((0,),),
        PERIOD_METHODS, input="bar", accessors=PERIOD_ACCESSOR,
        model=models.AverageTrueRangeModel),
    Row("ExponentialMovingAverage", PERIOD, (3,), st.tuples(small_periods()), nonzero, ((0,),),
        PERIOD_METHODS, accessors=PERIOD_ACCESSOR, model=models.ExponentialAverageModel),
    windowed("Maximum", "find_max_index", model=models.highest_model),
    windowed("Minimum", "find_min_index", model=models.lowest_model),
    Row("MovingAverageConvergenceDivergence",
        (("long_period", U32), ("short_period", U32), ("signal_period", U32)), (26, 12, 9),
        st.tuples(small_periods(), small_periods(), small_periods()), nonzero,
        ((0, 12, 9), (26, 0, 9), (26, 12, 0), (0, 0, 0)), STREAM_METHODS, result="triple",
        model=models.MacdModel),
    windowed("RateOfChange", model=models.RateModel),
    windowed("RelativeStrengthIndex", model=models.StrengthModel),
    Row("SharpeRatio", (("period", U32), ("rf", F64)), (3, 0.01),
        st.tuples(small_periods(), plain_floats()), lambda period, rf: windows(period),
        ((0, 0.0), (WINDOW_LIMIT, 0.0), (0, float("nan"))), PERIOD_METHODS,
        accessors=PERIOD_ACCESSOR, model=models.SharpeModel),
    windowed("SimpleMovingAverage", model=models.SimpleAverageModel),
    windowed("StandardDeviation", model=models.DeviationModel),
    Row("TrueRange", (), (), st.just(()), methods=STREAM_METHODS, input="bar",
        model=models.TrueRangeModel),
    Row("ExponentialMovingAverageCrossover", (("short_period", U32), ("long_period", U32)),
        (2, 5), ordered_pair(), crossover(nonzero), CROSSOVER_REFUSED, STREAM_METHODS,
        result="signal", model=models.exponential_crossover_model),
    Row("SimpleMovingAverageCrossover", (("short_period", U32), ("long_period", U32)),
        (2, 5), ordered_pair(), crossover(windows),
        CROSSOVER_REFUSED + ((1, WINDOW_LIMIT), (0, WINDOW_LIMIT), (WINDOW_LIMIT, WINDOW_LIMIT + 1)),
        STREAM_METHODS, result="signal", model=models.simple_crossover_model),
]
BY_NAME = {row.name: row for row in CLASSES}
CONSTRUCTED = [row for row in CLASSES if row.parameters is not None]
STREAMS = [row for row in CLASSES if row.input is not None]
FLOAT_STREAMS = [row for row in STREAMS if row.input == "float"]

FAST_NOT_BELOW_SLOW = Refusal(ValueError, "Fast period must be less than slow period.")


def classic_macd(fast_period, slow_period, signal_period):
    refusal = nonzero(fast_period, slow_period, signal_period)
    return refusal or (FAST_NOT_BELOW_SLOW if fast_period >= slow_period else None)


def classic_row(name, refusal=nonzero, refused=((0,),), **extra):
    return Row(name, PERIOD, (3,), st.tuples(small_periods()), refusal, refused, PERIOD_METHODS,
               accessors=PERIOD_ACCESSOR, module="barworks.classic", **extra)


# barworks.classic, modelled by twins.
CLASSIC_ROWS = [
    classic_row("AverageTrueRange", input="bar"),
    classic_row("ExponentialMovingAverage"),
    Row("MovingAverageConvergenceDivergence",
        (("fast_period", U32), ("slow_period", U32), ("signal_period", U32)), (12, 26, 9),
        st.tuples(ordered_pair(), small_periods()).map(lambda p: (*p[0], p[1])), classic_macd,
        ((0, 26, 9), (12, 0, 9), (12, 26, 0), (26, 12, 9), (5, 5, 1), (5, 3, 0)), STREAM_METHODS,
        result="triple", module="barworks.classic", defaults=(12, 26, 9)),
    classic_row("RateOfChange", windows, WINDOW_REFUSED),
    classic_row("RelativeStrengthIndex"),
    classic_row("StandardDeviation", windows, WINDOW_REFUSED),
]


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
