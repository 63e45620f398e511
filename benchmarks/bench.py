"""Nanoseconds per next() of every class, against a baseline in the same run.

The baseline is a method of a tiny extension (benchmarks/baseline.c) with
next()'s calling convention that only returns a new float. Each figure is
the best of several rounds over the same prepared inputs; the ratio to the
baseline is what to compare between machines and runs.
"""

import argparse
import collections
import os
import random
import sys
import time

import _barworks as bw
from _baseline import Baseline
from barworks import classic

# class, constructor arguments, input kind, target ratio to the baseline
CASES = [
    ("SimpleMovingAverage", (20,), "float", 1.2),
    ("ExponentialMovingAverage", (20,), "float", 1.2),
    ("StandardDeviation", (20,), "float", 1.3),
    ("RateOfChange", (20,), "float", 1.3),
    ("Minimum", (20,), "falling", 1.25),
    ("Maximum", (20,), "rising", 1.25),
    ("SharpeRatio", (20, 0.0001), "float", 1.3),
    ("MovingAverageConvergenceDivergence", (26, 12, 9), "float", 1.2),
    ("RelativeStrengthIndex", (14,), "float", 1.5),
    ("TrueRange", (), "bar", 1.3),
    ("AverageTrueRange", (14,), "bar", 1.3),
    ("SimpleMovingAverageCrossover", (5, 20), "float", 1.3),
    ("ExponentialMovingAverageCrossover", (5, 20), "float", 1.3),
]

# A class whose result is more than one float is measured against a floor
# that builds the same result: the floor's method by the kind of answer.
FLOOR_METHODS = {"pair": "next_pair", "triple": "next_tuple"}
FLOORS = {"MovingAverageConvergenceDivergence": "next_tuple"}


def floor_for(result):
    """The floor's next for a class answering `result` ("float", "pair", ...)."""
    return getattr(Baseline(), FLOOR_METHODS.get(result, "next"))


# The classic indicators of barworks.classic, from the tests' table of them:
# each at its sample arguments, held to 1.4 times the floor (the tuple floor
# for a tuple answer).
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from classes import CLASSIC  # noqa: E402

CLASSIC_CASES = [(row.name, row.configs[0], {"close": "float"}.get(row.input, row.input), 1.4)
                 for row in CLASSIC]
FLOORS.update({row.name: FLOOR_METHODS[row.result]
               for row in CLASSIC if row.result in FLOOR_METHODS})


def inputs(kind, count, seed=1):
    if kind == "pair":
        # Two columns, each a walk: next(x, y) takes one from each.
        return inputs("float", count, seed), inputs("float", count, seed + 1)
    rng = random.Random(seed)
    price, values = 100.0, []
    for step in range(count):
        price += rng.gauss(0.0, 1.0)
        if kind in ("rising", "falling"):
            # A trend that makes every input the new extreme: the remembered
            # slot moves each step and the window is never rescanned.
            values.append((step if kind == "rising" else -step) + rng.random())
        elif kind == "bar":
            high, low = price + rng.random(), price - rng.random()
            values.append(bw.Bar(price, high, low, (high + low) / 2, 1000))
        else:
            values.append(price)
    return values


def loop(function, values):
    """The caller's view: a plain Python loop, as in a backtest."""
    if isinstance(values, tuple):
        for x, y in zip(*values):
            function(x, y)
        return
    for value in values:
        function(value)


def drain(function, values):
    """The call alone: map() with next() as its function, results dropped."""
    columns = values if isinstance(values, tuple) else (values,)
    collections.deque(map(function, *columns), maxlen=0)


def best_ns_per_call(harness, function, values, rounds):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter_ns()
        harness(function, values)
        best = min(best, time.perf_counter_ns() - start)
    return best / (len(values[0]) if isinstance(values, tuple) else len(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--count", type=int, default=200_000)
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--only", default="", help="only the classes whose name contains this")
    args = parser.parse_args()

    prepared = {kind: inputs(kind, args.count) for kind in ("float", "rising", "falling", "bar", "pair")}
    print(f"Python {sys.version.split()[0]}, {args.count} calls per round, best of {args.rounds}")
    print("loop: `for x in inputs: obj.next(x)`; map: the calls alone, through map()")
    print("base: a method that only returns a new float (for MACD: a new tuple of three floats)")
    print(f"{'class':36} {'loop ns':>8} {'base':>6} {'ratio':>6} {'map ns':>7} {'base':>6} {'ratio':>6} {'target':>7}")
    misses = 0
    cases = [(bw, "", case) for case in CASES] + [(classic, "classic.", case) for case in CLASSIC_CASES]
    for module, prefix, (name, arguments, kind, target) in cases:
        if args.only not in prefix + name:
            continue
        values = prepared[kind]
        row = []
        for harness in (loop, drain):
            # Interleave the baseline with each class so drift affects both alike.
            floor = getattr(Baseline(), FLOORS.get(name, "next"))
            baseline = best_ns_per_call(harness, floor, values, args.rounds)
            measured = best_ns_per_call(harness, getattr(module, name)(*arguments).next, values, args.rounds)
            row += [measured, baseline, measured / baseline]
        misses += row[2] > target
        flag = "" if row[2] <= target else "  above target"
        print(f"{prefix + name:36} {row[0]:8.1f} {row[1]:6.1f} {row[2]:6.2f} {row[3]:7.1f} {row[4]:6.1f} {row[5]:6.2f} {target:7.1f}{flag}")
    return 1 if misses else 0


if __name__ == "__main__":
    sys.exit(main())
