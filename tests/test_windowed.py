"""Windowed value-stream indicators: StandardDeviation, SharpeRatio,
RelativeStrengthIndex, RateOfChange, Minimum and Maximum.

Besides tables of exact results, each class is checked against a small
pure-Python model: Python floats are IEEE doubles, so doing the documented
operations in the same order gives the same bits.
"""

import math
import random
import struct

import pytest

from average_models import SimpleAverageModel
from _barworks import (
    Maximum,
    Minimum,
    RateOfChange,
    RelativeStrengthIndex,
    SharpeRatio,
    StandardDeviation,
)

nan, inf = math.nan, math.inf
RESET = None  # a stream item standing for a call to reset()


def same(a, b):
    """Bit equality, with every NaN equal to every NaN."""
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return struct.pack("<d", a) == struct.pack("<d", b)


def assert_results(target, inputs, expected):
    results = [target.next(x) for x in inputs]
    assert all(map(same, results, expected)) and len(results) == len(expected), results


def divide(a, b):
    """IEEE division, which Python refuses for a zero divisor."""
    if b != 0.0 or math.isnan(b):
        return a / b
    if a == 0.0 or math.isnan(a):
        return nan
    return math.copysign(inf, a) * math.copysign(1.0, b)


# ---------------------------------------------------------------- models


class DeviationModel:
    def __init__(self, period):
        self.period = period
        self.reset()

    def reset(self):
        self.values = [0.0] * self.period
        self.index = self.count = 0
        self.sum = self.sum_sq = 0.0

    def next(self, x):
        old = self.values[self.index]
        self.values[self.index] = x
        self.index = (self.index + 1) % self.period
        self.count = min(self.count + 1, self.period)
        self.sum = self.sum + (x - old)
        self.sum_sq = self.sum_sq + ((x * x) - (old * old))
        mean = self.sum / self.count
        variance = self.sum_sq / self.count - mean * mean
        return math.sqrt(0.0 if variance <= 0.0 else variance)


class SharpeModel:
    def __init__(self, period, rf):
        self.average, self.deviation, self.rf = SimpleAverageModel(period), DeviationModel(period), rf
        self.steps = 0

    def reset(self):
        self.average.reset()
        self.deviation.reset()
        self.steps = 0

    def next(self, x):
        mean, spread = self.average.next(x), self.deviation.next(x)
        self.steps += 1
        return 0.0 if self.steps < 2 else divide(mean - self.rf, spread)


class StrengthModel:
    """Written with the branch the native scan avoids."""

    def __init__(self, period):
        self.period = period
        self.reset()

    def reset(self):
        self.changes = [0.0] * self.period
        self.index = self.count = 0
        self.previous = 0.0

    def next(self, x):
        self.changes[self.index] = x - self.previous
        self.previous = x
        self.index = (self.index + 1) % self.period
        self.count = min(self.count + 1, self.period)
        gain = loss = 0.0
        for c in self.changes:
            if c > 0.0:
                gain = gain + c
            else:
                loss = loss - c
        rs = divide(gain / self.count, loss / self.count)
        return 100.0 - divide(100.0, rs + 1.0)


class RateModel:
    def __init__(self, period):
        self.period = period
        self.reset()

    def reset(self):
        self.taken = []

    def next(self, x):
        self.taken.append(x)
        k = len(self.taken)
        reference = self.taken[k - 1 - self.period] if k > self.period + 1 else self.taken[0]
        return divide(x - reference, reference)


class ExtremeModel:
    def __init__(self, period, fill, beats):
        self.period, self.fill, self.beats = period, fill, beats
        self.values = [fill] * period
        self.extreme = self.index = 0

    def reset(self):
        self.values = [self.fill] * self.period

    def scan(self):
        candidate, found = self.fill, 0
        for slot, value in enumerate(self.values):
            if self.beats(value, candidate):
                candidate, found = value, slot
        return found

    def next(self, x):
        p = self.index
        self.values[p] = x
        if self.beats(x, self.values[self.extreme]):
            self.extreme = p
        elif self.extreme == p:
            self.extreme = self.scan()
        self.index = (p + 1) % self.period
        return self.values[self.extreme]


def lowest_model(period):
    return ExtremeModel(period, inf, lambda a, b: a < b)


def highest_model(period):
    return ExtremeModel(period, -inf, lambda a, b: a > b)


