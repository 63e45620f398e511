"""Random call sequences on every class, compared bit for bit with its model.

One state machine per table row (the `_barworks` classes and barworks.classic)
keeps a few live instances, each beside its model, and applies random
constructions, `next` calls with hostile arguments, re-entrant conversions,
bad bindings, resets, accessors, deallocations, peeks and checkpoint round
trips (state and restore, pickle, copy), with `feed` and `feed_bars` too in
the machines that test_batch_stateful.py runs. A refused call leaves the
model where it was, so any change a refused call made to an instance shows
up in a later result; a refused companion call is also checked against the
instance's stored state directly.
"""

import array
import contextlib
import copy
import functools
import pickle
import warnings

import pytest
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, precondition, rule, run_state_machine_as_test

import _barworks
import barworks
from barworks import classic
from profiles import shared_among
from hostile import F64, Refusal, Value, arguments, convert, convert_bar, plain_floats
from classes import (
    CLASSIC_ROWS, CONSTRUCTED, EXCLUSIVE, SHARED, STREAMS, model_input, same_accessor, same_result,
)
from batch_streams import array_bits, bits

ROWS = CONSTRUCTED + CLASSIC_ROWS

LIVE_LIMIT = 4


class Live:
    def __init__(self, row, native, model, converted):
        self.row, self.native, self.model, self.converted = row, native, model, converted


def expect(call, outcome):
    """Runs `call` and checks it gives `outcome` (a Refusal); returns None.
    For any other outcome, returns what the call gave."""
    if isinstance(outcome, Refusal):
        with pytest.raises(BaseException) as caught:
            call()
        outcome.check(caught.value)
        return None
    return call()


@contextlib.contextmanager
def strict_warnings():
    """Deprecation warnings raised as errors, in the module and the model alike."""
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        yield


def construction_outcome(row, given):
    """The first conversion refusal, else the class's own check, else the
    converted arguments."""
    converted = []
    for (name, kind), value in zip(row.parameters, given):
        outcome = convert(kind, name, value)
        if isinstance(outcome, Refusal):
            return outcome
        converted.append(outcome.value)
    return row.refusal(*converted) or Value(tuple(converted))


@functools.cache
def bar_inputs():
    def make(fields):
        return _barworks.Bar(*fields, 0)
    return st.tuples(plain_floats(), plain_floats(), plain_floats(), plain_floats()).map(make)


@functools.cache
def inputs(row):
    if row.input == "bar":
        return st.one_of(bar_inputs(), bar_inputs(), arguments(F64))
    return arguments(F64)


def input_outcome(row, value):
    if row.input == "bar":
        return convert_bar("input", value, row.module == "barworks.classic")
    return convert(F64, "input", value)


class Reentrant:
    """A number whose conversion first runs `action`, remembering what it
    gave or raised, then returns `result`; `swallow` keeps the action's
    exception from leaving the conversion."""

    def __init__(self, action, result, swallow):
        self.action, self.result, self.swallow = action, result, swallow
        self.raised = None

    def _run(self):
        try:
            self.action()
        except Exception as error:
            self.raised = error
            if not self.swallow:
                raise
        return self.result


class ReentrantFloat(Reentrant):
    def __float__(self):
        return self._run()


class ReentrantIndex(Reentrant):
    def __index__(self):
        return self._run()


def busy(access):
    """What a nested call taking `access` raises while `next` holds the instance."""
    return "Already borrowed" if access == EXCLUSIVE else "Already mutably borrowed"


COPIES = {
    "restore": lambda obj: barworks.restore(barworks.state(obj)),
    "restore from a buffer": lambda obj: barworks.restore(memoryview(barworks.state(obj))),
    "pickle": lambda obj: pickle.loads(pickle.dumps(obj, pickle.HIGHEST_PROTOCOL)),
    "pickle 0": lambda obj: pickle.loads(pickle.dumps(obj, 0)),
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}

# Forms of a chunk of numbers for feed: (name, build from the items).
NUMBER_FORMS = {
    "list": list,
    "tuple": tuple,
    "array('d')": lambda items: array.array("d", map(float, items)),
}


def warm_answers(row, got, want, warmup):
    """Whether feed's answers (bits) are the loop's: with warmup="nan" a
    `_barworks` object may blank a leading run, a classic one never differs."""
    if warmup == "value" or row.module == "barworks.classic":
        return got == want
    cut = max((i + 1 for i, pair in enumerate(zip(got, want)) if pair[0] != pair[1]), default=0)
    return all(map(blank, got[:cut])) and got[cut:] == want[cut:]


def blank(answer):
    parts = answer if isinstance(answer[0], tuple) else (answer,)
    return all(part[0] == "nan" for part in parts)


