import math
import struct

import pytest

from _barworks import Bar
from helpers import Index

FIELDS = ("open", "high", "low", "close", "volume")


def fields(bar):
    return tuple(getattr(bar, name)() for name in FIELDS)


def bits(x):
    return struct.pack("<d", x)


def test_accessors_return_float_prices_and_int_volume():
    bar = Bar(1, 2, 0.5, 1.5, 100)
    values = fields(bar)
    assert values == (1.0, 2.0, 0.5, 1.5, 100)
    assert [type(v) for v in values] == [float] * 4 + [int]


@pytest.mark.parametrize(
    "prices",
    [
        (10.0, 8.0, 12.0, 11.0),  # high below low, close outside the range
        (-1.5, -0.0, math.inf, -math.inf),
        (math.nan, math.nan, 1.0, math.nan),
        (5e-324, 1.7976931348623157e308, -5e-324, 0.1),
    ],
)
def test_prices_are_stored_bit_for_bit(prices):
    bar = Bar(*prices, 7)
    stored = fields(bar)[:4]
    assert [bits(x) for x in stored] == [bits(x) for x in prices]


@pytest.mark.parametrize(
    "volume, expected",
    [(0, 0), (4294967295, 4294967295), (True, 1), (False, 0), (Index(42), 42)],
)
def test_volume_accepts_integers(volume, expected):
    assert Bar(1, 2, 0, 1, volume).volume() == expected


@pytest.mark.parametrize(
    "volume, error, message",
    [
        (100.0, TypeError, "argument 'volume': 'float' object cannot be interpreted as an integer"),
        ("1", TypeError, "argument 'volume': 'str' object cannot be interpreted as an integer"),
        (4294967296, OverflowError, "out of range integral type conversion attempted"),
        (-1, OverflowError, None),
        (2**64, OverflowError, None),
    ],
)
def test_volume_refusals(volume, error, message):
    with pytest.raises(error) as caught:
        Bar(1, 2, 0, 1, volume)
    if message is not None:
        assert str(caught.value) == message
    else:
        assert "volume" not in str(caught.value)


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), dict(open=10.0, high=11.0, low=9.0, close=10.5, volume=0)),
        ((), dict(volume=0, close=10.5, low=9.0, high=11.0, open=10.0)),
        ((10.0, 11.0), dict(low=9.0, close=10.5, volume=0)),
        ((10, 11, 9), dict(volume=0, close=10.5)),
    ],
)
def test_keywords_and_positions_mix(args, kwargs):
    assert fields(Bar(*args, **kwargs)) == (10.0, 11.0, 9.0, 10.5, 0)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1, 2, 0.5, 1.5), {}, "Bar.__new__() missing 1 required positional argument: 'volume'"),
        ((1, 2), {}, "Bar.__new__() missing 3 required positional arguments: 'low', 'close', and 'volume'"),
        ((1, 2, 3, 4, 5, 6), {}, "Bar.__new__() takes 5 positional arguments but 6 were given"),
        ((1, 2, 3, 4, 5), dict(high=2), "Bar.__new__() got multiple values for argument 'high'"),
        ((1, 2, 3, 4), dict(vol=5), "Bar.__new__() got an unexpected keyword argument 'vol'"),
    ],
)
def test_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        Bar(*args, **kwargs)
    assert str(caught.value) == message


def test_first_failing_conversion_in_parameter_order_is_reported():
    # high fails before volume is looked at, although volume is also bad
    with pytest.raises(TypeError, match=r"^argument 'high': .*str") as caught:
        Bar(1, "x", 0, 1, -1)
    assert caught.type is TypeError
    with pytest.raises(TypeError, match=r"^argument 'close': "):
        Bar(1, 2, 0, None, 5)


def test_equality_and_hash_are_by_identity():
    a = Bar(1, 2, 0, 1, 5)
    b = Bar(1, 2, 0, 1, 5)
    assert a == a and a != b
    assert len({a: 1, b: 2}) == 2
    assert hash(a) == hash(a)


def test_bar_is_immutable():
    bar = Bar(1, 2, 0, 1, 5)
    with pytest.raises(AttributeError):
        bar.close = 3.0
    assert bar.close() == 1.0