def random_stream(seed, length=400):
    """Ordinary values, repeats, a few small levels (ties, zero changes,
    equal windows), signed zeros, NaN, infinities and resets."""
    rng = random.Random(seed)
    items = []
    for _ in range(length):
        roll = rng.random()
        if roll < 0.04:
            items.append(RESET)
        elif roll < 0.08:
            items.append(rng.choice((nan, inf, -inf, -0.0, 0.0)))
        elif roll < 0.4:
            items.append(rng.choice((0.1, 1.0, 2.0, -3.0, 1e16)))
        elif roll < 0.55 and items and items[-1] is not RESET:
            items.append(items[-1])
        else:
            items.append(rng.uniform(-100.0, 100.0))
    return items


# Native class, model, extra method compared after every step.
DIFFERENTIAL = [
    pytest.param(StandardDeviation, DeviationModel, None, id="StandardDeviation"),
    pytest.param(lambda n: SharpeRatio(n, 0.5), lambda n: SharpeModel(n, 0.5), None,
                 id="SharpeRatio-rf0.5"),
    pytest.param(lambda n: SharpeRatio(n, -0.0), lambda n: SharpeModel(n, -0.0), None,
                 id="SharpeRatio-rf-0.0"),
    pytest.param(RelativeStrengthIndex, StrengthModel, None, id="RelativeStrengthIndex"),
    pytest.param(RateOfChange, RateModel, None, id="RateOfChange"),
    pytest.param(Minimum, lowest_model, "find_min_index", id="Minimum"),
    pytest.param(Maximum, highest_model, "find_max_index", id="Maximum"),
]


@pytest.mark.parametrize("native, model, index_method", DIFFERENTIAL)
# Odd and even periods: the window is read two slots at a time, the last
# slot of an odd window on its own.
@pytest.mark.parametrize("period", [1, 2, 3, 8, 14, 15])
@pytest.mark.parametrize("seed", range(4))
def test_matches_model_bit_for_bit(native, model, index_method, period, seed):
    target, reference = native(period), model(period)
    for step, item in enumerate(random_stream(seed * 100 + period)):
        if item is RESET:
            assert target.reset() is None
            reference.reset()
            continue
        got, want = target.next(item), reference.next(item)
        assert same(got, want), (step, item, got, want)
        if index_method:
            assert getattr(target, index_method)() == reference.scan(), step


# ---------------------------------------------------------------- tables

def cases():
    """Fresh instances for every run: a test may be run more than once."""
    return [
        # Standard deviation: population deviation from running sums.
        (StandardDeviation(8), [2, 4, 4, 4, 5, 5, 7, 9],
         [0.0, 1.0, 0.9428090415820626, 0.8660254037844386, 0.9797958971132716, 1.0,
          1.3997084244475297, 2.0]),
        (StandardDeviation(3), [1, 2, 3, 4], [0.0, 0.5, 0.8164965809277263, 0.8164965809277257]),
        (StandardDeviation(2), [1, 2, 3], [0.0, 0.5, 0.5]),
        (StandardDeviation(1), [5, 7, -3, 10], [0.0, 0.0, 0.0, 0.0]),
        # Equal inputs leave a variance a hair below zero: clamped, not NaN.
        (StandardDeviation(3), [0.1] * 4, [0.0, 0.0, 0.0, 0.0]),
        (StandardDeviation(2), [1, nan, 2, 3, 4], [0.0, nan, nan, nan, nan]),
        (StandardDeviation(2), [1, inf, 2, 3], [0.0, nan, nan, nan]),
        # Sharpe ratio: first result 0.0, then (mean - rf) / deviation.
        (SharpeRatio(3, 0.0), [1, 3, 2], [0.0, 2.0, 2.4494897427831774]),
        (SharpeRatio(2, 0.5), [1, 3, 2, 2], [0.0, 1.5, 4.0, inf]),
        (SharpeRatio(2, 2.0), [1, 3, 2, 2], [0.0, 0.0, 1.0, nan]),
        (SharpeRatio(1, 0.0), [1, 2, 0, 3], [0.0, inf, nan, inf]),
        (SharpeRatio(2, 0.0), [nan, 1], [0.0, nan]),
        (SharpeRatio(2, nan), [1, 3], [0.0, nan]),
        # The clamped deviation of equal inputs divides to an infinity or NaN.
        (SharpeRatio(3, 0.0), [0.1] * 4, [0.0, inf, inf, inf]),
        (SharpeRatio(3, 0.1), [0.1] * 3, [0.0, nan, inf]),
        # Relative strength: plain averages of gains and losses in the window.
        (RelativeStrengthIndex(3), [10, 11, 10.5, 12],
         [100.0, 100.0, 95.65217391304348, 83.33333333333334]),
        (RelativeStrengthIndex(14), [44, 44.5, 43.5], [100.0, 100.0, 97.8021978021978]),
        (RelativeStrengthIndex(1), [1, 2, 1, 1], [100.0, 100.0, 0.0, nan]),
        (RelativeStrengthIndex(2), [5, 5, 5], [100.0, 100.0, nan]),
        (RelativeStrengthIndex(2), [1, nan, 2, 3, 4], [100.0, nan, nan, nan, 100.0]),
        (RelativeStrengthIndex(4), [-2], [0.0]),
        (RelativeStrengthIndex(4), [0.0], [nan]),
        # Rate of change: against the first input until the window is full.
        (RateOfChange(3), [10, 11, 12, 13, 14, 15], [0.0, 0.1, 0.2, 0.3, 0.2727272727272727, 0.25]),
        (RateOfChange(1), [10, 11, 12], [0.0, 0.1, 0.09090909090909091]),
        (RateOfChange(2), [-5, -4], [-0.0, -0.2]),
        (RateOfChange(2), [0, 1, 2, 3], [nan, inf, inf, 2.0]),
        (RateOfChange(2), [4, 0, 2, 3, 5], [0.0, -1.0, -0.5, inf, 1.5]),
        (RateOfChange(2), [inf, 1], [nan, nan]),
        (RateOfChange(2), [nan, 1, 2, 3], [nan, nan, nan, 2.0]),
        # Minimum and maximum: remembered extremes, NaN ignored unless remembered.
        (Minimum(3), [5, 3, 4, 6, 7, 1, 2], [5.0, 3.0, 3.0, 3.0, 4.0, 1.0, 1.0]),
        (Maximum(3), [5, 3, 4, 6, 7, 1, 2], [5.0, 5.0, 5.0, 6.0, 7.0, 7.0, 7.0]),
        (Minimum(1), [3, nan, -1], [3.0, nan, -1.0]),
        (Minimum(3), [5, nan, 4], [5.0, 5.0, 4.0]),
        (Minimum(3), [nan, 5, 4, 3], [nan, nan, nan, 3.0]),
        (Maximum(3), [nan, 5, 4, 3], [nan, nan, nan, 5.0]),
        (Minimum(2), [inf], [inf]),
        (Maximum(2), [-inf], [-inf]),
    ]


