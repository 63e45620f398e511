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
import math
import os
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


# ---------------------------------------------------------------- barworks.classic
# One row per class of barworks.classic: its parameters with their defaults,
# the constructor arguments it is tested with (the first is its sample), what
# next takes ("close", "bar") and gives ("float", "triple"), its lookback, its
# TA-Lib call over columns of the same inputs (close, high, low, volume as
# numpy arrays), and, where TA-Lib keeps running sums that drift, the exact
# answer of one window it is held to instead.


# The leak and sanitizer passes, which run every test many times or slowly,
# take each classic class at its sample arguments alone
# (BARWORKS_CONFIGS=sample), so that their cost grows with the classes only.
SAMPLES_ONLY = os.environ.get("BARWORKS_CONFIGS") == "sample"


@dataclass(frozen=True)
class ClassicRow:
    name: str
    parameters: tuple  # ((name, default or None), ...)
    configs: tuple  # constructor arguments, the sample first
    lookback: Callable  # arguments -> lookback
    talib: Callable  # (talib, columns, *arguments) -> [array, ...]
    input: str = "close"  # "close", "bar" or "pair" (next(x, y))
    result: str = "float"
    # (window, *arguments) -> exact answer, the window being the last
    # lookback + 1 inputs ((x, y) pairs for a class that takes pairs)
    exact: Callable = None
    # (values, *arguments) -> exact answers, where an answer rests on more
    # than one window (an adaptive average's running state)
    exact_series: Callable = None
    peer_takes: Callable = lambda *arguments: True  # whether TA-Lib accepts these arguments
    # Answers that are differences of prices (MACD) round as the prices do:
    # they are compared with TA-Lib to 1e-12 of the price level. A number
    # is the level itself: a difference of prices in percent of the price
    # (PPO) rounds as 100 does.
    differences: bool | float = False
    # The stored form's fields after the header, as (path, struct code),
    # "W" for a window: a 4-byte length and that many doubles.
    layout: tuple = ()

    @property
    def cls(self):
        from barworks import classic
        return getattr(classic, self.name)

    @property
    def parameter_names(self):
        return tuple(name for name, _ in self.parameters)

    @property
    def defaults(self):
        return {name: default for name, default in self.parameters if default is not None}

    @property
    def methods(self):
        return ("period", "next", "reset") if self.parameter_names == ("period",) else ("next", "reset")

    def level(self, closes):
        """The scale that answers near zero are measured against."""
        if self.differences is True:
            return max(map(abs, closes))
        return float(self.differences)

    def exact_answers(self, values, arguments):
        """The exact answers to `values`, or None where TA-Lib is the reference."""
        if self.exact_series is not None:
            return self.exact_series(values, *arguments)
        if self.exact is not None:
            return models.over_windows(values, self.lookback(*arguments) + 1,
                                       lambda window: self.exact(window, *arguments))
        return None

    def make(self, arguments=None):
        return self.cls(*(self.configs[0] if arguments is None else arguments))

    def __repr__(self):
        return self.name


def window_layout(name):
    return ((f"{name}.period", "I"), (f"{name}.index", "I"), (f"{name}.count", "I"),
            (f"{name}.values", "W"))


WINDOW_LAYOUT = window_layout("window")
CO_MOMENTS_LAYOUT = (window_layout("moments.xs") + window_layout("moments.ys")
                     + tuple((f"moments.{field}", "d") for field in (
                         "mean_x", "mean_y", "squares_x", "squares_y", "products", "reference_x",
                         "reference_y", "peak_x", "peak_y"))
                     + (("moments.run_x", "I"), ("moments.run_y", "I"), ("moments.since_exact", "I")))

# The embedded variance's fields, inline.
VARIANCE_LAYOUT = WINDOW_LAYOUT + (("mean", "d"), ("squares", "d"), ("reference", "d"),
                                   ("peak", "d"), ("equal_run", "I"), ("since_exact", "I"))

LINE_LAYOUT = WINDOW_LAYOUT + (("sum", "d"), ("weighted", "d"), ("reference", "d"),
                               ("equal_run", "I"), ("since_exact", "I"))


