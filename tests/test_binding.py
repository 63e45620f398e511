"""Argument binding, conversion and access errors, with their exact texts."""

import math
import operator

import pytest

import _barworks
from _barworks import Bar, Minimum, MovingAverageConvergenceDivergence, SimpleMovingAverage
from classes import CONSTRUCTED, FLOAT_STREAMS, STREAMS
from helpers import CallsBack, Index, Real, RaisingFloat


def error_of(call, *args, **kwargs):
    with pytest.raises(BaseException) as caught:
        call(*args, **kwargs)
    return caught.value


def message_of(call, *args, **kwargs):
    error = error_of(call, *args, **kwargs)
    assert len(error.args) == 1
    return type(error), str(error)


def panic_class():
    return type(error_of(SimpleMovingAverage, 268435456))


def quoted_list(names):
    quoted = [f"'{name}'" for name in names]
    if len(quoted) < 3:
        return " and ".join(quoted)
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


def missing(full_name, names):
    plural = "s" if len(names) > 1 else ""
    return f"{full_name} missing {len(names)} required positional argument{plural}: {quoted_list(names)}"


def callables():
    """(full name, callable, parameters, valid arguments) of every binding callable."""
    for row in CONSTRUCTED:
        yield f"{row.name}.__new__()", row.cls, row.parameter_names, row.sample
    for row in STREAMS:
        yield f"{row.name}.next()", row.make().next, ("input",), (row.sample_input,)


CALLABLES = list(callables())
IDS = [entry[0] for entry in CALLABLES]


@pytest.mark.parametrize("full_name, call, parameters, arguments", CALLABLES, ids=IDS)
def test_binding_errors(full_name, call, parameters, arguments):
    count = len(parameters)
    given = count + 1
    assert message_of(call, *arguments, None) == (
        TypeError,
        f"{full_name} takes {count} positional arguments but {given} {'was' if given == 1 else 'were'} given")
    # The surplus is reported before any keyword is looked at.
    assert message_of(call, *arguments, None, bogus=1)[1].startswith(f"{full_name} takes")
    # An unknown keyword is reported before missing parameters.
    assert message_of(call, bogus=1) == (TypeError, f"{full_name} got an unexpected keyword argument 'bogus'")
    if count == 0:
        return
    assert message_of(call) == (TypeError, missing(full_name, parameters))
    assert message_of(call, *arguments, **{parameters[0]: arguments[0]}) == (
        TypeError, f"{full_name} got multiple values for argument '{parameters[0]}'")
    # Every parameter binds by keyword as well as by position, in any order.
    by_keyword = dict(reversed(list(zip(parameters, arguments))))
    call(**by_keyword)
    call(*arguments[:1], **dict(list(zip(parameters, arguments))[1:]))


@pytest.mark.parametrize("given, absent", [
    ((26,), ("short_period", "signal_period")),
    ((), ("long_period", "short_period", "signal_period")),
    ((26, 12), ("signal_period",)),
])
def test_missing_names_are_listed_in_declaration_order(given, absent):
    full_name = "MovingAverageConvergenceDivergence.__new__()"
    assert message_of(MovingAverageConvergenceDivergence, *given) == (TypeError, missing(full_name, absent))
    assert message_of(MovingAverageConvergenceDivergence, signal_period=9) == (
        TypeError, missing(full_name, ("long_period", "short_period")))


def test_keyword_names_are_compared_by_text():
    name = "".join(["per", "iod"])  # not the interned constant
    assert SimpleMovingAverage(**{name: 3}).period() == 3


def interpreter_message(convert, value):
    with pytest.raises(TypeError) as caught:
        convert(value)
    return str(caught.value)


@pytest.mark.parametrize("value, expected", [
    (2, 2.0), (True, 1.0), (False, 0.0), (Index(3), 3.0), (Real(2.5), 2.5), (-1.0, -1.0),
    (Real(-1.0), -1.0), (math.inf, math.inf), (2**53 + 1, float(2**53 + 1)),
])
def test_double_conversion_accepts_numbers(value, expected):
    assert SimpleMovingAverage(1).next(value) == expected


@pytest.mark.parametrize("value", ["1", None, [], 1j])
def test_double_conversion_refusals_name_the_parameter(value):
    reference = interpreter_message(lambda v: math.copysign(v, 1.0), value)
    assert message_of(SimpleMovingAverage(2).next, value) == (TypeError, f"argument 'input': {reference}")


def test_double_overflow_is_not_rewrapped():
    error_type, message = message_of(SimpleMovingAverage(2).next, 10**400)
    assert error_type is OverflowError and "input" not in message


@pytest.mark.parametrize("value, period", [(3, 3), (True, 1), (Index(7), 7), (2**32 - 1, 2**32 - 1)])
def test_unsigned_conversion_accepts_integers(value, period):
    # The largest period is refused for its window; the conversion itself passes.
    if period >= 268435456:
        assert type(error_of(SimpleMovingAverage, value)) is panic_class()
    else:
        assert SimpleMovingAverage(value).period() == period


