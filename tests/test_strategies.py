import math

import pytest

from _barworks import ExponentialMovingAverageCrossover, Signal, SimpleMovingAverageCrossover
from classes import BY_NAME
from helpers import RESET, feed, random_stream

CROSSOVERS = [SimpleMovingAverageCrossover, ExponentialMovingAverageCrossover]
SHORT_NOT_BELOW_LONG = "Short period must be less than long period."


def letters(answers):
    by_code = {0: "B", 1: "S", 2: "H"}
    assert all(type(answer) is Signal for answer in answers)
    return "".join(by_code[int(answer)] for answer in answers)


@pytest.mark.parametrize(
    "cls, periods, inputs, expected",
    [
        (SimpleMovingAverageCrossover, (2, 3), [1, 2, 3, 1, 1], "HHBHS"),
        (SimpleMovingAverageCrossover, (1, 2), [5, 6, 4], "HBS"),
        # The two running sums of a constant 0.1 round apart: 0.2 / 2 is 0.1
        # but 0.30000000000000004 / 3 is 0.10000000000000002.
        (SimpleMovingAverageCrossover, (2, 3), [0.1] * 7, "HHSSSSS"),
        (SimpleMovingAverageCrossover, (2, 3), [1.0] * 7, "HHHHHHH"),
        (ExponentialMovingAverageCrossover, (1, 3), [10, 12, 8], "HBS"),
        (ExponentialMovingAverageCrossover, (2, 3), [1, 2, 3], "HBB"),
        (ExponentialMovingAverageCrossover, (2, 3), [3, 2, 1, 1, 4], "HSSSB"),
    ],
)
def test_documented_answers(cls, periods, inputs, expected):
    assert letters(feed(cls(*periods), inputs)) == expected


@pytest.mark.parametrize("short_period, long_period", [(1, 2), (3, 4), (7, 30)])
@pytest.mark.parametrize("first", [None, math.nan, math.inf])
@pytest.mark.parametrize("seed", range(3))
def test_simple_crossover_holds_while_both_windows_agree(short_period, long_period, first, seed):
    inputs = random_stream(seed, length=short_period, reset_share=0)
    if first is not None:
        inputs[0] = first
    strategy = SimpleMovingAverageCrossover(short_period, long_period)
    assert letters(feed(strategy, inputs)) == "H" * len(inputs)


@pytest.mark.parametrize("first", [1.0, -5.0, 1e300, math.nan, math.inf, -0.0])
def test_exponential_crossover_holds_on_first_input(first):
    strategy = ExponentialMovingAverageCrossover(2, 3)
    assert letters(feed(strategy, [first])) == "H"
    strategy.next(9.0)
    strategy.reset()
    assert letters(feed(strategy, [first])) == "H"


@pytest.mark.parametrize("cls", CROSSOVERS)
@pytest.mark.parametrize("poison", [math.nan, math.inf, -math.inf])
def test_non_finite_input_holds_until_reset(cls, poison):
    strategy = cls(2, 3)
    rising = [float(x) for x in range(1, 30)]
    assert "B" in letters(feed(strategy, rising[:5]))
    answers = feed(strategy, [poison] + rising + [-x for x in rising])
    assert letters(answers[1:]) == "H" * (len(answers) - 1)
    strategy.reset()
    assert letters(feed(strategy, rising[:5])) == letters(feed(cls(2, 3), rising[:5]))


@pytest.mark.parametrize("cls", CROSSOVERS)
@pytest.mark.parametrize("seed", range(4))
def test_reset_matches_new_object(cls, seed):
    before, after = (
        [x for x in random_stream(seed * 2 + part, special_share=0.005) if x is not RESET]
        for part in range(2)
    )
    strategy = cls(3, 8)
    feed(strategy, before)
    strategy.reset()
    assert letters(feed(strategy, after)) == letters(feed(cls(3, 8), after))


@pytest.mark.parametrize("cls", CROSSOVERS)
def test_answers_are_new_signals(cls):
    strategy = cls(1, 2)
    answers = feed(strategy, [5, 6, 4])
    for answer, constant in zip(answers, [Signal.HOLD, Signal.BUY, Signal.SELL]):
        assert type(answer) is Signal
        assert answer == constant
        assert answer is not constant
    assert strategy.next(4) is not strategy.next(4)


@pytest.mark.parametrize("cls", CROSSOVERS)
@pytest.mark.parametrize(
    "short_period, long_period, error, message",
    [
        (0, 0, ValueError, SHORT_NOT_BELOW_LONG),
        (5, 5, ValueError, SHORT_NOT_BELOW_LONG),
        (3, 2, ValueError, SHORT_NOT_BELOW_LONG),
        (4294967295, 1, ValueError, SHORT_NOT_BELOW_LONG),
        (0, 3, ValueError, "Period cannot be 0."),
        (0, 4294967295, ValueError, "Period cannot be 0."),
        # Both arguments are converted before either is checked.
        (2.0, 3, TypeError, "argument 'short_period': "),
        (5, 2.5, TypeError, "argument 'long_period': "),
        (0, "3", TypeError, "argument 'long_period': "),
        (-1, 3, OverflowError, None),
        (2, -3, OverflowError, None),
        (0, 2**32, OverflowError, "out of range integral type conversion attempted"),
    ],
)
def test_constructor_checks_in_order(cls, short_period, long_period, error, message):
    with pytest.raises(error) as caught:
        cls(short_period, long_period)
    assert type(caught.value) is error
    if message is not None:
        assert str(caught.value).startswith(message)
        if message.endswith("."):
            assert str(caught.value) == message


@pytest.mark.parametrize(
    "short_period, long_period, error, message",
    [
        # The period checks come before any window is allocated.
        (0, 268435456, "ValueError", "Period cannot be 0."),
        (268435456, 268435456, "ValueError", SHORT_NOT_BELOW_LONG),
        (1, 268435456, "PanicException", "capacity overflow"),
        (268435456, 268435457, "PanicException", "capacity overflow"),
    ],
)
def test_simple_crossover_window_limits(short_period, long_period, error, message):
    with pytest.raises(BaseException) as caught:
        SimpleMovingAverageCrossover(short_period, long_period)
    assert type(caught.value).__name__ == error
    assert str(caught.value) == message


def test_exponential_crossover_takes_the_largest_periods():
    # The smoothing factors differ in the tenth digit, so only a step far
    # above the previous average moves the two apart.
    strategy = ExponentialMovingAverageCrossover(4294967294, 4294967295)
    assert letters(feed(strategy, [0.0, 1e300, RESET, 0.0, -1e300])) == "HBHS"


@pytest.mark.parametrize("cls", CROSSOVERS)
@pytest.mark.parametrize("periods", [(1, 2), (2, 3), (3, 10), (9, 26)])
@pytest.mark.parametrize("seed", range(3))
def test_matches_model(cls, periods, seed):
    items = random_stream(seed * 31 + periods[1])
    model = BY_NAME[cls.__name__].new_model(periods)
    answers = feed(cls(*periods), items)
    assert [int(answer) for answer in answers] == feed(model, items)
