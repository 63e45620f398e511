"""barworks.peek and peek_bar: the answer next would give on a twin with the
same history, and the object left as it was."""

import random

import pytest

import _barworks as bw
import barworks
from batch_streams import BAR_FED, CONFIG_IDS, CONFIGS, assert_same_state, bits, inputs_for, make, step


def peek(obj, name, x):
    if isinstance(x, tuple):
        return barworks.peek(obj, *x)
    return barworks.peek_bar(obj, x) if name in BAR_FED else barworks.peek(obj, x)


@pytest.mark.parametrize("name, arguments", CONFIGS, ids=CONFIG_IDS)
def test_peek_answers_as_next_and_changes_nothing(name, arguments):
    rng = random.Random(CONFIGS.index((name, arguments)) + 100)
    obj, twin = make(name, arguments), make(name, arguments)
    stream = inputs_for(name, rng, 300)
    for x in stream:
        # Peeks at other values first, then at the value that comes.
        for other in rng.sample(stream, 2):
            peek(obj, name, other)
        peeked = peek(obj, name, x)
        assert bits(peeked) == bits(step(twin, x))
        assert bits(step(obj, x)) == bits(peeked)
        if rng.random() < 0.02:
            obj.reset()
            twin.reset()
    assert_same_state(obj, twin, name)


def test_peek_gives_what_next_gives_in_kind():
    crossover = bw.SimpleMovingAverageCrossover(2, 3)
    signal = barworks.peek(crossover, 1.0)
    assert isinstance(signal, bw.Signal) and signal is not bw.Signal.HOLD and signal == bw.Signal.HOLD
    macd = barworks.peek(bw.MovingAverageConvergenceDivergence(3, 2, 2), 1.0)
    assert macd == (0.0, 0.0, 0.0)
    assert barworks.peek(bw.SimpleMovingAverage(2), value=3) == 3.0


class CallsBack:
    """A number whose conversion uses the object being peeked at."""

    def __init__(self, obj):
        self.obj = obj

    def __float__(self):
        self.obj.period()
        return 1.0


@pytest.mark.parametrize("call, error, message", [
    (lambda o: barworks.peek(o, "1"), TypeError, "argument 'value': must be real number, not str"),
    (lambda o: barworks.peek(o, bw.Bar(1.0, 2.0, 0.5, 1.5, 1)), TypeError, "argument 'value': must be real number"),
    (lambda o: barworks.peek(o, 10**400), OverflowError, "int too large to convert to float"),
    (lambda o: barworks.peek(o, CallsBack(o)), RuntimeError, "Already borrowed"),
    (lambda o: barworks.peek(o), TypeError, "barworks.peek() missing 1 required positional argument: 'value'"),
    (lambda o: barworks.peek(o, 1.0, 2.0), TypeError,
     "argument 'indicator': SimpleMovingAverage takes float inputs; use barworks.peek() with one value"),
    (lambda o: barworks.peek(o, 1.0, 2.0, 3.0), TypeError, "barworks.peek() takes 2 positional arguments but 4 were given"),
    (lambda o: barworks.peek(o, input=1.0), TypeError, "barworks.peek() got an unexpected keyword argument 'input'"),
])
def test_refused_peeks_leave_the_object_untouched(call, error, message):
    obj, twin = bw.SimpleMovingAverage(3), bw.SimpleMovingAverage(3)
    for x in (1.0, 2.0):
        obj.next(x), twin.next(x)
    with pytest.raises(error) as caught:
        call(obj)
    assert message in str(caught.value)
    assert_same_state(obj, twin, "SimpleMovingAverage")


def test_peek_bar_refuses_what_is_not_a_bar():
    obj, twin = bw.AverageTrueRange(3), bw.AverageTrueRange(3)
    with pytest.raises(TypeError, match="argument 'bar': 'float' object cannot be converted to 'Bar'"):
        barworks.peek_bar(obj, 1.0)
    assert_same_state(obj, twin, "AverageTrueRange")


@pytest.mark.parametrize("period", [5, 8, 20])
def test_classic_deviation_peeks_through_its_exact_recomputations(period):
    # A small spread on a high level with jumps that leave the window: the
    # steps that recompute from the whole window (every `period` slides, and
    # when the spread collapses) must leave it as they found it after a peek.
    rng = random.Random(period)
    stream = []
    for _ in range(400):
        level = 1e8 + (1e4 if rng.random() < 0.05 else 0.0)
        stream.append(level + rng.choice([rng.gauss(0.0, 1e-3), 0.0]))
    obj, twin = make("classic.StandardDeviation", (period,)), make("classic.StandardDeviation", (period,))
    for x in stream:
        peek(obj, "classic.StandardDeviation", rng.choice(stream))
        peeked = peek(obj, "classic.StandardDeviation", x)
        assert bits(peeked) == bits(twin.next(x)) == bits(obj.next(x))
    assert_same_state(obj, twin, "classic.StandardDeviation")
