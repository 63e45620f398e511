import operator

import pytest

from _barworks import Signal
from helpers import Index

SIGNALS = [(Signal.BUY, 0, "Signal.BUY"), (Signal.SELL, 1, "Signal.SELL"), (Signal.HOLD, 2, "Signal.HOLD")]


@pytest.mark.parametrize("signal, code, text", SIGNALS)
def test_text_and_code(signal, code, text):
    assert repr(signal) == str(signal) == f"{signal}" == text
    assert int(signal) == code and type(int(signal)) is int
    assert type(signal) is Signal
    assert getattr(Signal, text.split(".")[1]) is signal


@pytest.mark.parametrize(
    "left, right, equal",
    [
        (Signal.BUY, Signal.BUY, True),
        (Signal.BUY, Signal.SELL, False),
        (Signal.SELL, Signal.HOLD, False),
        (Signal.BUY, 0, True),
        (Signal.SELL, 1, True),
        (Signal.HOLD, 2, True),
        (Signal.HOLD, 1, False),
        (1, Signal.SELL, True),
        (2, Signal.SELL, False),
        (Signal.SELL, True, True),
        (Signal.BUY, False, True),
        # The whole integer is compared, never narrowed to the code's width.
        (Signal.SELL, 257, False),
        (Signal.HOLD, 258, False),
        (Signal.HOLD, -254, False),
        (Signal.BUY, 2**64, False),
        (Signal.BUY, -(2**70), False),
        (Signal.BUY, 0.0, False),
        (Signal.SELL, 1.0, False),
        (Signal.BUY, "BUY", False),
        (Signal.BUY, "Signal.BUY", False),
        (Signal.BUY, None, False),
        (Signal.SELL, Index(1), True),
        (Signal.SELL, Index(2**64 + 1), False),
    ],
)
def test_equality(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is (not equal)


def test_failing_index_is_swallowed_but_runs():
    other = Index(ValueError("not an index"))
    assert (Signal.BUY == other) is False
    assert (Signal.BUY != other) is True
    assert other.calls >= 2


@pytest.mark.parametrize(
    "compare",
    [
        lambda: Signal.BUY < Signal.SELL,
        lambda: Signal.HOLD >= 2,
        lambda: Signal.SELL <= 1,
        lambda: 0 > Signal.BUY,
        lambda: sorted([Signal.HOLD, Signal.BUY]),
    ],
)
def test_no_ordering(compare):
    with pytest.raises(TypeError):
        compare()


@pytest.mark.parametrize("build", [lambda: {Signal.BUY}, lambda: {Signal.BUY: 1}, lambda: hash(Signal.SELL)])
def test_unhashable(build):
    assert Signal.__hash__ is None
    with pytest.raises(TypeError, match="unhashable"):
        build()


@pytest.mark.parametrize("call", [lambda: Signal(), lambda: Signal(0), lambda: Signal(code=1)])
def test_no_constructor(call):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == "No constructor defined for Signal"


def test_only_integer_conversion():
    # Truthy despite code 0, and no index or float conversion behind int().
    assert bool(Signal.BUY) and bool(Signal.HOLD)
    with pytest.raises(TypeError):
        operator.index(Signal.SELL)
    with pytest.raises(TypeError):
        ["a", "b"][Signal.SELL]
    with pytest.raises(TypeError):
        float(Signal.SELL)
