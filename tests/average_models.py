"""Pure-Python models of the moving averages and what is built on them.

Python floats are IEEE doubles, so performing the documented operations in
the same order reproduces the module's results bit for bit; the tests feed
both the same seeded streams and compare.
"""

import math
import random
import struct

RESET = None  # a stream item that stands for a call to reset()
BUY, SELL, HOLD = 0, 1, 2


class SimpleAverageModel:
    def __init__(self, period):
        self.period = period
        self.reset()

    def reset(self):
        self.values = [0.0] * self.period
        self.index = 0
        self.count = 0
        self.sum = 0.0

    def next(self, x):
        x = float(x)
        old = self.values[self.index]
        self.values[self.index] = x
        self.index = (self.index + 1) % self.period
        self.count = min(self.count + 1, self.period)
        self.sum = (x - old) + self.sum
        return self.sum / self.count


class ExponentialAverageModel:
    def __init__(self, period):
        self.alpha = 2.0 / (period + 1)
        self.reset()

    def reset(self):
        self.current = 0.0
        self.first = True

    def next(self, x):
        x = float(x)
        if self.first:
            self.first = False
            self.current = x
            return x
        t1 = x * self.alpha
        t2 = 1.0 - self.alpha
        t3 = t2 * self.current
        self.current = t1 + t3
        return self.current


class CrossoverModel:
    """Answers with the code of BUY, SELL or HOLD, as int() of a Signal."""

    def __init__(self, average, short_period, long_period):
        self.short = average(short_period)
        self.long = average(long_period)

    def reset(self):
        self.short.reset()
        self.long.reset()

    def next(self, x):
        gap = self.short.next(x) - self.long.next(x)
        return BUY if gap > 0 else SELL if gap < 0 else HOLD


class MacdModel:
    def __init__(self, long_period, short_period, signal_period):
        self.long = ExponentialAverageModel(long_period)
        self.short = ExponentialAverageModel(short_period)
        self.signal = ExponentialAverageModel(signal_period)

    def reset(self):
        self.long.reset()
        self.short.reset()
        self.signal.reset()

    def next(self, x):
        long_mean = self.long.next(x)
        macd = self.short.next(x) - long_mean
        signal = self.signal.next(macd)
        return (macd, signal, macd - signal)


SPECIAL_VALUES = (math.nan, math.inf, -math.inf, -0.0, 0.0)


def random_stream(seed, length=500, reset_share=0.03, special_share=0.01):
    """Inputs of many scales, ints, repeats and rare NaN, infinities and
    signed zeros, with RESET items sprinkled in so poisoned states recover."""
    rng = random.Random(seed)
    items = []
    for _ in range(length):
        roll = rng.random()
        if roll < reset_share:
            items.append(RESET)
        elif roll < reset_share + special_share:
            items.append(rng.choice(SPECIAL_VALUES))
        else:
            kind = rng.randrange(5)
            if kind == 0:
                items.append(rng.uniform(-100.0, 100.0))
            elif kind == 1:
                items.append(rng.randint(-3, 3))
            elif kind == 2:
                items.append(rng.gauss(100.0, 1e-3))
            elif kind == 3:
                items.append(round(rng.uniform(0.0, 10.0), 1))
            else:
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


def same_float(a, b):
    """Bit equality, with every NaN equal to every NaN."""
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return struct.pack("<d", a) == struct.pack("<d", b)