@functools.cache
def chunks(row):
    if row.input == "bar":
        return st.lists(bar_inputs(), max_size=8)
    return st.lists(st.one_of(plain_floats(), st.integers(-(2**60), 2**60)), max_size=8)


@functools.cache  # hypothesis keeps per-class caches: one class per row
def machine_for(row, batch=False):
    parameters = row.parameters

    class Machine(RuleBasedStateMachine):
        def __init__(self):
            super().__init__()
            self.live = []

        # -------------------------------------------------------- helpers

        def keep(self, live):
            self.live.append(live)
            if len(self.live) > LIVE_LIMIT:
                del self.live[0]  # deallocated here

        def pick(self, data):
            return self.live[data.draw(st.integers(0, len(self.live) - 1))]

        def feed(self, live, value, keyword=False):
            """Calls next with `value`, which must convert without side
            effects; returns its answer."""
            with strict_warnings():
                outcome = input_outcome(live.row, value)
                if keyword:
                    got = expect(lambda: live.native.next(input=value), outcome)
                else:
                    got = expect(lambda: live.native.next(value), outcome)
            if isinstance(outcome, Value):
                want = live.model.next(*model_input(live.row, outcome.value))
                assert same_result(live.row, got, want), (value, got, want)
            return got

        def batch_against_twin(self, live, call, items, warmup="value"):
            """Makes a feed call for `items` (plain inputs) and checks it
            against a loop of next on a restored twin, which the model follows."""
            twin = barworks.restore(barworks.state(live.native))
            got = array_bits(call())
            answers = [twin.next(item) for item in items]
            assert warm_answers(row, got, [bits(answer) for answer in answers], warmup), (items, got)
            for item, answer in zip(items, answers):
                want = live.model.next(*model_input(row, input_outcome(row, item).value))
                assert same_result(row, answer, want), (item, answer, want)
            assert barworks.state(live.native) == barworks.state(twin)

        def check_accessors(self, live):
            for method, _, expected in live.row.accessors:
                got = getattr(live.native, method)()
                assert same_accessor(got, expected(live.model, live.converted)), method

        # -------------------------------------------------------- rules

        @rule(given=row.arguments, by_keyword=st.booleans())
        def construct(self, given, by_keyword):
            if by_keyword:
                native = row.cls(**{name: value for (name, _), value in zip(parameters, given)})
            else:
                native = row.cls(*given)
            self.keep(Live(row, native, row.new_model(given), given))

        @rule(data=st.data())
        def construct_hostile(self, data):
            given = [data.draw(arguments(kind), label=name) for name, kind in parameters]
            with strict_warnings():
                outcome = construction_outcome(row, given)
                native = expect(lambda: row.cls(*given), outcome)
            if isinstance(outcome, Value):
                self.keep(Live(row, native, row.new_model(outcome.value), outcome.value))

        @precondition(lambda self: parameters and any(live.row.input for live in self.live))
        @rule(data=st.data(), given=row.arguments)
        def construct_while_feeding_another(self, data, given):
            # The first argument's conversion feeds a live instance: nothing
            # is held while constructor arguments convert, so it succeeds.
            streams = [live for live in self.live if live.row.input]
            other = streams[data.draw(st.integers(0, len(streams) - 1))]
            value = data.draw(plain_floats() if other.row.input == "float" else bar_inputs())
            seen = []
            first = ReentrantIndex(lambda: seen.append(other.native.next(value)), given[0], False)
            if parameters[0][1] == F64:
                first = ReentrantFloat(first.action, given[0], False)
            native = row.cls(first, *given[1:])
            want = other.model.next(*model_input(other.row, input_outcome(other.row, value).value))
            assert len(seen) == 1 and same_result(other.row, seen[0], want)
            self.keep(Live(row, native, row.new_model(given), given))

        if row.input is not None:

            @precondition(lambda self: self.live)
            @rule(data=st.data(), value=inputs(row), keyword=st.booleans())
            def feed_next(self, data, value, keyword):
                self.feed(self.pick(data), value, keyword)

            @precondition(lambda self: self.live)
            @rule(data=st.data(), binding=st.sampled_from(["none", "two", "unknown", "twice"]))
            def next_with_bad_binding(self, data, binding):
                native = self.pick(data).native
                full = f"{row.name}.next()"
                calls = {
                    "none": (lambda: native.next(),
                             f"{full} missing 1 required positional argument: 'input'"),
                    "two": (lambda: native.next(1.0, 2.0),
                            f"{full} takes 1 positional arguments but 2 were given"),
                    "unknown": (lambda: native.next(value=1.0),
                                f"{full} got an unexpected keyword argument 'value'"),
                    "twice": (lambda: native.next(1.0, input=1.0),
                              f"{full} got multiple values for argument 'input'"),
                }
                call, message = calls[binding]
                expect(call, Refusal(TypeError, message))

            @precondition(lambda self: self.live)
            @rule(data=st.data())
            def reset(self, data):
                live = self.pick(data)
                assert live.native.reset() is None
                live.model.reset()

        if row.input == "float":

            @precondition(lambda self: self.live)
            @rule(data=st.data(),
                  action=st.sampled_from(["next", "reset", "accessor", "sibling", "other class",
                                          "drop sibling", "construct"]),
                  through=st.sampled_from([ReentrantFloat, ReentrantIndex]),
                  swallow=st.booleans())
            def next_reentrant(self, data, action, through, swallow):
                live = self.pick(data)
                others = [k for k, other in enumerate(self.live) if other is not live]
                if action in ("sibling", "drop sibling") and not others:
                    action = "construct"
                if action == "accessor" and not row.accessors:
                    action = "next"
                refusal = None  # the message the nested call must raise
                check_after = []  # checks of what the nested call did

                if action == "next":
                    nested, refusal = (lambda: live.native.next(1.0)), busy(EXCLUSIVE)
                elif action == "reset":
                    nested, refusal = live.native.reset, busy(EXCLUSIVE)
                elif action == "accessor":
                    method, access, _ = data.draw(st.sampled_from(row.accessors))
                    nested = getattr(live.native, method)
                    refusal = busy(access)
                elif action == "sibling":
                    sibling = self.live[others[data.draw(st.integers(0, len(others) - 1))]]
                    value = data.draw(plain_floats())
                    seen = []
                    nested = lambda: seen.append(sibling.native.next(value))  # noqa: E731

                    def check_sibling():
                        want = sibling.model.next(value)
                        assert len(seen) == 1 and same_result(row, seen[0], want)

                    check_after.append(check_sibling)
                elif action == "drop sibling":
                    # Only the list holds the sibling: it is deallocated
                    # while the target's conversion runs.
                    doomed = others[data.draw(st.integers(0, len(others) - 1))]
                    nested = lambda: self.live.pop(doomed)  # noqa: E731
                elif action == "other class":
                    other_row = STREAMS[data.draw(st.integers(0, len(STREAMS) - 1))]
                    given = data.draw(other_row.arguments)
                    value = data.draw(bar_inputs() if other_row.input == "bar" else plain_floats())
                    seen = []
                    nested = lambda: seen.append(other_row.cls(*given).next(value))  # noqa: E731

                    def check_other():
                        model = other_row.new_model(given)
                        converted = input_outcome(other_row, value).value
                        want = model.next(*model_input(other_row, converted))
                        assert len(seen) == 1 and same_result(other_row, seen[0], want)

                    check_after.append(check_other)
                else:  # construct
                    given = data.draw(row.arguments)
                    def nested():
                        self.keep(Live(row, row.cls(*given), row.new_model(given), given))

                if through is ReentrantFloat:
                    result = data.draw(plain_floats())
                    converted = result
                else:
                    result = data.draw(st.integers(-(2**60), 2**60))
                    converted = float(result)
                argument = through(nested, result, swallow)

                if refusal is not None and not swallow:
                    expect(lambda: live.native.next(argument), Refusal(RuntimeError, refusal))
                else:
                    got = live.native.next(argument)
                    want = live.model.next(converted)
                    assert same_result(row, got, want), (got, want)
                if refusal is not None:
                    assert type(argument.raised) is RuntimeError and str(argument.raised) == refusal
                else:
                    assert argument.raised is None
                for check in check_after:
                    check()

        if row.input is not None:

            @precondition(lambda self: self.live)
            @rule(data=st.data(), value=inputs(row), keyword=st.booleans())
            def peek(self, data, value, keyword):
                # The answer next gives, and nothing changed.
                live = self.pick(data)
                before = barworks.state(live.native)
                name = "bar" if row.input == "bar" else "value"
                look = getattr(barworks, "peek_bar" if row.input == "bar" else "peek")
                with strict_warnings():
                    outcome = (convert_bar(name, value, row.module == "barworks.classic")
                               if row.input == "bar"
                               else convert(F64, name, value))
                    if keyword:
                        got = expect(lambda: look(live.native, **{name: value}), outcome)
                    else:
                        got = expect(lambda: look(live.native, value), outcome)
                assert barworks.state(live.native) == before
                if isinstance(outcome, Value):
                    plain = value if row.input == "bar" else outcome.value
                    assert bits(got) == bits(self.feed(live, plain))

        @precondition(lambda self: self.live)
        @rule(data=st.data(), way=st.sampled_from(sorted(COPIES)), replace=st.booleans())
        def round_trip(self, data, way, replace):
            # The copy stores back byte for byte; in the original's place it
            # continues as the model does.
            live = self.pick(data)
            if way == "pickle 0" and row.input is None:
                way = "pickle"  # a Bar pickles by its fields: protocol 0's text drops a NaN's sign
            stored = barworks.state(live.native)
            twin = COPIES[way](live.native)
            assert type(twin) is type(live.native) and twin is not live.native
            assert barworks.state(twin) == stored == barworks.state(live.native)
            if replace:
                live.native = twin

        if batch and row.input is not None:

            @precondition(lambda self: self.live)
            @rule(data=st.data(), items=chunks(row), form=st.sampled_from(sorted(NUMBER_FORMS)),
                  warmup=st.sampled_from(["value", "nan"]))
            def feed_chunk(self, data, items, form, warmup):
                live = self.pick(data)
                if row.input == "bar" and form == "list":
                    call = lambda: barworks.feed_bars(live.native, items, warmup=warmup)  # noqa: E731
                elif row.input == "bar":
                    columns = [NUMBER_FORMS[form]([getattr(bar, side)() for bar in items])
                               for side in ("high", "low", "close")]
                    call = lambda: barworks.feed_bars(live.native, *columns, warmup=warmup)  # noqa: E731
                else:
                    values = NUMBER_FORMS[form](items)
                    call = lambda: barworks.feed(live.native, values, warmup=warmup)  # noqa: E731
                if warmup == "nan" and row.result == "signal":
                    before = barworks.state(live.native)
                    expect(call, Refusal(ValueError, f"argument 'warmup': {row.name} answers int8 "
                                         "signal codes, which have no NaN; use warmup='value'"))
                    assert barworks.state(live.native) == before
                    return
                self.batch_against_twin(live, call, items, warmup)

        if row.input == "float":
            # A number whose conversion calls back into the object it is
            # given to: the inner call is refused, and the outer call too
            # unless the conversion swallows that.
            inner_calls = ["next", "peek", "state", "copy"] + (["feed"] if batch else [])
            outer_calls = ["next", "peek"] + (["feed"] if batch else [])

            @precondition(lambda self: self.live)
            @rule(data=st.data(), inner=st.sampled_from(inner_calls),
                  outer=st.sampled_from(outer_calls), swallow=st.booleans(), result=plain_floats())
            def companion_reentrant(self, data, inner, outer, swallow, result):
                live = self.pick(data)
                native = live.native
                nested, refusal = {
                    "next": (lambda: native.next(1.0), busy(EXCLUSIVE)),
                    "peek": (lambda: barworks.peek(native, 1.0), busy(EXCLUSIVE)),
                    "feed": (lambda: barworks.feed(native, [1.0]), busy(EXCLUSIVE)),
                    "state": (lambda: barworks.state(native), busy(SHARED)),
                    "copy": (lambda: copy.copy(native), busy(SHARED)),
                }[inner]
                argument = ReentrantFloat(nested, result, swallow)
                before = barworks.state(native)
                call = {
                    "next": lambda: native.next(argument),
                    "peek": lambda: barworks.peek(native, argument),
                    "feed": lambda: barworks.feed(native, [1.0, argument]),
                }[outer]
                if not swallow:
                    expect(call, Refusal(RuntimeError, refusal))
                    assert barworks.state(native) == before
                elif outer == "peek":
                    got = call()
                    assert barworks.state(native) == before
                    assert bits(got) == bits(self.feed(live, result))
                elif outer == "next":
                    twin = barworks.restore(before)
                    got = call()
                    assert bits(got) == bits(twin.next(result))
                    assert same_result(row, got, live.model.next(result))
                else:
                    self.batch_against_twin(live, call, [1.0, result])
                assert type(argument.raised) is RuntimeError and str(argument.raised) == refusal

        @precondition(lambda self: self.live)
        @rule(data=st.data())
        def accessors(self, data):
            self.check_accessors(self.pick(data))

        @precondition(lambda self: self.live)
        @rule(data=st.data())
        def drop(self, data):
            self.live.remove(self.pick(data))

        def teardown(self):
            # A last ordinary step on every instance shows any state that a
            # refused call disturbed and no later step looked at.
            for live in self.live:
                self.check_accessors(live)
                if live.row.input == "float":
                    self.feed(live, 2.5)
                elif live.row.input == "bar":
                    self.feed(live, _barworks.Bar(1.0, 3.0, 0.5, 2.0, 1))

    Machine.__name__ = f"{row.label.replace('.', '_')}Machine"
    return Machine


@pytest.mark.parametrize("row", ROWS, ids=repr)
def test_random_call_sequences_match_the_model(row):
    run_state_machine_as_test(machine_for(row), settings=shared_among(len(ROWS), 0.8))


def test_every_class_has_a_row():
    assert sorted(row.name for row in CONSTRUCTED) == sorted(set(_barworks.__all__) - {"Signal"})
    # The machines cover the classic classes whose own checks have a model
    # here (refusals, capacity); the others are driven by the classic table.
    assert {row.name for row in CLASSIC_ROWS} <= set(classic.__all__)
