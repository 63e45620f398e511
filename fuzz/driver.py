"""Turns a fuzz input into a sequence of calls on every class of _barworks
and barworks.classic, and into the companion's calls on live objects.

Each input is read as a stream of small decisions: which call to make, on
which live instance, how to bind it and with which arguments (exact floats
of every class, ints, bools, subclasses, objects whose `__float__` or
`__index__` raises, returns the wrong thing, or calls back into the module).
Every call is checked as it returns: a refused call must raise exactly the
exception the binding rules, the conversion account of hostile.py or the
class's own checks give; an accepted one must match its class's model bit for
bit, and leaves the model one step further. Each streaming object also has
a twin given only the plain converted inputs through next: its answers must
equal the object's to the bit, a NaN's sign included, whether the object
answered through next, feed, feed_bars or peek. A peek and a refused call
leave the stored state (barworks.state) as it was; a copy through restore,
pickle or copy stores back byte for byte and takes the original's place.
Anything else is a failure: the harness reports it and aborts, which
libFuzzer records as a crash.

Run on its own, `python3.14 fuzz/driver.py FILE...` replays inputs against
whichever build of the module is importable.
"""

import array
import copy
import ctypes
import os
import pickle
import struct
import sys
import traceback
import warnings

_TESTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests")
sys.path[:0] = [os.path.normpath(_TESTS), os.path.normpath(os.path.join(_TESTS, "reliability"))]

import _barworks  # noqa: E402
import barworks  # noqa: E402
import numpy  # noqa: E402
from hostile import (  # noqa: E402
    ERRORS, F64, HUGE_INTS, ODD_FLOAT_RESULTS, ODD_INDEX_RESULTS, OTHER_OBJECTS, PANIC,
    SPECIAL_FLOATS, U32, FloatSubclass, FloatSubclassWithFloat, Index, IntSubclass,
    IntSubclassWithFloat, IntSubclassWithIndex, Real, RealIndex, Refusal, Value,
    _from_conversion, convert, convert_bar, raising,
)
from classes import (  # noqa: E402
    CAPACITY, CLASSIC_ROWS, CONSTRUCTED as MODULE_ROWS, EXCLUSIVE, SHARED, WINDOW_LIMIT,
    model_input, same_accessor, same_result,
)
from batch_streams import array_bits, bits  # noqa: E402

CONSTRUCTED = MODULE_ROWS + CLASSIC_ROWS

LIVE_LIMIT = 6
# Valid periods above this are skipped where they would allocate windows:
# the model would be as large, and the run as slow.
LARGEST_WINDOW = 4096


class Mismatch(BaseException):
    """A call that did not do what it must; never caught by the calls' checks."""


class Exhausted(Exception):
    """The input has no more bytes."""


class Source:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, count):
        if self.at + count > len(self.data):
            raise Exhausted
        chunk = self.data[self.at:self.at + count]
        self.at += count
        return chunk

    def byte(self):
        return self.take(1)[0]

    def below(self, bound):
        return self.byte() % bound

    def pick(self, items):
        return items[self.below(len(items))]

    def double(self):
        return struct.unpack("<d", self.take(8))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def flag(self):
        return self.byte() & 1 == 1


class Name(str):
    """A keyword name that is a str subclass; the frame compares its text."""


class FailingName(str):
    """A keyword name with no text for an error message."""

    def __str__(self):
        raise ValueError("no text for this name")


class Unprintable:
    def __init__(self, raised):
        self.raised = raised

    def __str__(self):
        raise self.raised()


class UnprintableError:
    """Its conversion raises a TypeError whose text asks to end the process
    or interrupts it: the frame cannot word the argument error."""

    def __init__(self, raised):
        self.raised = raised

    def _raise(self):
        raise TypeError(Unprintable(self.raised))

    def __float__(self):
        self._raise()

    def __index__(self):
        self._raise()


API_FAILURE = Refusal(PANIC, "Python API call failed")

# An instance as the interpreter allocates it, before any constructor runs,
# as an overridden __new__ would hand it out.
_allocate = ctypes.pythonapi.PyType_GenericAlloc
_allocate.restype, _allocate.argtypes = ctypes.py_object, (ctypes.py_object, ctypes.c_ssize_t)