def ema_chain(length):
    """The stored form of `length` chained classic exponential averages."""
    names = ("first", "second", "third", "fourth", "fifth", "sixth")[:length]
    return tuple((f"{name}.{field}", code) for name in names
                 for field, code in (("period", "I"), ("current", "d"), ("count", "I")))


def within(name, layout):
    return tuple((f"{name}.{path}", code) for path, code in layout)


def wilder_average(name):
    return ((f"{name}.period", "I"), (f"{name}.average", "d"), (f"{name}.count", "I"))


def wilder_sum(name):
    return ((f"{name}.period", "I"), (f"{name}.sum", "d"), (f"{name}.count", "I"))


MOVEMENT_LAYOUT = (wilder_sum("plus") + wilder_sum("minus")
                   + (("previous_high", "d"), ("previous_low", "d"), ("has_previous", "B")))
SIDE_MOVEMENT_LAYOUT = within("movement", MOVEMENT_LAYOUT)
INDICATORS_LAYOUT = (SIDE_MOVEMENT_LAYOUT + (("range.has_previous", "B"), ("range.previous_close", "d"))
                     + wilder_sum("ranges"))
ADX_LAYOUT = within("indicators", INDICATORS_LAYOUT) + wilder_average("average")
MEAN_PAIR_LAYOUT = WINDOW_LAYOUT + (("fast_period", "I"), ("fast_sum", "d"), ("slow_sum", "d"),
                                   ("since_exact", "I"))


def period_lookback(period):
    return period - 1


def change_lookback(period):
    return period