@pytest.mark.parametrize("value", [2.0, "3", None, Index(2.5)])
def test_unsigned_conversion_refusals_name_the_parameter(value):
    reference = interpreter_message(operator.index, value)
    assert message_of(SimpleMovingAverage, value) == (TypeError, f"argument 'period': {reference}")


@pytest.mark.parametrize("value, text", [
    (-1, None), (2**64, None), (Index(-5), None),
    (2**32, "out of range integral type conversion attempted"),
])
def test_unsigned_conversion_overflow(value, text):
    error_type, message = message_of(SimpleMovingAverage, value)
    assert error_type is OverflowError and "period" not in message
    if text is not None:
        assert message == text


def test_period_zero_is_checked_after_conversion():
    assert message_of(SimpleMovingAverage, 0) == (ValueError, "Period cannot be 0.")


REFUSED = [(row, arguments) for row in CONSTRUCTED for arguments in row.refused]


@pytest.mark.parametrize("row, arguments", REFUSED,
                         ids=[f"{row.name}{arguments}" for row, arguments in REFUSED])
def test_each_class_refuses_its_own_hostile_arguments(row, arguments):
    # The table's account of a class's own checks, which the model-driven
    # reliability tests rely on, agrees with the class itself.
    refusal = row.refusal(*arguments)
    assert refusal is not None, "a refused row that the class's checks accept"
    refusal.check(error_of(row.cls, *arguments))


def test_instance_conversion_names_the_type():
    for value, type_name in [(1.0, "float"), (SimpleMovingAverage(2), "SimpleMovingAverage"), (None, "NoneType")]:
        assert message_of(_barworks.TrueRange().next, value) == (
            TypeError, f"argument 'input': '{type_name}' object cannot be converted to 'Bar'")


def test_argument_error_takes_over_the_cause_and_drops_the_original():
    cause = ValueError("root")
    original = TypeError("bad float")
    original.__cause__ = cause
    error = error_of(SimpleMovingAverage(2).next, RaisingFloat(original))
    assert type(error) is TypeError and str(error) == "argument 'input': bad float"
    assert error is not original and error.__cause__ is cause


@pytest.mark.parametrize("error", [
    type("TypeErrorSubclass", (TypeError,), {})("sub"), ValueError("value"), RuntimeError("runtime"),
    KeyboardInterrupt("stop"),
])
def test_other_conversion_errors_pass_unchanged(error):
    error.__traceback__ = None  # one instance serves every run of the test
    assert error_of(SimpleMovingAverage(2).next, RaisingFloat(error)) is error


def test_panic_raised_by_python_code_is_resumed(capfd):
    panic = panic_class()
    capfd.readouterr()
    error = error_of(SimpleMovingAverage(2).next, RaisingFloat(panic("from python")))
    assert type(error) is panic and error.args == ("from python",)
    assert "from python" in capfd.readouterr().err


def test_panic_exception_shape():
    panic = panic_class()
    assert issubclass(panic, BaseException) and not issubclass(panic, Exception)
    assert (panic.__module__, panic.__name__) == ("barworks_runtime", "PanicException")
    assert panic.__doc__ and not hasattr(_barworks, "PanicException")
    with pytest.raises(BaseException) as caught:
        try:
            SimpleMovingAverage(268435456)
        except Exception:  # must not catch it
            pytest.fail("PanicException was caught as an Exception")
    assert caught.value.args == ("capacity overflow",)


@pytest.mark.parametrize("row", FLOAT_STREAMS, ids=repr)
def test_reentrant_call_is_refused_and_leaves_state_untouched(row):
    target, twin = row.make(), row.make()
    for value in (1.0, 4.0):
        target.next(value), twin.next(value)
    error = error_of(target.next, CallsBack(target.reset, 100.0))
    assert (type(error), str(error)) == (RuntimeError, "Already borrowed")
    assert target.next(7.0) == twin.next(7.0)


def test_shared_access_is_refused_while_held_exclusively():
    low = Minimum(3)
    error = error_of(low.next, CallsBack(low.find_min_index))
    assert (type(error), str(error)) == (RuntimeError, "Already mutably borrowed")
    assert low.next(2.0) == 2.0 and low.find_min_index() == 0


def test_shared_access_nests():
    bar = Bar(1.0, 2.0, 0.5, 1.5, 10)
    seen = []
    close = CallsBack(lambda: seen.append(_barworks.TrueRange().next(bar)), 3.0)
    Bar(close, 2.0, 0.5, close, 1)  # conversions run while nothing is held
    assert seen == [1.5, 1.5]


def test_failed_conversion_releases_access():
    average = SimpleMovingAverage(2)
    error_of(average.next, "x")
    assert average.next(4.0) == 4.0 and average.period() == 2