def never_built(cls):
    return _allocate(cls, 0)


class Reentrant:
    """A number whose conversion first runs `action` (a checked call that
    re-raises what the module raised), remembering what escaped it, then
    returns `result`; with `swallow` the action's exception stays inside."""

    def __init__(self, action, result, swallow):
        self.action, self.result, self.swallow = action, result, swallow
        self.raised = None

    def _run(self):
        try:
            self.action()
        except Mismatch:
            raise
        except BaseException as error:
            if not self.swallow:
                self.raised = error
                raise
        return self.result

    def outcome(self, kind, name):
        if self.raised is not None:
            return _from_conversion(self.raised, name)
        return convert(kind, name, self.result)


class ReentrantFloat(Reentrant):
    def __float__(self):
        return self._run()


class ReentrantIndex(Reentrant):
    def __index__(self):
        return self._run()


class Live:
    def __init__(self, row, native, model, converted):
        self.row, self.native, self.model, self.converted = row, native, model, converted
        self.twin = row.cls(*converted) if row.input else None

    def plain(self, converted):
        """What the twin's next takes for a converted input."""
        return _barworks.Bar(0.0, *converted, 0) if self.row.input == "bar" else converted


def binding(full, names, positional, keywords, defaults=()):
    """The binding refusal for a call, or the arguments in declaration order."""
    if len(positional) > len(names):
        count = len(positional)
        return Refusal(TypeError, f"{full} takes {len(names)} positional arguments but {count} "
                                  f"{'was' if count == 1 else 'were'} given")
    slots = dict(zip(names, positional))
    for name, value in keywords:
        if type(name) is FailingName and str.__str__(name) not in names:
            return API_FAILURE
        if str.__str__(name) not in names:
            return Refusal(TypeError, f"{full} got an unexpected keyword argument '{name}'")
        if name in slots:
            return Refusal(TypeError, f"{full} got multiple values for argument '{name}'")
        slots[str.__str__(name)] = value
    for name, value in zip(names[len(names) - len(defaults):], defaults):
        slots.setdefault(name, value)
    missing = [f"'{name}'" for name in names if name not in slots]
    if missing:
        listed = (missing[0] if len(missing) == 1 else " and ".join(missing) if len(missing) == 2
                  else ", ".join(missing[:-1]) + ", and " + missing[-1])
        return Refusal(TypeError, f"{full} missing {len(missing)} required positional "
                                  f"argument{'s' if len(missing) > 1 else ''}: {listed}")
    return [slots[name] for name in names]


def busy(access):
    return Refusal(RuntimeError,
                   "Already borrowed" if access == EXCLUSIVE else "Already mutably borrowed")


def grows_windows(row, converted):
    """Whether valid arguments could allocate a window above LARGEST_WINDOW
    (before another argument is refused, too): the class allocates windows
    (its periods all past the limit are refused for capacity) and one of
    the periods lies between LARGEST_WINDOW and the limit."""
    kinds = [kind for _, kind in row.parameters]
    past_limit = [WINDOW_LIMIT + i if kind == U32 else 0.0 for i, kind in enumerate(kinds)]
    return row.refusal(*past_limit) is CAPACITY and any(
        kind == U32 and LARGEST_WINDOW < value < WINDOW_LIMIT
        for kind, value in zip(kinds, converted))


