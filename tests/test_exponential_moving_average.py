import math

import pytest

from _barworks import ExponentialMovingAverage
from helpers import feed, random_stream, same_float
from models import ExponentialAverageModel


@pytest.mark.parametrize(
    "period, inputs, expected",
    [
        (3, [10, 11, 12, 13], [10.0, 10.5, 11.25, 12.125]),
        # x * alpha + (1 - alpha) * previous, rounded step by step; a fused
        # multiply-add or previous + alpha * (x - previous) gives 1.2.
        (9, [1, 2], [1.0, 1.2000000000000002]),
        (2, [1, 2, 3], [1.0, 1.6666666666666665, 2.5555555555555554]),
        # With alpha 1.0 the output follows the input until 0.0 * infinity.
        (1, [5, 7, math.inf, 3], [5.0, 7.0, math.inf, math.nan]),
        (3, [math.nan, 1.0, 2.0], [math.nan, math.nan, math.nan]),
        (3, [1.0, -math.inf, 2.0], [1.0, -math.inf, -math.inf]),
        (3, [-0.0], [-0.0]),
        # N + 1 is formed without wrapping: alpha is 2.0 / 4294967296.0.
        (4294967295, [0.0, 4294967296.0], [0.0, 2.0]),
    ],
)
def test_pinned_results(period, inputs, expected):
    for target in (ExponentialMovingAverage(period), ExponentialAverageModel(period)):
        results = feed(target, inputs)
        assert all(same_float(got, want) for got, want in zip(results, expected)), results
        assert len(results) == len(expected)


@pytest.mark.parametrize("period", [1, 2, 3, 9, 26, 1000])
@pytest.mark.parametrize("seed", range(3))
def test_matches_model(period, seed):
    items = random_stream(seed * 101 + period)
    results = feed(ExponentialMovingAverage(period), items)
    expected = feed(ExponentialAverageModel(period), items)
    assert all(type(value) is float for value in results)
    mismatches = [(i, a, b) for i, (a, b) in enumerate(zip(results, expected)) if not same_float(a, b)]
    assert not mismatches and len(results) == len(expected)