CLASSIC = [
    ClassicRow("AverageTrueRange", (("period", None),), ((14,), (1,), (3,), (30,)), change_lookback,
               lambda talib, c, p: [talib.ATR(c.high, c.low, c.close, p)], input="bar"),
    ClassicRow("ExponentialMovingAverage", (("period", None),), ((20,), (1,), (2,), (4,), (200,)),
               period_lookback, lambda talib, c, p: [talib.EMA(c.close, p)]),
    ClassicRow("MovingAverageConvergenceDivergence",
               (("fast_period", 12), ("slow_period", 26), ("signal_period", 9)),
               ((12, 26, 9), (1, 2, 1), (2, 3, 1), (3, 6, 2), (2, 3, 4), (5, 35, 5)),
               lambda fast, slow, signal: slow - 1 + signal - 1,
               lambda talib, c, *periods: list(talib.MACD(c.close, *periods)), result="triple",
               peer_takes=lambda fast, slow, signal: fast >= 2, differences=True),
    ClassicRow("RateOfChange", (("period", None),), ((10,), (1,), (3,)), change_lookback,
               lambda talib, c, p: [talib.ROC(c.close, p)]),
    ClassicRow("RelativeStrengthIndex", (("period", None),), ((14,), (1,), (2,), (3,), (30,)),
               change_lookback, lambda talib, c, p: [talib.RSI(c.close, p)],
               peer_takes=lambda period: period >= 2),
    ClassicRow("StandardDeviation", (("period", None),), ((20,), (1,), (2,), (3,), (4,), (5,), (6,), (100,)),
               period_lookback, lambda talib, c, p: [talib.STDDEV(c.close, p, 1.0)],
               exact=models.exact_deviation, peer_takes=lambda period: period >= 2),
    ClassicRow("WeightedMovingAverage", (("period", 30),), ((30,), (1,), (2,), (5,)),
               period_lookback, lambda talib, c, p: [talib.WMA(c.close, p)],
               exact=lambda w, p: math.fsum(i * v for i, v in enumerate(w, 1)) / (len(w) * (len(w) + 1) / 2),
               layout=WINDOW_LAYOUT + (("sum", "d"), ("weighted", "d"), ("since_exact", "I"))),
    ClassicRow("DoubleExponentialMovingAverage", (("period", 30),), ((30,), (1,), (2,), (3,), (5,)),
               lambda p: 2 * (p - 1), lambda talib, c, p: [talib.DEMA(c.close, p)],
               layout=ema_chain(2)),
    ClassicRow("TripleExponentialMovingAverage", (("period", 30),), ((30,), (1,), (2,), (3,), (5,)),
               lambda p: 3 * (p - 1), lambda talib, c, p: [talib.TEMA(c.close, p)],
               layout=ema_chain(3)),
    ClassicRow("TriangularMovingAverage", (("period", 30),),
               ((30,), (1,), (2,), (3,), (4,), (5,), (6,), (101,)),
               period_lookback, lambda talib, c, p: [talib.TRIMA(c.close, p)],
               exact=models.exact_triangular,
               layout=WINDOW_LAYOUT + (("newer", "d"), ("weighted", "d"), ("older", "d"),
                                       ("since_exact", "I"))),
    ClassicRow("Momentum", (("period", 10),), ((10,), (1,), (3,), (50,)), change_lookback,
               lambda talib, c, p: [talib.MOM(c.close, p)], differences=True,
               layout=WINDOW_LAYOUT),
    ClassicRow("KaufmanAdaptiveMovingAverage", (("period", 30),), ((30,), (1,), (2,), (3,), (5,), (100,)),
               lambda p: 0 if p == 1 else p, lambda talib, c, p: [talib.KAMA(c.close, p)],
               exact_series=models.exact_kaufman,
               layout=WINDOW_LAYOUT + (("average", "d"), ("changes", "d"), ("peak", "d"),
                                       ("since_exact", "I"))),
    ClassicRow("TillsonT3", (("period", 5), ("volume_factor", 0.7)),
               ((5, 0.7), (1, 0.7), (2, 0.0), (3, 1.0), (4, 0.3), (20, 0.7)),
               lambda p, a: 6 * (p - 1), lambda talib, c, p, a: [talib.T3(c.close, p, a)],
               layout=ema_chain(6) + (("volume_factor", "d"),)),
    ClassicRow("Variance", (("period", 5),), ((5,), (1,), (2,), (3,), (6,), (100,)),
               period_lookback, lambda talib, c, p: [talib.VAR(c.close, p, 1.0)],
               exact=models.exact_variance, layout=VARIANCE_LAYOUT),
    ClassicRow("BollingerBands", (("period", 5), ("deviations_up", 2.0), ("deviations_down", 2.0)),
               ((5, 2.0, 2.0), (1, 2.0, 2.0), (2, 1.0, 1.0), (3, 1.5, 0.5), (6, -0.5, 3.0),
                (50, 2.5, 1.5)),
               lambda p, up, down: p - 1, lambda talib, c, *a: list(talib.BBANDS(c.close, *a, matype=0)),
               result="triple", exact=models.exact_bands, peer_takes=lambda p, up, down: p >= 2,
               layout=VARIANCE_LAYOUT + (("deviations_up", "d"), ("deviations_down", "d"))),
    *(ClassicRow(name, (("period", 14),), ((14,), (1,), (2,), (3,), (6,), (100,)), period_lookback,
                 lambda talib, c, p, f=function: [getattr(talib, f)(c.close, p)],
                 exact=exact, peer_takes=lambda period: period >= 2, differences=differences,
                 layout=LINE_LAYOUT)
      for name, function, exact, differences in (
          ("LinearRegression", "LINEARREG", lambda w, p: models.exact_line(w)["value"], False),
          # The slope (and so the angle) of prices far above their tick is a
          # difference of prices: it rounds as they do, not to itself.
          ("LinearRegressionSlope", "LINEARREG_SLOPE", lambda w, p: models.exact_line(w)["slope"],
           True),
          ("LinearRegressionIntercept", "LINEARREG_INTERCEPT",
           lambda w, p: models.exact_line(w)["intercept"], False),
          ("LinearRegressionAngle", "LINEARREG_ANGLE",
           lambda w, p: math.degrees(math.atan(models.exact_line(w)["slope"])), True),
          ("TimeSeriesForecast", "TSF", lambda w, p: models.exact_line(w)["forecast"], False))),
    ClassicRow("Midpoint", (("period", 14),), ((14,), (1,), (2,), (3,), (5,), (40,)),
               period_lookback, lambda talib, c, p: [talib.MIDPOINT(c.close, p)],
               peer_takes=lambda period: period >= 2, layout=WINDOW_LAYOUT),
    ClassicRow("Midprice", (("period", 14),), ((14,), (1,), (2,), (4,), (40,)), period_lookback,
               lambda talib, c, p: [talib.MIDPRICE(c.high, c.low, p)], input="bar",
               peer_takes=lambda period: period >= 2,
               layout=window_layout("range.highs") + window_layout("range.lows")),
    ClassicRow("NormalizedAverageTrueRange", (("period", 14),), ((14,), (1,), (3,), (30,)),
               change_lookback, lambda talib, c, p: [talib.NATR(c.high, c.low, c.close, p)],
               input="bar", peer_takes=lambda period: period >= 2,
               layout=(("average.range.has_previous", "B"), ("average.range.previous_close", "d"),
                       ("average.average.period", "I"), ("average.average.average", "d"),
                       ("average.average.count", "I"))),
    ClassicRow("ParabolicSar", (("acceleration", 0.02), ("maximum", 0.2)),
               ((0.02, 0.2), (0.0, 0.2), (0.01, 0.1), (0.1, 0.3), (0.2, 0.2), (0.05, 0.06)),
               lambda acceleration, maximum: 1,
               lambda talib, c, acceleration, maximum: [talib.SAR(c.high, c.low, acceleration, maximum)],
               input="bar",
               layout=tuple((field, "d") for field in ("acceleration", "maximum", "sar", "extreme", "factor",
                                                      "previous_high", "previous_low"))
               + (("bars", "B"), ("rising", "B"))),
    ClassicRow("Correlation", (("period", 30),), ((30,), (1,), (2,), (3,), (5,), (100,)),
               period_lookback, lambda talib, c, p: [talib.CORREL(c.close, c.partner, p)],
               input="pair", exact=models.exact_correlation, layout=CO_MOMENTS_LAYOUT),
    ClassicRow("Beta", (("period", 5),), ((5,), (1,), (2,), (3,), (30,)), change_lookback,
               lambda talib, c, p: [talib.BETA(c.close, c.partner, p)], input="pair",
               exact=models.exact_beta,
               layout=CO_MOMENTS_LAYOUT + (("previous_x", "d"), ("previous_y", "d"),
                                           ("has_previous", "B"))),
    ClassicRow("OnBalanceVolume", (), ((),), lambda: 0, lambda talib, c: [talib.OBV(c.close, c.volume)],
               input="bar", layout=(("total", "d"), ("previous_close", "d"), ("started", "B"))),
    ClassicRow("AccumulationDistribution", (), ((),), lambda: 0,
               lambda talib, c: [talib.AD(c.high, c.low, c.close, c.volume)], input="bar",
               layout=(("total", "d"), ("started", "B"))),
    ClassicRow("ChaikinOscillator", (("fast_period", 3), ("slow_period", 10)),
               ((3, 10), (1, 2), (2, 3), (5, 30)), lambda fast, slow: slow - 1,
               lambda talib, c, fast, slow: [talib.ADOSC(c.high, c.low, c.close, c.volume, fast, slow)],
               input="bar", differences=True, peer_takes=lambda fast, slow: fast >= 2,
               layout=(("line.total", "d"), ("line.started", "B"), ("fast", "d"), ("slow", "d"),
                       ("fast_period", "I"), ("slow_period", "I"), ("count", "I"))),
    ClassicRow("MoneyFlowIndex", (("period", 14),), ((14,), (1,), (2,), (5,), (40,)), change_lookback,
               lambda talib, c, p: [talib.MFI(c.high, c.low, c.close, c.volume, p)], input="bar",
               exact=models.exact_money_flow, peer_takes=lambda period: period >= 2,
               layout=window_layout("rising") + window_layout("falling")
               + (("rising_sum", "d"), ("falling_sum", "d"), ("previous_typical", "d"),
                  ("started", "B"), ("since_exact", "I"))),
    ClassicRow("BalanceOfPower", (), ((),), lambda: 0,
               lambda talib, c: [talib.BOP(c.open, c.high, c.low, c.close)], input="bar"),
]

