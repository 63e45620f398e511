"""Windowed value-stream indicators: StandardDeviation, SharpeRatio,
RelativeStrengthIndex, RateOfChange, Minimum and Maximum.

Besides tables of exact results, each class is checked against its small
pure-Python model in models.py: Python floats are IEEE doubles, so doing the
documented operations in the same order gives the same bits.
"""

import math

import pytest

from _barworks import (
    Maximum,
    Minimum,
    RateOfChange,
    RelativeStrengthIndex,
    SharpeRatio,
    StandardDeviation,
)
from classes import BY_NAME
from helpers import RESET, random_stream, same_float

nan, inf = math.nan, math.inf


def assert_results(target, inputs, expected):
    results = [target.next(x) for x in inputs]
    assert all(map(same_float, results, expected)) and len(results) == len(expected), results


def windowed(name, *extra):
    """The class and its model from the table, built with `extra` arguments
    after the period."""
    row = BY_NAME[name]
    return (lambda n: row.cls(n, *extra)), (lambda n: row.new_model((n, *extra)))


# Class and model, extra method compared after every step.
DIFFERENTIAL = [
    pytest.param(*windowed("StandardDeviation"), None, id="StandardDeviation"),
    pytest.param(*windowed("SharpeRatio", 0.5), None, id="SharpeRatio-rf0.5"),
    pytest.param(*windowed("SharpeRatio", -0.0), None, id="SharpeRatio-rf-0.0"),
    pytest.param(*windowed("RelativeStrengthIndex"), None, id="RelativeStrengthIndex"),
    pytest.param(*windowed("RateOfChange"), None, id="RateOfChange"),
    pytest.param(*windowed("Minimum"), "find_min_index", id="Minimum"),
    pytest.param(*windowed("Maximum"), "find_max_index", id="Maximum"),
]


@pytest.mark.parametrize("native, model, index_method", DIFFERENTIAL)
# Odd and even periods: the window is read two slots at a time, the last
# slot of an odd window on its own.
@pytest.mark.parametrize("period", [1, 2, 3, 8, 14, 15])
@pytest.mark.parametrize("seed", range(4))
def test_matches_model_bit_for_bit(native, model, index_method, period, seed):
    target, reference = native(period), model(period)
    stream = random_stream(seed * 100 + period, length=400, reset_share=0.04, special_share=0.04)
    for step, item in enumerate(stream):
        if item is RESET:
            assert target.reset() is None
            reference.reset()
            continue
        got, want = target.next(item), reference.next(item)
        assert same_float(got, want), (step, item, got, want)
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
