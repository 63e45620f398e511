import math
import re

import pytest

from _barworks import MovingAverageConvergenceDivergence as Macd
from helpers import RESET, feed, random_stream, same_float
from models import MacdModel


def assert_same_results(actual, expected):
    assert len(actual) == len(expected)
    for got, want in zip(actual, expected):
        assert type(got) is tuple and len(got) == 3
        assert all(type(value) is float for value in got)
        assert all(same_float(a, b) for a, b in zip(got, want)), (got, want)


@pytest.mark.parametrize(
    "periods, inputs, expected",
    [
        (
            (3, 1, 3),
            [10, 12, 14, 13],
            [(0.0, 0.0, 0.0), (1.0, 0.5, 0.5), (1.5, 1.0, 0.5), (0.25, 0.625, -0.375)],
        ),
        (
            (3, 2, 2),
            [1, 2, 3],
            [
                (0.0, 0.0, 0.0),
                (0.16666666666666652, 0.11111111111111101, 0.05555555555555551),
                (0.30555555555555536, 0.24074074074074056, 0.0648148148148148),
            ],
        ),
        # The short period may exceed the long one; a signal period of 1
        # makes the signal line the MACD line.
        ((1, 3, 1), [10, 12, 14], [(0.0, 0.0, 0.0), (-1.0, -1.0, 0.0), (-1.5, -1.5, 0.0)]),
    ],
)
def test_documented_results(periods, inputs, expected):
    assert_same_results(feed(Macd(*periods), inputs), expected)
    assert_same_results(feed(MacdModel(*periods), inputs), expected)


@pytest.mark.parametrize("first", [0.0, -0.0, 1.0, -7.5, 1e308, -1e-320])
def test_first_result_is_positive_zeros(first):
    macd = Macd(26, 12, 9)
    assert_same_results([macd.next(first)], [(0.0, 0.0, 0.0)])
    macd.next(3.0)
    macd.reset()
    assert_same_results([macd.next(first)], [(0.0, 0.0, 0.0)])


@pytest.mark.parametrize("poison", [math.nan, math.inf, -math.inf])
@pytest.mark.parametrize("position", [0, 3])
def test_non_finite_input_poisons_until_reset(poison, position):
    macd = Macd(5, 3, 2)
    inputs = [1.0, 2.0, 4.0][:position] + [poison] + [float(x) for x in range(10)]
    results = feed(macd, inputs)
    assert all(math.isnan(value) for result in results[position:] for value in result)
    macd.reset()
    assert macd.next(5.0) == (0.0, 0.0, 0.0)


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((26, 0, 0), ValueError, "Period cannot be 0."),
        ((0, 12, 9), ValueError, "Period cannot be 0."),
        ((26, 12, 0), ValueError, "Period cannot be 0."),
        # Every argument is converted before any period is checked.
        ((0, 12, 1.5), TypeError, "argument 'signal_period': "),
        ((0, 12, "9"), TypeError, "argument 'signal_period': "),
        ((1.5, 2.5, 9), TypeError, "argument 'long_period': "),
        ((26, 2.5, 1.5), TypeError, "argument 'short_period': "),
        ((0, 0, -1), OverflowError, None),
        ((0, 0, 2**32), OverflowError, "out of range integral type conversion attempted"),
    ],
)
def test_constructor_checks_in_order(args, error, message):
    with pytest.raises(error) as caught:
        Macd(*args)
    assert type(caught.value) is error
    if message is not None:
        assert re.match(re.escape(message), str(caught.value))


def test_largest_periods():
    huge = Macd(4294967295, 4294967295, 4294967295)
    assert feed(huge, [1.0, 1.0]) == [(0.0, 0.0, 0.0), (0.0, 0.0, 0.0)]


@pytest.mark.parametrize("seed", range(3))
def test_reset_matches_new_object(seed):
    before, after = ([x for x in random_stream(seed * 2 + part) if x is not RESET] for part in range(2))
    macd = Macd(26, 12, 9)
    feed(macd, before)
    macd.reset()
    assert_same_results(feed(macd, after), feed(Macd(26, 12, 9), after))


@pytest.mark.parametrize("periods", [(26, 12, 9), (3, 2, 2), (1, 1, 1), (2, 7, 4), (1000, 3, 50)])
@pytest.mark.parametrize("seed", range(3))
def test_matches_model(periods, seed):
    items = random_stream(seed * 17 + sum(periods))
    assert_same_results(feed(Macd(*periods), items), feed(MacdModel(*periods), items))
