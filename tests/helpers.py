"""Small helpers the tests share: bit equality, numbers whose conversion
runs Python code, and seeded random streams."""

import math
import random
import struct

RESET = None  # a stream item that stands for a call to reset()


def same_float(a, b):
    """Bit equality, with every NaN equal to every NaN."""
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return struct.pack("<d", a) == struct.pack("<d", b)


class Index:
    """An integer through `__index__` only. A `result` that is an exception
    is raised instead; `calls` counts the conversions."""

    def __init__(self, result):
        self.result = result
        self.calls = 0

    def __index__(self):
        self.calls += 1
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result

    def __repr__(self):
        return f"Index({self.result!r})"


class Real:
    """A number through `__float__` only."""

    def __init__(self, result):
        self.result = result

    def __float__(self):
        return self.result

    def __repr__(self):
        return f"Real({self.result!r})"


class Raising:
    """A number whose conversion raises `error`: that very exception, or, for
    a function, a fresh one from each call."""

    def __init__(self, error, label=None):
        self.error, self.label = error, label

    def _raise(self):
        raise self.error if isinstance(self.error, BaseException) else self.error()

    def __repr__(self):
        return f"{type(self).__name__}({self.label or self.error!r})"


class RaisingFloat(Raising):
    def __float__(self):
        self._raise()


class RaisingIndex(Raising):
    def __index__(self):
        self._raise()


class CallsBack:
    """A number whose conversion calls `action` first."""

    def __init__(self, action, value=1.0):
        self.action, self.value = action, value

    def __float__(self):
        self.action()
        return self.value


SPECIAL_VALUES = (math.nan, math.inf, -math.inf, -0.0, 0.0)
LEVELS = (0.1, 1.0, 2.0, -3.0, 1e16)


def random_stream(seed, length=500, reset_share=0.03, special_share=0.01):
    """Inputs of many scales, ints, repeats, a few small levels (ties, zero
    changes, equal windows) and rare NaN, infinities and signed zeros, with
    RESET items sprinkled in so poisoned states recover."""
    rng = random.Random(seed)
    items = []
    for _ in range(length):
        roll = rng.random()
        if roll < reset_share:
            items.append(RESET)
        elif roll < reset_share + special_share:
            items.append(rng.choice(SPECIAL_VALUES))
        else:
            kind = rng.randrange(7)
            if kind == 0:
                items.append(rng.uniform(-100.0, 100.0))
            elif kind == 1:
                items.append(rng.randint(-3, 3))
            elif kind == 2:
                items.append(rng.gauss(100.0, 1e-3))
            elif kind == 3:
                items.append(round(rng.uniform(0.0, 10.0), 1))
            elif kind == 4:
                items.append(rng.choice(LEVELS))
            else:  # repeats weigh double: equal windows are where rounding shows
                items.append(items[-1] if items and items[-1] is not RESET else 1e16)
    return items


def feed(target, items):
    """Runs a stream through an object and returns its answers; a RESET item
    resets the object, which must answer None."""
    answers = []
    for item in items:
        if item is RESET:
            assert target.reset() is None
        else:
            answers.append(target.next(item))
    return answers