class Run:
    def __init__(self, data):
        self.source = Source(data)
        self.live = []
        self.held = {}  # id of a native instance inside a call: the access it holds
        self.depth = 0

    # ------------------------------------------------------------ checking

    def check(self, call, outcome, what):
        """Makes `call` and checks it against `outcome`, a Refusal or not;
        returns what it gave. A refusal is raised again, as the module raised it,
        so that it escapes a conversion that made the call."""
        try:
            got = call()
        except Mismatch:
            raise
        except BaseException as error:
            if not isinstance(outcome, Refusal):
                raise Mismatch(f"{what}: raised {error!r}, expected {outcome!r}") from error
            try:
                outcome.check(error)
            except AssertionError as failed:
                raise Mismatch(f"{what}: raised {error!r}, expected {outcome!r}") from failed
            raise
        if isinstance(outcome, Refusal):
            raise Mismatch(f"{what}: gave {got!r}, expected {outcome!r}")
        return got

    def refused(self, call, outcome, what):
        """A call that must be refused; inside a conversion the refusal
        escapes, as it would from a caller's own __float__."""
        try:
            self.check(call, outcome, what)
        except Mismatch:
            raise
        except BaseException:
            if self.depth:
                raise

    def held_call(self, native, access, call):
        self.held[id(native)] = access
        try:
            return call()
        finally:
            del self.held[id(native)]

    # ------------------------------------------------------------ arguments

    def argument(self, kind, depth_allowed=True):
        """An argument for a parameter of `kind`, with side effects only
        when it is a Reentrant."""
        source = self.source
        choice = source.below(24)
        if kind == U32 and choice < 8:
            return source.pick((1, 2, 3, 4, 5, 7, 16, 0))
        if kind == U32 and choice < 12:
            return source.pick((WINDOW_LIMIT - 1, WINDOW_LIMIT, WINDOW_LIMIT + 1, LARGEST_WINDOW,
                                2**31, 2**32 - 1, 2**32, 2**64 - 1, 2**64, -1, -(2**64), 300))
        if choice < 6:
            return source.double()
        if choice < 9:
            return source.pick(SPECIAL_FLOATS)
        if choice < 12:
            return source.below(256) - 128
        if choice == 12:
            return source.pick(HUGE_INTS + (True, False))
        if choice == 13:
            cls = source.pick((FloatSubclass, FloatSubclassWithFloat))
            return cls(source.double())
        if choice == 14:
            cls = source.pick((IntSubclass, IntSubclassWithFloat, IntSubclassWithIndex))
            return cls(source.below(8))
        if choice == 15:
            return Real(source.pick(ODD_FLOAT_RESULTS + (source.double(),)))
        if choice == 16:
            return Index(source.pick(ODD_INDEX_RESULTS + (source.below(8), WINDOW_LIMIT)))
        if choice == 17:
            return RealIndex(source.double(), source.below(8))
        if choice == 18:
            return raising(source.pick(sorted(ERRORS)), source.pick(("__float__", "__index__")))
        if choice == 19:
            if source.flag():
                return UnprintableError(source.pick((SystemExit, KeyboardInterrupt, ValueError)))
            return source.pick(OTHER_OBJECTS)
        if depth_allowed and self.depth < 2:
            return self.reentrant(kind)
        return source.pick((1, 2, 3)) if kind == U32 else source.double()

    def reentrant(self, kind):
        source = self.source
        action = self.nested_action()
        swallow = source.flag()
        if kind == F64 and source.flag():
            return ReentrantFloat(action, source.double(), swallow)
        return ReentrantIndex(action, source.pick((1, 2, 3, 5, 0, -1, 2**32)), swallow)

    def nested_action(self):
        """A checked call to run from inside a conversion."""
        source = self.source
        step = source.below(len(self.STEPS))

        def action():
            self.depth += 1
            try:
                self.STEPS[step](self)
            except Exhausted:
                pass
            finally:
                self.depth -= 1

        return action

    def outcome(self, kind, name, value):
        if isinstance(value, Reentrant):
            return value.outcome(kind, name)
        if isinstance(value, UnprintableError):
            return API_FAILURE
        return convert(kind, name, value)

    def shape(self, names, values):
        """Binds `values` for parameters `names` one way or another, most
        often soundly: (positional, keywords)."""
        source = self.source
        shape = source.below(12)
        positional, keywords = list(values), []
        if shape == 1:
            positional, keywords = [], list(zip(names, values))
        elif shape == 2 and names:
            split = source.below(len(names) + 1)
            positional, keywords = values[:split], list(zip(names[split:], values[split:]))
            if source.flag():
                keywords.reverse()
            keywords = [(Name(name) if source.flag() else name, value) for name, value in keywords]
        elif shape == 3:
            positional.append(self.argument(F64, False))
        elif shape == 4 and names:
            keywords = [(source.pick(names), self.argument(F64, False))]
        elif shape == 5:
            name = source.pick(("value", "x", "periods", "Period", "input_", "rf ", ""))
            keywords = [(FailingName(name) if source.flag() else name, self.argument(F64, False))]
        elif shape == 6 and names:
            positional = positional[:source.below(len(names))]
        return positional, keywords

    # ------------------------------------------------------------ steps

    def keep(self, live):
        self.live.append(live)
        if len(self.live) > LIVE_LIMIT:
            del self.live[self.source.below(len(self.live))]

    def pick_live(self, streaming=False):
        candidates = [live for live in self.live if live.row.input or not streaming]
        if not candidates:
            return None
        return candidates[self.source.below(len(candidates))]

    def construct(self):
        row = self.source.pick(CONSTRUCTED)
        names = [name for name, _ in row.parameters]
        full = f"{row.name}.__new__()"
        values = [self.argument(kind) for _, kind in row.parameters]
        positional, keywords = self.shape(names, values)
        call = lambda: row.cls(*positional, **dict(keywords))  # noqa: E731
        bound = binding(full, names, positional, keywords, row.defaults)
        if isinstance(bound, Refusal):
            self.refused(call, bound, full)
            return
        if self.too_large(row, bound):
            return
        native, failure = self.attempt(call)
        converted = []
        for (name, kind), value in zip(row.parameters, bound):
            outcome = self.outcome(kind, name, value)
            if isinstance(outcome, Refusal):
                break
            converted.append(outcome.value)
        else:
            outcome = row.refusal(*converted) or Value(tuple(converted))
        what = f"{row.label}{tuple(bound)!r}"
        if self.settled_refusal(what, outcome, native, failure):
            return
        if type(native) is not row.cls:
            raise Mismatch(f"{what}: built {native!r}")
        converted = tuple(converted)
        live = Live(row, native, row.new_model(converted) if row.input else None, converted)
        self.keep(live)
        self.accessors(live)

    def too_large(self, row, bound):
        """Whether a construction that must succeed would allocate windows
        above LARGEST_WINDOW. Windows at the limit or above must be refused
        before anything is allocated; the harness's allocation limit
        catches an attempt."""
        plain = []
        for (name, kind), value in zip(row.parameters, bound):
            outcome = self.outcome(kind, name,
                                   value.result if isinstance(value, Reentrant) else value)
            plain.append(outcome.value if isinstance(outcome, Value) else 0)
        return grows_windows(row, plain)

    def attempt(self, call):
        """Makes a call whose outcome is known only once it has run: (what it
        gave, what it raised)."""
        try:
            return call(), None
        except Mismatch:
            raise
        except BaseException as error:
            return None, error

    def settled_refusal(self, what, outcome, got, failure):
        """Checks a call against a refusal it must have made, or that it
        made none; True when it was refused. A refusal inside a conversion
        is raised again so that it escapes it, as the module raised it."""
        if isinstance(outcome, Refusal):
            if failure is None:
                raise Mismatch(f"{what}: gave {got!r}, expected {outcome!r}")
            try:
                outcome.check(failure)
            except AssertionError as failed:
                raise Mismatch(f"{what}: raised {failure!r}, expected {outcome!r}") from failed
            if self.depth:
                raise failure
            return True
        if failure is not None:
            raise Mismatch(f"{what}: raised {failure!r}, expected {outcome!r}") from failure
        return False

    def feed(self, live=None):
        live = live or self.pick_live(streaming=True)
        if live is None:
            return
        source = self.source
        if live.row.input == "bar" and source.below(4):
            value = self.bar()
        elif live.row.input == "float" and source.flag():
            value = source.double() if source.flag() else source.pick(SPECIAL_FLOATS)
        else:
            value = self.argument(F64)
        full = f"{live.row.name}.next()"
        native = live.native
        positional, keywords = [value], []
        if source.below(3) == 0:
            positional, keywords = self.shape(["input"], [value])
        call = lambda: native.next(*positional, **dict(keywords))  # noqa: E731
        bound = binding(full, ["input"], positional, keywords)
        if isinstance(bound, Refusal):
            self.refused(call, bound, full)
            return
        if id(native) in self.held:
            self.refused(call, busy(EXCLUSIVE), full)
            return
        before = barworks.state(native)
        got, failure = self.attempt(lambda: self.held_call(native, EXCLUSIVE, call))
        (argument,) = bound
        if live.row.input == "bar":
            outcome = convert_bar("input", argument, live.row.module == "barworks.classic")
        else:
            outcome = self.outcome(F64, "input", argument)
        if failure is not None:
            self.unchanged(native, before, full)
        self.settle(live, full, argument, outcome, got, failure)

    def settle(self, live, what, argument, outcome, got, failure):
        what = f"{what}({argument!r})"
        if self.settled_refusal(what, outcome, got, failure):
            return
        self.step_twin(live, what, outcome.value, bits(got))

    def step_twin(self, live, what, converted, got):
        """Steps the twin and the model with a converted input; `got`, the
        object's answer in bits, must be the twin's, and the twin's the model's."""
        answer = live.twin.next(live.plain(converted))
        if got != bits(answer):
            raise Mismatch(f"{what} gave {got!r}, its twin {answer!r}")
        want = live.model.next(*model_input(live.row, converted))
        if not same_result(live.row, answer, want):
            raise Mismatch(f"{what} gave {answer!r}, the model {want!r}")

    def unchanged(self, native, before, what):
        if barworks.state(native) != before:
            raise Mismatch(f"{what} changed the stored state")

    def bar(self):
        source = self.source
        fields = [source.double() if source.below(4) else source.pick(SPECIAL_FLOATS)
                  for _ in range(4)]
        return _barworks.Bar(*fields, source.below(256))

    def reset(self, live=None):
        live = live or self.pick_live(streaming=True)
        if live is None:
            return
        if id(live.native) in self.held:
            self.refused(live.native.reset, busy(EXCLUSIVE), "reset")
            return
        if self.check(live.native.reset, None, "reset") is not None:
            raise Mismatch("reset() answered")
        live.model.reset()
        live.twin.reset()

    def accessors(self, live=None):
        live = live or self.pick_live()
        if live is None:
            return
        for method, access, expected in live.row.accessors:
            call = getattr(live.native, method)
            if id(live.native) in self.held:  # held exclusively by a next() in progress
                self.refused(call, busy(access), method)
                continue
            got = self.check(call, None, method)
            want = expected(live.model, live.converted)
            if not same_accessor(got, want):
                raise Mismatch(f"{live.row.label}.{method}() gave {got!r}, expected {want!r}")

    def misuse(self):
        """Arguments to methods that take none: the interpreter's TypeError."""
        live = self.pick_live()
        if live is None:
            return
        methods = [method for method, _, _ in live.row.accessors]
        if live.row.input:
            methods.append("reset")
        if not methods:
            return
        call = getattr(live.native, self.source.pick(methods))
        if self.source.flag():
            self.refused(lambda: call(1), Refusal(TypeError), "no-argument method")
        else:
            self.refused(lambda: call(x=1), Refusal(TypeError), "no-argument method")

    def drop(self):
        if self.live:
            del self.live[self.source.below(len(self.live))]

    def hollow(self):
        """Every call on an instance whose record was never built is refused,
        and so is reading a never-built Bar; freeing them is safe."""
        row = self.source.pick(CONSTRUCTED)
        hollow = never_built(row.cls)
        refusal = Refusal(TypeError, f"{row.name} object was not initialized by its constructor")
        for method, _, _ in row.accessors:
            self.refused(getattr(hollow, method), refusal, method)
        if row.input is not None:
            self.refused(hollow.reset, refusal, "reset")
            value = 1.0 if row.input == "float" else _barworks.Bar(1.0, 2.0, 0.5, 1.5, 1)
            self.refused(lambda: hollow.next(value), refusal, "next")
            look = barworks.peek if row.input == "float" else barworks.peek_bar
            self.refused(lambda: look(hollow, value), Refusal(TypeError), "peek")
            self.refused(lambda: barworks.feed(hollow, [1.0]), Refusal(TypeError), "feed")
        self.refused(lambda: barworks.state(hollow), Refusal(TypeError), "state")
        if row.name == "Bar":
            live = self.pick_live(streaming=True)
            if live is not None and live.row.input == "bar" and id(live.native) not in self.held:
                self.refused(lambda: live.native.next(hollow),
                             Refusal(TypeError, f"argument 'input': {refusal.message}"), "next")

    def signals(self):
        """Answers of a strategy compare with codes as whole integers."""
        signal = self.source.pick((_barworks.Signal.BUY, _barworks.Signal.SELL,
                                   _barworks.Signal.HOLD))
        code = int(signal)
        other = self.source.pick((0, 1, 2, True, False, 257, -254, 2**64, 1.0, None, "BUY",
                                  Index(1), Index(2**64 + 1), signal))
        want = other is signal or (type(other) in (int, bool) and other == code) or \
            (type(other) is Index and other.result == code)
        if (signal == other) is not want or (signal != other) is want:
            raise Mismatch(f"{signal!r} == {other!r} is not {want}")
        if repr(signal) != f"Signal.{('BUY', 'SELL', 'HOLD')[code]}":
            raise Mismatch(repr(signal))

    # ------------------------------------------------------------ companion

    def element(self, live):
        """An item of a chunk for feed: mostly numbers of every class, now
        and then a hostile one, or one that calls back into `live`."""
        source = self.source
        choice = source.below(16)
        if choice < 6:
            return source.double()
        if choice < 10:
            return source.pick(SPECIAL_FLOATS)
        if choice < 12:
            return source.below(256) - 128
        if choice == 12:
            return source.pick(HUGE_INTS + (True, False))
        if choice == 13 and self.depth < 2:
            return self.calls_back(live)
        return self.argument(F64)

    def calls_back(self, live):
        """A number whose conversion makes a call on `live` itself, which
        is held by then: every call on it is refused."""
        step = self.source.pick(self.ON_ONE)

        def action():
            self.depth += 1
            try:
                step(self, live)
            except Exhausted:
                pass
            finally:
                self.depth -= 1

        return ReentrantFloat(action, self.source.double(), self.source.flag())

    def chunk_outcome(self, names, columns):
        """The first refused item's Refusal, or the converted columns."""
        converted = []
        for name, column in zip(names, columns):
            values = []
            for i, item in enumerate(column):
                outcome = self.outcome(F64, f"{name}[{i}]", item)
                if isinstance(outcome, Refusal):
                    return outcome
                values.append(outcome.value)
            converted.append(values)
        return Value(converted)

    def chunk_form(self, items):
        """The items as a list or tuple, or, when they are all plain numbers,
        as an array of doubles or numpy's float64 or float32."""
        form = self.source.below(6)
        if form >= 3 and all(type(item) in (float, int, bool) and abs(item) < 2**53
                             for item in items):
            if form == 3:
                return array.array("d", map(float, items)), [float(x) for x in items]
            dtype = numpy.float64 if form == 4 else numpy.float32
            values = numpy.array([float(x) for x in items], dtype=dtype)
            return values, values.tolist()
        return (tuple(items) if form & 1 else list(items)), items

    def batch(self, live=None):
        """feed, or feed_bars with records or three columns, of a short chunk."""
        live = live or self.pick_live(streaming=True)
        if live is None:
            return
        source, native, row = self.source, live.native, live.row
        count = source.below(9)
        warmup = source.pick(("value", "value", "nan", None))
        options = {} if warmup is None else {"warmup": warmup}
        warmup = warmup or "value"
        if row.input == "bar" and source.flag():
            items = [self.bar() if source.below(6) else self.element(live)
                     for _ in range(count)]
            if source.flag():
                items = tuple(items)
            call = lambda: barworks.feed_bars(native, items, **options)  # noqa: E731
            what = f"feed_bars({row.label}, {items!r})"

            def outcome_of():
                # A sequence of bars is read alike for every class: a Bar or
                # any object with the five fields.
                for i, item in enumerate(items):
                    outcome = convert_bar(f"bars[{i}]", item, classic=True)
                    if isinstance(outcome, Refusal):
                        return outcome
                return Value(list(items))
        elif row.input == "bar":
            forms = [self.chunk_form([self.element(live) for _ in range(count)])
                     for side in ("high", "low", "close")]
            columns = [form for form, _ in forms]
            call = lambda: barworks.feed_bars(native, *columns, **options)  # noqa: E731
            what = f"feed_bars({row.label}, {columns!r})"

            def outcome_of():
                outcome = self.chunk_outcome(("high", "low", "close"), [items for _, items in forms])
                if isinstance(outcome, Refusal):
                    return outcome
                return Value([_barworks.Bar(0.0, *fields, 0) for fields in zip(*outcome.value)])
        else:
            values, items = self.chunk_form([self.element(live) for _ in range(count)])
            call = lambda: barworks.feed(native, values, **options)  # noqa: E731
            what = f"feed({row.label}, {values!r})"

            def outcome_of():
                outcome = self.chunk_outcome(("values",), [items])
                return outcome if isinstance(outcome, Refusal) else Value(outcome.value[0])
        no_nan = warmup == "nan" and row.result == "signal"  # refused before anything else
        if no_nan:
            outcome_of = lambda: Refusal(  # noqa: E731
                ValueError, f"argument 'warmup': {row.name} answers int8 signal codes, which "
                            "have no NaN; use warmup='value'")
        if id(native) in self.held:
            self.refused(call, outcome_of() if no_nan else busy(EXCLUSIVE), what)
            return
        before = barworks.state(native)
        got, failure = self.attempt(lambda: self.held_call(native, EXCLUSIVE, call))
        if failure is not None:
            self.unchanged(native, before, what)
        outcome = outcome_of()
        if self.settled_refusal(what, outcome, got, failure):
            return
        if type(got) is not numpy.ndarray or len(got) != len(outcome.value) or \
                got.shape[1:] != ((3,) if row.result == "triple" else ()):
            raise Mismatch(f"{what} gave {got!r}")
        answers = array_bits(got)
        cut = 0
        if warmup == "nan" and row.module == "_barworks":
            # A leading run may be blanked; classic objects blank nothing
            # they answer themselves.
            answer = self.twin_answers(live, outcome.value)
            cut = max((i + 1 for i, pair in enumerate(zip(answers, answer)) if pair[0] != pair[1]),
                      default=0)
            if not all(map(blank, answers[:cut])):
                raise Mismatch(f"{what} gave {answers!r}, its twin {answer!r}")
            answers = answers[cut:]
            items = outcome.value[cut:]
            self.step_models(live, outcome.value[:cut])
        else:
            items = outcome.value
        for item, answer in zip(items, answers):
            self.step_twin(live, what, item if row.input == "float" else
                           (item.high(), item.low(), item.close()), answer)

    def twin_answers(self, live, items):
        """The twin's answers for `items` without moving it."""
        twin = barworks.restore(barworks.state(live.twin))
        return [bits(twin.next(item)) for item in items]

    def step_models(self, live, items):
        for item in items:
            answer = live.twin.next(item)
            converted = item if live.row.input == "float" else (item.high(), item.low(), item.close())
            want = live.model.next(*model_input(live.row, converted))
            if not same_result(live.row, answer, want):
                raise Mismatch(f"twin gave {answer!r}, the model {want!r}")

    def peek(self, live=None):
        """peek or peek_bar: nothing changes, and next then answers the same."""
        live = live or self.pick_live(streaming=True)
        if live is None:
            return
        source, native, row = self.source, live.native, live.row
        bar_fed = row.input == "bar"
        name = "bar" if bar_fed else "value"
        value = self.bar() if bar_fed and source.below(4) else self.element(live)
        look = barworks.peek_bar if bar_fed else barworks.peek
        if source.flag():
            call = lambda: look(native, **{name: value})  # noqa: E731
        else:
            call = lambda: look(native, value)  # noqa: E731
        what = f"{look.__name__}({row.label}, {value!r})"
        if id(native) in self.held:
            self.refused(call, busy(EXCLUSIVE), what)
            return
        before = barworks.state(native)
        got, failure = self.attempt(lambda: self.held_call(native, EXCLUSIVE, call))
        self.unchanged(native, before, what)
        outcome = (convert_bar(name, value, row.module == "barworks.classic") if bar_fed
                   else self.outcome(F64, name, value))
        if self.settled_refusal(what, outcome, got, failure):
            return
        plain = live.plain(outcome.value)
        answer = self.check(lambda: native.next(plain), None, "next after peek")
        if bits(answer) != bits(got):
            raise Mismatch(f"{what} gave {got!r}, next then {answer!r}")
        self.step_twin(live, what, outcome.value, bits(answer))

    COPIES = (
        ("restore", lambda obj: barworks.restore(barworks.state(obj))),
        ("restore from a bytearray", lambda obj: barworks.restore(bytearray(barworks.state(obj)))),
        ("pickle", lambda obj: pickle.loads(pickle.dumps(obj, pickle.HIGHEST_PROTOCOL))),
        ("pickle 0", lambda obj: pickle.loads(pickle.dumps(obj, 0))),
        ("copy", copy.copy),
        ("deepcopy", copy.deepcopy),
    )

    def round_trip(self, live=None):
        """A copy stores back byte for byte and takes the original's place."""
        live = live or self.pick_live()
        if live is None:
            return
        way, duplicate = self.source.pick(self.COPIES)
        native = live.native
        if way == "pickle 0" and live.row.input is None:
            # A Bar pickles by its fields, and protocol 0 writes a float as
            # text, which drops a NaN's sign.
            way, duplicate = self.COPIES[0]
        what = f"{way} of {live.row.label}"
        if id(native) in self.held:
            self.refused(lambda: duplicate(native), busy(SHARED), what)
            return
        stored = self.check(lambda: barworks.state(native), None, what)
        twin = self.check(lambda: duplicate(native), None, what)
        if type(twin) is not type(native) or twin is native:
            raise Mismatch(f"{what} gave {twin!r}")
        if barworks.state(twin) != stored or barworks.state(native) != stored:
            raise Mismatch(f"{what} stores back otherwise")
        if self.source.flag():
            live.native = twin

    STEPS = (construct, feed, feed, feed, reset, accessors, misuse, drop, signals, hollow,
             batch, batch, peek, round_trip)
    # The calls a conversion may make on the object it is converted for.
    ON_ONE = (feed, reset, accessors, batch, peek, round_trip)

    def go(self):
        # The module and the account of its conversions see the same filter.
        with warnings.catch_warnings():
            warnings.simplefilter("error", DeprecationWarning)
            self.steps()

    def steps(self):
        try:
            while True:
                self.STEPS[self.source.below(len(self.STEPS))](self)
        except Exhausted:
            pass
        # A last ordinary step on every instance shows state that a refused
        # call disturbed and no later call looked at.
        for live in self.live:
            self.accessors(live)
            if live.row.input is not None:
                value = _barworks.Bar(1.0, 3.0, 0.5, 2.0, 1) if live.row.input == "bar" else 2.5
                got = live.native.next(value)
                self.settle(live, f"{live.row.name}.next()", value,
                            self.outcome(F64, "input", value) if live.row.input == "float"
                            else convert_bar("input", value), got, None)


def blank(answer):
    """A warm-up answer feed blanked: NaN, of any sign."""
    parts = answer if isinstance(answer[0], tuple) else (answer,)
    return all(part[0] == "nan" for part in parts)


class _Sink:
    def write(self, text):
        return len(text)

    def flush(self):
        pass


_report = sys.stderr


def start(report_fd):
    """Called once by the harness: where failure reports go, since libFuzzer
    closes the process's standard error to quiet the module's fault notices."""
    global _report
    _report = open(report_fd, "w", closefd=False)


def run(data):
    """Runs one input; on a failure, reports it and aborts the process."""
    saved = sys.stderr
    sys.stderr = _Sink()  # the module's printed Python errors, expected here
    try:
        Run(data).go()
    except BaseException:
        sys.stderr = saved
        _report.write("barworks fuzz: a call did not behave\n" + traceback.format_exc())
        _report.flush()
        os.abort()
    finally:
        sys.stderr = saved


if __name__ == "__main__":
    for path in sys.argv[1:]:
        with open(path, "rb") as file:
            run(file.read())
        print(f"{path}: ok")
