"""Hostile arguments and a Python account of how the module converts them.

`convert(kind, name, obj)` says what converting `obj` to a parameter of the
given kind gives: a `Value`, or the `Refusal` the call must raise. It follows
the documented conversion rules, calling the object's own `__float__` or
`__index__` exactly as the module does, so it may only be used with objects
whose conversion has no side effects (everything `arguments(kind)` draws).
Objects that call back into instances are built by the tests themselves.

Strategies are built once: hypothesis caches every strategy it is given, and
fresh ones on every draw would keep that cache growing through the refleak
pass's repetitions.
"""

import decimal
import functools
import fractions
import math
import operator
import os
import warnings
from dataclasses import dataclass

from hypothesis import strategies as st

import _barworks
from helpers import Index, RaisingFloat, RaisingIndex, Real

U32, F64 = "uint32", "double"
U32_MAX = 2**32 - 1


def _panic_class():
    """The internal-fault class, which is not exported, from a fault provoked
    with the module's own report of it to stderr kept out of the output of
    whatever imports this (the benchmarks do)."""
    saved = os.dup(2)
    try:
        with open(os.devnull, "w") as sink:
            os.dup2(sink.fileno(), 2)
            try:
                _barworks.SimpleMovingAverage(268435456)
            except BaseException as error:
                return type(error)
    finally:
        os.dup2(saved, 2)
        os.close(saved)
    raise AssertionError("a window of 2**28 slots was accepted")


PANIC = _panic_class()


@dataclass(frozen=True)
class Value:
    value: object


@dataclass(frozen=True)
class Refusal:
    """An exception a call must raise: its exact type, and either its exact
    message or, for texts the interpreter words, the prefix the module adds."""

    type: type
    message: str | None = None
    prefix: str = ""
    cause: BaseException | None = None

    def check(self, error):
        assert type(error) is self.type, (error, self)
        text = str(error)
        if self.message is not None:
            assert text == self.message, (text, self)
        else:
            assert text.startswith(self.prefix), (text, self)
        if self.cause is not None:
            assert type(error.__cause__) is type(self.cause)
            assert str(error.__cause__) == str(self.cause)


def _from_conversion(error, name):
    """How the module reports an exception its conversion of `name` raised."""
    if type(error) is TypeError:
        return Refusal(TypeError, f"argument '{name}': {error}", cause=error.__cause__)
    if isinstance(error, PANIC):
        return Refusal(PANIC, str(error))
    return Refusal(type(error), str(error))


class _Worded(Exception):
    """A refusal whose text the interpreter words: only its type and the
    prefix the module adds are compared."""

    def __init__(self, refusal):
        self.refusal = refusal


def _to_double(obj, name):
    if isinstance(obj, float):
        return float.__float__(obj)  # a float subclass is read directly
    cls = type(obj)
    if getattr(cls, "__float__", None) is not None:
        result = cls.__float__(obj)
        if type(result) is float:
            return result
        if not isinstance(result, float):
            raise _Worded(Refusal(TypeError, prefix=f"argument '{name}': "))
        try:
            warnings.warn("__float__ returned a float subclass", DeprecationWarning)
        except DeprecationWarning:
            raise _Worded(Refusal(DeprecationWarning)) from None
        return float.__float__(result)
    if getattr(cls, "__index__", None) is not None:
        return float(operator.index(obj))
    raise _Worded(Refusal(TypeError, prefix=f"argument '{name}': "))


def convert(kind, name, obj):
    """The Value or Refusal of converting `obj` for the parameter `name`."""
    try:
        if kind == F64:
            return Value(_to_double(obj, name))
        value = int.__index__(obj) if isinstance(obj, int) else operator.index(obj)
    except _Worded as worded:
        return worded.refusal
    except BaseException as error:
        return _from_conversion(error, name)
    if value < 0 or value >= 2**64:
        return Refusal(OverflowError)  # the interpreter's own wording
    if value > U32_MAX:
        return Refusal(OverflowError, "out of range integral type conversion attempted")
    return Value(value)


def convert_bar(name, obj, classic=False):
    """A classic class also reads any object with the five bar fields; none
    of the hostile inputs has them."""
    if isinstance(obj, _barworks.Bar):
        return Value((obj.high(), obj.low(), obj.close()))
    if classic:
        return Refusal(
            TypeError,
            f"argument '{name}': expected a Bar or an object with numeric open, high, low, close "
            f"and volume attributes, got '{type(obj).__qualname__}', which has no 'open'")
    return Refusal(
        TypeError,
        f"argument '{name}': '{type(obj).__qualname__}' object cannot be converted to 'Bar'")


# ---------------------------------------------------------------- objects


class FloatSubclass(float):
    pass


class FloatSubclassWithFloat(float):
    def __float__(self):  # ignored: a float subclass is read directly
        return 123.0


