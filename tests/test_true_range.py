import math
import random

import numpy as np
import pytest

import barworks

from _barworks import AverageTrueRange, Bar, ExponentialMovingAverage, TrueRange
from helpers import same_float
from models import AverageTrueRangeModel, TrueRangeModel

nan, inf = math.nan, math.inf


def bar(high, low, close):
    return Bar(0.0, high, low, close, 0)


WORKED = [(10, 8, 9), (12, 9.5, 11), (11.5, 10, 10.5)]


def test_true_range_worked_example():
    tr = TrueRange()
    assert [tr.next(bar(*b)) for b in WORKED] == [2.0, 3.0, 1.5]
    assert tr.reset() is None
    assert tr.next(bar(10, 9, 9.5)) == 1.0  # no previous close after reset


def test_average_true_range_worked_example():
    atr = AverageTrueRange(3)
    assert [atr.next(bar(*b)) for b in WORKED] == [2.0, 2.5, 2.0]
    assert atr.reset() is None
    assert atr.period() == 3
    # The close 10.5 survives the reset: max(1, 0.5, 1.5) seeds the average.
    assert atr.next(bar(10, 9, 9.5)) == 1.5


@pytest.mark.parametrize(
    "previous, current, expected",
    [
        (None, (1, 3, 2), -2.0),  # first bar: plain high - low, even negative
        ((10, 8, 9), (12, 11, 11.5), 3.0),  # gap up
        ((21, 19, 20), (15, 14, 14.5), 6.0),  # gap down
        ((10, 8, 9), (10, 8, nan), 2.0),  # NaN close does not affect its own bar
        ((10, 8, nan), (12, 11, 11.5), 1.0),  # ... but the next one falls back to h - l
        ((10, 8, 9), (nan, 7, 8), 2.0),  # NaN high: only |l - p| is left
        ((10, 8, nan), (nan, nan, 1), nan),
        ((10, 8, 9), (inf, 8, 9), inf),
        ((10, 8, inf), (12, 11, 11.5), inf),
        ((10, 8, 0.0), (-0.0, 0.0, 0.0), -0.0),  # ties keep h - l, sign included
        (None, (nan, 1, 2), nan),
    ],
)
def test_true_range_cases(previous, current, expected):
    tr = TrueRange()
    if previous is not None:
        tr.next(bar(*previous))
    assert same_float(tr.next(bar(*current)), expected)
    if previous is not None:
        # Columns take bars two at a time: the case in either place of a
        # pair and alone at the end.
        columns = zip(*[previous, current] * 3)
        high, low, close = (np.array(column, dtype=float) for column in columns)
        answers = barworks.feed_bars(TrueRange(), high, low, close)
        assert all(same_float(answer, expected) for answer in answers[1::2])


def test_true_range_reset_forgets_previous_close():
    tr = TrueRange()
    tr.reset()  # no effect on a fresh indicator
    tr.next(bar(10, 8, 100))
    tr.reset()
    assert tr.next(bar(10, 8, 9)) == 2.0


def test_average_true_range_nan_persists_until_reset():
    atr = AverageTrueRange(3)
    atr.next(bar(10, 8, nan))
    assert math.isnan(atr.next(bar(nan, nan, 9)))
    assert math.isnan(atr.next(bar(12, 9.5, 11)))
    atr.reset()
    assert atr.next(bar(12, 9.5, 11)) == 2.5  # measured against the close 11


def test_average_true_range_period_one_follows_true_range():
    atr, tr = AverageTrueRange(1), TrueRange()
    for b in [(10, 8, 9), (12, 11, 11.5), (15, 14, 14.5), (9, 8, 8.5), (1, 3, 2)]:
        assert atr.next(bar(*b)) == tr.next(bar(*b))


def test_average_true_range_equals_its_parts():
    rng = random.Random(7)
    atr, tr, ema = AverageTrueRange(14), TrueRange(), ExponentialMovingAverage(14)
    for _ in range(200):
        low = rng.uniform(50, 150)
        b = Bar(0, low + rng.uniform(0, 5), low, low + rng.uniform(0, 5), 0)
        assert same_float(atr.next(b), ema.next(tr.next(b)))


@pytest.mark.parametrize(
    "make, error, message",
    [
        (lambda: TrueRange(1), TypeError, "TrueRange.__new__() takes 0 positional arguments but 1 was given"),
        (lambda: TrueRange(period=1), TypeError, "TrueRange.__new__() got an unexpected keyword argument 'period'"),
        (lambda: AverageTrueRange(0), ValueError, "Period cannot be 0."),
        (lambda: AverageTrueRange(), TypeError, "AverageTrueRange.__new__() missing 1 required positional argument: 'period'"),
        (lambda: AverageTrueRange(2**32), OverflowError, "out of range integral type conversion attempted"),
    ],
)
def test_constructor_errors(make, error, message):
    with pytest.raises(error) as caught:
        make()
    assert caught.type is error and str(caught.value) == message


def test_average_true_range_period_conversion():
    assert AverageTrueRange(period=14).period() == 14
    assert AverageTrueRange(4294967295).period() == 4294967295
    with pytest.raises(OverflowError):
        AverageTrueRange(-1)
    with pytest.raises(TypeError, match=r"^argument 'period': "):
        AverageTrueRange(14.0)


@pytest.mark.parametrize("cls, args", [(TrueRange, ()), (AverageTrueRange, (3,))])
def test_next_refusals_leave_state_unchanged(cls, args):
    name = cls.__name__
    indicator = cls(*args)
    indicator.next(bar(10, 8, 9))
    for call, message in [
        (lambda: indicator.next(1.0), "argument 'input': 'float' object cannot be converted to 'Bar'"),
        (lambda: indicator.next(None), "argument 'input': 'NoneType' object cannot be converted to 'Bar'"),
        (lambda: indicator.next(), f"{name}.next() missing 1 required positional argument: 'input'"),
        (lambda: indicator.next(bar(1, 1, 1), bar(1, 1, 1)), f"{name}.next() takes 1 positional arguments but 2 were given"),
    ]:
        with pytest.raises(TypeError) as caught:
            call()
        assert str(caught.value) == message
    # Still measured against the close 9 and, for the average, seeded with 2.0.
    assert indicator.next(input=bar(12, 11, 11.5)) == (3.0 if cls is TrueRange else 2.5)


def random_price(rng):
    roll = rng.random()
    if roll < 0.04:
        return nan
    if roll < 0.06:
        return rng.choice([inf, -inf])
    if roll < 0.09:
        return rng.choice([0.0, -0.0])
    return rng.choice([rng.uniform(-5, 5), float(rng.randint(-3, 3)), rng.uniform(90, 110)])


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("period", [1, 2, 3, 14, 4294967295])
def test_matches_reference_model(seed, period):
    rng = random.Random(seed * 1000003 + period)
    tr, tr_model = TrueRange(), TrueRangeModel()
    atr, atr_model = AverageTrueRange(period), AverageTrueRangeModel(period)
    for step in range(400):
        roll = rng.random()
        if roll < 0.03:
            tr.reset()
            tr_model.reset()
        elif roll < 0.06:
            atr.reset()
            atr_model.reset()
        h, l, c = random_price(rng), random_price(rng), random_price(rng)
        b = bar(h, l, c)
        got, want = tr.next(b), tr_model.next(h, l, c)
        assert same_float(got, want), (step, h, l, c, got, want)
        got, want = atr.next(b), atr_model.next(h, l, c)
        assert same_float(got, want), (step, h, l, c, got, want)
