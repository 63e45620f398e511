"""Turns a fuzz input into a sequence of calls on every class of _barworks.

Each input is read as a stream of small decisions: which call to make, on
which live instance, how to bind it and with which arguments (exact floats
of every class, ints, bools, subclasses, objects whose `__float__` or
`__index__` raises, returns the wrong thing, or calls back into the module).
Every call is checked as it returns: a refused call must raise exactly the
exception the binding rules, the conversion account of hostile.py or the
class's own checks give; an accepted one must match its class's model bit for
bit, and leaves the model one step further. Anything else is a failure: the
harness reports it and aborts, which libFuzzer records as a crash.

Run on its own, `python3.14 fuzz/driver.py FILE...` replays inputs against
whichever build of the module is importable.
"""

import ctypes
import os
import struct
import sys
import traceback
import warnings

_TESTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests")
sys.path[:0] = [os.path.normpath(_TESTS), os.path.normpath(os.path.join(_TESTS, "reliability"))]

import _barworks  # noqa: E402
from hostile import (  # noqa: E402
    ERRORS, F64, HUGE_INTS, ODD_FLOAT_RESULTS, ODD_INDEX_RESULTS, OTHER_OBJECTS, PANIC,
    SPECIAL_FLOATS, U32, FloatSubclass, FloatSubclassWithFloat, Index, IntSubclass,
    IntSubclassWithFloat, IntSubclassWithIndex, Real, RealIndex, Refusal, Value,
    _from_conversion, convert, convert_bar, raising,
)
from table import (  # noqa: E402
    CAPACITY, EXCLUSIVE, ROWS, WINDOW_LIMIT, model_input, same_accessor, same_result,
)

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


def binding(full, names, positional, keywords):
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
        row = self.source.pick(ROWS)
        names = [name for name, _ in row.parameters]
        full = f"{row.name}.__new__()"
        values = [self.argument(kind) for _, kind in row.parameters]
        positional, keywords = self.shape(names, values)
        call = lambda: row.cls(*positional, **dict(keywords))  # noqa: E731
        bound = binding(full, names, positional, keywords)
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
        what = f"{row.name}{tuple(bound)!r}"
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

    def feed(self):
        live = self.pick_live(streaming=True)
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
        got, failure = self.attempt(lambda: self.held_call(native, EXCLUSIVE, call))
        (argument,) = bound
        if live.row.input == "bar":
            outcome = convert_bar("input", argument)
        else:
            outcome = self.outcome(F64, "input", argument)
        self.settle(live, full, argument, outcome, got, failure)

    def settle(self, live, what, argument, outcome, got, failure):
        what = f"{what}({argument!r})"
        if self.settled_refusal(what, outcome, got, failure):
            return
        want = live.model.next(*model_input(live.row, outcome.value))
        if not same_result(live.row, got, want):
            raise Mismatch(f"{what} gave {got!r}, the model {want!r}")

    def bar(self):
        source = self.source
        fields = [source.double() if source.below(4) else source.pick(SPECIAL_FLOATS)
                  for _ in range(4)]
        return _barworks.Bar(*fields, source.below(256))

    def reset(self):
        live = self.pick_live(streaming=True)
        if live is None:
            return
        if id(live.native) in self.held:
            self.refused(live.native.reset, busy(EXCLUSIVE), "reset")
            return
        if self.check(live.native.reset, None, "reset") is not None:
            raise Mismatch("reset() answered")
        live.model.reset()

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
                raise Mismatch(f"{live.row.name}.{method}() gave {got!r}, expected {want!r}")

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
        row = self.source.pick(ROWS)
        hollow = never_built(row.cls)
        refusal = Refusal(TypeError, f"{row.name} object was not initialized by its constructor")
        for method, _, _ in row.accessors:
            self.refused(getattr(hollow, method), refusal, method)
        if row.input is not None:
            self.refused(hollow.reset, refusal, "reset")
            value = 1.0 if row.input == "float" else _barworks.Bar(1.0, 2.0, 0.5, 1.5, 1)
            self.refused(lambda: hollow.next(value), refusal, "next")
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

    STEPS = (construct, feed, feed, feed, reset, accessors, misuse, drop, signals, hollow)

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