class IntSubclass(int):
    pass


class IntSubclassWithFloat(int):
    def __float__(self):  # used for doubles; the int value is used for periods
        return 0.5


class IntSubclassWithIndex(int):
    def __index__(self):  # ignored: an int subclass is converted directly
        return 99


class RealIndex:
    """Both protocols: doubles take __float__, periods take __index__."""

    def __init__(self, real, index):
        self.real, self.index = real, index

    def __float__(self):
        return self.real

    def __index__(self):
        return self.index

    def __repr__(self):
        return f"RealIndex({self.real!r}, {self.index!r})"


class Abort(BaseException):
    pass


class TypeErrorSubclass(TypeError):
    pass


def _type_error_with_cause():
    error = TypeError("bad number")
    error.__cause__ = KeyError("root")
    return error


ERRORS = {
    "ValueError": lambda: ValueError("boom"),
    "TypeError": lambda: TypeError("bad number"),
    "TypeError-with-cause": _type_error_with_cause,
    "TypeError-subclass": lambda: TypeErrorSubclass("sub"),
    "OverflowError": lambda: OverflowError("too big"),
    "ZeroDivisionError": lambda: ZeroDivisionError("zero"),
    "RuntimeError-lookalike": lambda: RuntimeError("Already borrowed"),
    "MemoryError": lambda: MemoryError("no memory"),
    "PanicException": lambda: PANIC("from python"),
    "BaseException": lambda: Abort("stop"),
}


def raising(error, through):
    """A number whose `__float__` or `__index__` raises a fresh ERRORS[error]."""
    return (RaisingFloat if through == "__float__" else RaisingIndex)(ERRORS[error], label=error)


# ---------------------------------------------------------------- strategies

SPECIAL_FLOATS = (
    math.nan, -math.nan, math.inf, -math.inf, 0.0, -0.0, 5e-324, -5e-324,
    2.2250738585072014e-308, 2.225073858507201e-308, 1.7976931348623157e308,
    -1.7976931348623157e308, -1.0, 0.1, 1e16, -1e-16,
)
HUGE_INTS = (10**400, -(10**400), 2**1024, 2**1024 - 2**970, 2**53 + 1, -1, 0)
ODD_FLOAT_RESULTS = (3, None, "1.5", FloatSubclass(2.5), True, -1.0, math.nan)
ODD_INDEX_RESULTS = (3.5, None, True, IntSubclass(4), 10**400, -1, 2**64, 2**32)
OTHER_OBJECTS = (
    "1.5", None, b"1", [], (), decimal.Decimal("1.1"), fractions.Fraction(1, 3), 1j,
    _barworks.Bar(1.0, 2.0, 0.5, 1.5, 10), _barworks.Signal.BUY, object(),
)
# Periods outside the valid range, none of which allocates a large window.
ODD_PERIODS = (0, 1, 2**28, U32_MAX, 2**32, 2**64, -1, -(2**64))


@functools.cache
def plain_floats():
    """Exact floats of every class: ordinary, special, subnormal, huge."""
    return st.one_of(
        st.floats(-1e6, 1e6),
        st.integers(-100, 100).map(float),
        st.sampled_from(SPECIAL_FLOATS),
        st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True),
    )


@functools.cache
def small_periods():
    return st.one_of(st.integers(1, 6), st.sampled_from((7, 16, 64, 300)))


@functools.cache
def _raising():
    return st.builds(raising, st.sampled_from(sorted(ERRORS)),
                     st.sampled_from(("__float__", "__index__")))


@functools.cache
def arguments(kind):
    """Arguments of every shape for a parameter of `kind`; most convert."""
    if kind == F64:
        numbers = st.one_of(
            plain_floats(),
            st.integers(-(2**70), 2**70),
            st.sampled_from(HUGE_INTS),
            st.booleans(),
            plain_floats().map(FloatSubclass),
            plain_floats().map(FloatSubclassWithFloat),
            st.integers(-5, 5).map(IntSubclass),
            st.integers(-5, 5).map(IntSubclassWithFloat),
            plain_floats().map(Real),
            st.integers(-(2**60), 2**60).map(Index),
        )
    else:
        numbers = st.one_of(
            small_periods(),
            st.sampled_from(ODD_PERIODS),
            st.booleans(),
            small_periods().map(IntSubclass),
            small_periods().map(IntSubclassWithIndex),
            small_periods().map(Index),
            st.sampled_from(ODD_PERIODS).map(Index),
        )
    odd = st.one_of(
        st.sampled_from(ODD_FLOAT_RESULTS).map(Real),
        st.sampled_from(ODD_INDEX_RESULTS).map(Index),
        st.builds(RealIndex, plain_floats(), small_periods()),
        _raising(),
        st.sampled_from(OTHER_OBJECTS),
    )
    return st.one_of(numbers, numbers, odd)