RANGE_LAYOUT = window_layout("range.highs") + window_layout("range.lows")


def average_layout(name):
    return window_layout(f"{name}.window") + ((f"{name}.sum", "d"),)


def trailing_sums_layout(name):
    return window_layout(f"{name}.window") + tuple(
        (f"{name}.{field}", code) for field, code in
        (("shortest_period", "I"), ("middle_period", "I"), ("shortest_sum", "d"), ("middle_sum", "d"),
         ("longest_sum", "d"), ("shortest_peak", "d"), ("middle_peak", "d"),
          ("longest_peak", "d"), ("since_exact", "I")))


CLASSIC += [
    ClassicRow("Aroon", (("period", 14),), ((14,), (1,), (2,), (5,), (40,)), change_lookback,
               lambda talib, c, p: list(talib.AROON(c.high, c.low, p)), input="bar",
               result="pair", peer_takes=lambda period: period >= 2,
               layout=window_layout("range.highs") + window_layout("range.lows")),
    ClassicRow("AroonOscillator", (("period", 14),), ((14,), (1,), (2,), (5,), (40,)),
               change_lookback, lambda talib, c, p: [talib.AROONOSC(c.high, c.low, p)],
               input="bar", peer_takes=lambda period: period >= 2,
               layout=window_layout("aroon.range.highs") + window_layout("aroon.range.lows")),
    ClassicRow("WilliamsR", (("period", 14),), ((14,), (1,), (2,), (5,), (40,)), period_lookback,
               lambda talib, c, p: [talib.WILLR(c.high, c.low, c.close, p)], input="bar",
               peer_takes=lambda period: period >= 2, layout=RANGE_LAYOUT),
    ClassicRow("StochasticFast", (("fastk_period", 5), ("fastd_period", 3)),
               ((5, 3), (1, 1), (2, 1), (1, 4), (14, 3), (30, 10)),
               lambda k, d: k - 1 + d - 1,
               lambda talib, c, k, d: list(talib.STOCHF(c.high, c.low, c.close, k, d, 0)),
               input="bar", result="pair",
               layout=RANGE_LAYOUT + average_layout("fastd")),
    ClassicRow("Stochastic", (("fastk_period", 5), ("slowk_period", 3), ("slowd_period", 3)),
               ((5, 3, 3), (1, 1, 1), (2, 1, 3), (1, 4, 1), (14, 3, 5), (30, 10, 2)),
               lambda k, sk, sd: k - 1 + sk - 1 + sd - 1,
               lambda talib, c, k, sk, sd: list(talib.STOCH(c.high, c.low, c.close, k, sk, 0, sd, 0)),
               input="bar", result="pair",
               layout=tuple((f"fast.{path}", code) for path, code in RANGE_LAYOUT + average_layout("fastd"))
               + average_layout("slowd")),
    ClassicRow("StochasticRsi", (("period", 14), ("fastk_period", 5), ("fastd_period", 3)),
               ((14, 5, 3), (2, 1, 1), (3, 2, 1), (5, 1, 4), (14, 14, 3), (30, 10, 2)),
               lambda p, k, d: p + k - 1 + d - 1,
               lambda talib, c, p, k, d: list(talib.STOCHRSI(c.close, p, k, d, 0)),
               result="pair",
               layout=(("rsi.gains.period", "I"), ("rsi.gains.average", "d"), ("rsi.gains.count", "I"),
                       ("rsi.losses.period", "I"), ("rsi.losses.average", "d"),
                       ("rsi.losses.count", "I"), ("rsi.previous", "d"), ("rsi.has_previous", "B"))
               + tuple((f"stochastic.{path}", code)
                       for path, code in RANGE_LAYOUT + average_layout("fastd"))),
    ClassicRow("CommodityChannelIndex", (("period", 14),), ((14,), (1,), (2,), (5,), (40,)),
               period_lookback, lambda talib, c, p: [talib.CCI(c.high, c.low, c.close, p)],
               input="bar", peer_takes=lambda period: period >= 2,
               layout=window_layout("typical")),
    ClassicRow("UltimateOscillator", (("period1", 7), ("period2", 14), ("period3", 28)),
               ((7, 14, 28), (1, 1, 1), (28, 14, 7), (3, 3, 9), (2, 5, 40)),
               lambda *periods: max(periods),
               lambda talib, c, *periods: [talib.ULTOSC(c.high, c.low, c.close, *periods)],
               input="bar", exact=models.exact_ultimate,
               layout=trailing_sums_layout("buying") + trailing_sums_layout("ranges")
               + (("previous_close", "d"), ("started", "B"))),
    *(ClassicRow(name, (("period", 14),), ((14,), (1,), (2,), (3,), (30,)), lookback,
                 lambda talib, c, p, f=function: [getattr(talib, f)(c.high, c.low, p)
                                                 if f.endswith("DM") else
                                                 getattr(talib, f)(c.high, c.low, c.close, p)],
                 input="bar", peer_takes=lambda p, least=least: p >= least, layout=layout)
      for name, function, lookback, least, layout in (
          ("PlusDirectionalMovement", "PLUS_DM", lambda p: max(p - 1, 1), 1, SIDE_MOVEMENT_LAYOUT),
          ("MinusDirectionalMovement", "MINUS_DM", lambda p: max(p - 1, 1), 1,
           SIDE_MOVEMENT_LAYOUT),
          ("PlusDirectionalIndicator", "PLUS_DI", change_lookback, 2,
           within("indicators", INDICATORS_LAYOUT)),
          ("MinusDirectionalIndicator", "MINUS_DI", change_lookback, 2,
           within("indicators", INDICATORS_LAYOUT)),
          ("DirectionalMovementIndex", "DX", change_lookback, 2,
           within("indicators", INDICATORS_LAYOUT)),
          ("AverageDirectionalIndex", "ADX", lambda p: 2 * p - 1, 2, ADX_LAYOUT),
          ("AverageDirectionalIndexRating", "ADXR", lambda p: 3 * p - 2, 2,
           within("average", ADX_LAYOUT) + WINDOW_LAYOUT))),
    ClassicRow("AbsolutePriceOscillator", (("fast_period", 12), ("slow_period", 26)),
               ((12, 26), (1, 2), (2, 3), (4, 30)), lambda f, s: s - 1,
               lambda talib, c, f, s: [talib.APO(c.close, f, s, 0)],
               exact=lambda w, f, s: models.exact_means(w, f, s)[0], differences=True,
               peer_takes=lambda f, s: min(f, s) >= 2, layout=within("means", MEAN_PAIR_LAYOUT)),
    ClassicRow("PercentagePriceOscillator", (("fast_period", 12), ("slow_period", 26)),
               ((12, 26), (1, 2), (2, 3), (4, 30)), lambda f, s: s - 1,
               lambda talib, c, f, s: [talib.PPO(c.close, f, s, 0)],
               exact=lambda w, f, s: models.exact_means(w, f, s)[1], differences=100.0,
               peer_takes=lambda f, s: min(f, s) >= 2, layout=within("means", MEAN_PAIR_LAYOUT)),
    ClassicRow("ChandeMomentumOscillator", (("period", 14),), ((14,), (1,), (2,), (3,), (30,)),
               change_lookback, lambda talib, c, p: [talib.CMO(c.close, p)],
               peer_takes=lambda period: period >= 2,
               layout=within("averages", wilder_average("gains") + wilder_average("losses")
                             + (("previous", "d"), ("has_previous", "B")))),
    ClassicRow("Trix", (("period", 30),), ((30,), (1,), (2,), (3,), (5,)), lambda p: 3 * (p - 1) + 1,
               lambda talib, c, p: [talib.TRIX(c.close, p)], layout=within("averages", ema_chain(3))),
]
CLASSIC_BY_NAME = {row.name: row for row in CLASSIC}
