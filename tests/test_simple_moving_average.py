"""SimpleMovingAverage: the running-sum mean and its window."""

import math
import os
import subprocess
import sys

import pytest

from _barworks import SimpleMovingAverage
from helpers import RESET, feed, random_stream, same_float
from models import SimpleAverageModel

nan, inf = math.nan, math.inf


@pytest.mark.parametrize("period, inputs, expected", [
    (3, [1, 2, 3, 4, 5], [1.0, 1.5, 2.0, 3.0, 4.0]),
    # The carried running sum, not a fresh summation.
    (3, [0.1, 0.2, 0.3, 0.4, 0.5],
     [0.1, 0.15000000000000002, 0.20000000000000004, 0.30000000000000004, 0.4000000000000001]),
    (1, [1e16, 1.0, 2.0], [1e16, 0.0, 1.0]),
    (3, [1.0, nan, 2.0, 3.0, 4.0, 5.0], [1.0, nan, nan, nan, nan, nan]),
    (2, [1.0, inf, 2.0, 3.0], [1.0, inf, inf, nan]),
    (3, [1.0, 2.0, RESET, 5.0], [1.0, 1.5, 5.0]),
    (2, [-0.0], [0.0]),
])
def test_results(period, inputs, expected):
    results = feed(SimpleMovingAverage(period), inputs)
    assert len(results) == len(expected)
    assert all(map(same_float, results, expected)), results


@pytest.mark.parametrize("period", [1, 2, 5, 64])
@pytest.mark.parametrize("seed", range(3))
def test_matches_model(period, seed):
    stream = random_stream(seed)
    results = feed(SimpleMovingAverage(period), stream)
    expected = feed(SimpleAverageModel(period), stream)
    assert all(map(same_float, results, expected))


def test_reset_equals_a_new_object():
    stream = random_stream(7, length=50, reset_share=0.0)
    used = SimpleMovingAverage(4)
    feed(used, stream)
    assert used.reset() is None
    assert feed(used, stream) == feed(SimpleMovingAverage(4), stream)
    assert used.period() == 4


def test_failed_call_leaves_state_untouched():
    average, twin = SimpleMovingAverage(3), SimpleMovingAverage(3)
    for value in (1.0, 2.0):
        average.next(value), twin.next(value)
    with pytest.raises(TypeError):
        average.next("a")
    assert average.next(4.0) == twin.next(4.0)


@pytest.mark.parametrize("period, error, message", [
    (0, ValueError, "Period cannot be 0."),
    (268435456, BaseException, "capacity overflow"),
    (4294967295, BaseException, "capacity overflow"),
])
def test_refused_periods(period, error, message):
    with pytest.raises(error) as caught:
        SimpleMovingAverage(period)
    assert str(caught.value) == message


@pytest.mark.skipif("ASAN_OPTIONS" in os.environ, reason="the sanitizer reserves its own address space")
def test_window_that_cannot_be_allocated_gives_memory_error():
    script = """
import resource
resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
from _barworks import SimpleMovingAverage
try:
    SimpleMovingAverage(200_000_000)
except MemoryError:
    print(SimpleMovingAverage(2).next(3.0))
"""
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert result.stdout == "3.0\n", result.stderr