@pytest.mark.parametrize("case", range(len(cases())))
def test_results(case):
    assert_results(*cases()[case])


def test_extremes_worked_example_indices():
    lowest, highest = Minimum(3), Maximum(3)
    assert (lowest.find_min_index(), highest.find_max_index()) == (0, 0)
    for x in [5, 3, 4, 6, 7, 1, 2]:
        lowest.next(x)
        highest.next(x)
    assert (lowest.find_min_index(), highest.find_max_index()) == (2, 1)


def test_extremes_ties_and_nan_indices():
    lowest = Minimum(3)
    assert_results(lowest, [2, 2, 2], [2.0, 2.0, 2.0])
    assert lowest.find_min_index() == 0
    assert_results(lowest, [5], [2.0])
    assert lowest.find_min_index() == 1

    first_nan = Minimum(3)
    assert_results(first_nan, [nan, 5], [nan, nan])
    assert first_nan.find_min_index() == 1


@pytest.mark.parametrize("cls, index_method, fill, start", [
    (Minimum, "find_min_index", inf, [5.0, 3.0]),
    (Maximum, "find_max_index", -inf, [3.0, 5.0]),
])
def test_extremes_reset_keeps_positions(cls, index_method, fill, start):
    # `start` leaves the write slot at 2 and the remembered slot at 1.
    kept = cls(3)
    assert_results(kept, start, start)
    kept.reset()
    assert_results(kept, [7], [7.0])
    assert getattr(kept, index_method)() == 2

    # The remembered slot now holds the fill value, which NaN cannot beat.
    refilled = cls(3)
    assert_results(refilled, start, start)
    refilled.reset()
    assert_results(refilled, [nan], [fill])


ALL = [StandardDeviation, RelativeStrengthIndex, RateOfChange, Minimum, Maximum,
       pytest.param(lambda n: SharpeRatio(n, 0.0), id="SharpeRatio")]


@pytest.mark.parametrize("make", ALL)
def test_period_zero_refused(make):
    with pytest.raises(ValueError, match=r"^Period cannot be 0\.$"):
        make(0)


@pytest.mark.parametrize("make", ALL)
def test_capacity_overflow(make):
    with pytest.raises(BaseException) as caught:
        make(268435456)
    assert type(caught.value).__name__ == "PanicException"
    assert str(caught.value) == "capacity overflow"
