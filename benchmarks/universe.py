"""barworks.Universe against the alternatives, same run: one u.next step of
10,000 symbols against a Python loop of next over 10,000 separate objects,
and u.feed of a (1000, 1000) matrix against TA-Lib's batch function run over
the same 1000 columns (each made contiguous beforehand); with --callgrind, the instructions of one step of
SimpleMovingAverage(20) and ExponentialMovingAverage(20) counted by valgrind.

Each time is the best of several rounds.
"""

import argparse
import collections
import itertools
import os
import re
import subprocess
import sys
import tempfile

import numpy as np

import _barworks as bw
import barworks

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from feed import CASES, best_ns, best_ns_in_turns, make, opens_and_volumes, partner, talib  # noqa: E402

Candle = collections.namedtuple("Candle", "open high low close volume")

STEP_TARGET_NS = 10_000.0  # one step of SMA(20) or EMA(20) over 10,000 symbols
STEP_TARGETED = ("SimpleMovingAverage", "ExponentialMovingAverage")
LOOP_SPEEDUP = 50.0
# A step is timed as the mean of this many in a row: the lanes stay in cache
# between them, as they do for a scanner stepping several indicators a bar
# only when they fit.
STEPS_PER_ROUND = 20
# Steps take their inputs from this many sets in turn, so that no symbol's
# input repeats from one step to the next (a run of equal inputs is a case
# of its own for some classes, and no market's).
COLUMN_SETS = 4


def universe_of(name, arguments, count):
    return barworks.Universe(type(make(name, arguments)), count, *arguments)


def step_columns(kind, count, seed):
    """One step's inputs for `count` symbols, by name."""
    rng = np.random.default_rng(seed)
    close = 100.0 + rng.normal(0.0, 1.0, count)
    if kind == "pair":
        return {"x": close, "y": partner(close)}
    if kind == "bar":
        opens, volumes = opens_and_volumes(close)
        return {"high": close + 0.5, "low": close - 0.5, "close": close, "open": opens,
                "volume": volumes}
    return {"values": close}


def step_call(universe, kind, columns):
    if kind == "pair":
        return lambda: universe.next(columns["x"], columns["y"])
    if kind == "bar":
        return lambda: universe.next_bars(columns["high"], columns["low"], columns["close"],
                                          open=columns["open"], volume=columns["volume"])
    return lambda: universe.next(columns["values"])


def loop_call(name, arguments, kind, column_sets):
    """next on each of as many separate objects, with inputs made beforehand,
    each call on the next of the column sets in turn."""
    count = len(next(iter(column_sets[0].values())))
    objects = [make(name, arguments) for _ in range(count)]
    turns = []
    for columns in column_sets:
        if kind == "pair":
            turns.append(list(zip(objects, columns["x"].tolist(), columns["y"].tolist())))
        elif kind == "bar":
            fields = [columns[n].tolist() for n in ("open", "high", "low", "close", "volume")]
            if name.startswith("classic."):
                bars = [Candle(*row) for row in zip(*fields)]
            else:
                bars = [bw.Bar(o, h, l, c, 0) for o, h, l, c, _ in zip(*fields)]
            turns.append(list(zip(objects, bars)))
        else:
            turns.append(list(zip(objects, columns["values"].tolist())))
    turn = itertools.cycle(turns)
    if kind == "pair":
        return lambda: [obj.next(x, y) for obj, x, y in next(turn)]
    return lambda: [obj.next(value) for obj, value in next(turn)]


def feed_call(universe, kind, matrices):
    if kind == "pair":
        return lambda: universe.feed(matrices["x"], matrices["y"])
    if kind == "bar":
        return lambda: universe.feed_bars(matrices["high"], matrices["low"], matrices["close"],
                                          open=matrices["open"], volume=matrices["volume"])
    return lambda: universe.feed(matrices["values"])


def feed_matrices(kind, steps, count):
    close = 100.0 + np.cumsum(np.random.default_rng(3).normal(0.0, 1.0, (steps, count)), axis=0)
    matrices = {"values": close, "x": close, "y": partner(close.ravel()).reshape(close.shape),
                "high": close + 0.5, "low": close - 0.5, "close": close}
    opens, volumes = opens_and_volumes(close.ravel())
    matrices["open"], matrices["volume"] = opens.reshape(close.shape), volumes.reshape(close.shape)
    return matrices


def talib_call(peer, kind, matrices):
    """TA-Lib over each column, the columns made contiguous beforehand."""
    close = [np.ascontiguousarray(c) for c in matrices["close"].T]
    if kind == "bar":
        high = [np.ascontiguousarray(c) for c in matrices["high"].T]
        low = [np.ascontiguousarray(c) for c in matrices["low"].T]
        for h, l, c in zip(high, low, close):
            peer(h, l, c)
        return lambda: [peer(h, l, c) for h, l, c in zip(high, low, close)]
    for c in close:
        peer(c)
    return lambda: [peer(c) for c in close]


CALLGRIND_SCRIPT = """
import sys, numpy as np, _barworks as bw, barworks
name, count = sys.argv[1], int(sys.argv[2])
universe = barworks.Universe(getattr(bw, name), count, 20)
values = 100.0 + np.random.default_rng(1).normal(0.0, 1.0, count)
for _ in range(30):
    universe.next(values)
"""


def callgrind_per_step(name, count):
    """Instructions inside the native step, per step (30 steps counted)."""
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--collect-atstart=no",
                        "--toggle-collect=barworks::companion::(anonymous namespace)::lanes_next(*",
                        f"--callgrind-out-file={out}", sys.executable, "-P", "-c",
                        CALLGRIND_SCRIPT, name, str(count)],
                       check=True, capture_output=True, env=os.environ)
        with open(out) as profile:
            return int(re.search(r"^summary: (\d+)", profile.read(), re.M).group(1)) / 30


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--symbols", type=int, default=10_000)
    parser.add_argument("--steps", type=int, default=1000)
    parser.add_argument("--feed-symbols", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--only", default="", help="only the classes whose name contains this")
    parser.add_argument("--callgrind", action="store_true")
    args = parser.parse_args()

    print(f"Universe: one step of {args.symbols} symbols, and feed of ({args.steps}, "
          f"{args.feed_symbols}); TA-Lib {getattr(talib, '__version__', 'absent')}; best of "
          f"{args.rounds}")
    print(f"{'class':44} {'step us':>8} {'loop us':>8} {'speedup':>8} {'feed ns':>8} "
          f"{'talib ns':>9} {'/talib':>7}  target")
    misses = 0
    matrices = None
    for name, arguments, kind, peer, _ in CASES:
        if args.only not in name:
            continue
        column_sets = [step_columns(kind, args.symbols, 2 + k) for k in range(COLUMN_SETS)]
        universe = universe_of(name, arguments, args.symbols)
        step_calls = [step_call(universe, kind, columns) for columns in column_sets]

        def steps():
            for k in range(STEPS_PER_ROUND):
                step_calls[k % COLUMN_SETS]()

        # Both timed past the warm-up, as a desk steps its symbols all day.
        warmup = barworks.lookback(make(name, arguments)) + 1
        looping = loop_call(name, arguments, kind, column_sets)
        for k in range(warmup):
            step_calls[k % COLUMN_SETS]()
            looping()
        steps()
        step_ns = best_ns(steps, STEPS_PER_ROUND, args.rounds)
        loop_ns = best_ns(looping, 1, max(3, args.rounds // 2))
        speedup = loop_ns / step_ns
        if matrices is None:
            matrices = feed_matrices(kind, args.steps, args.feed_symbols)
        fed = universe_of(name, arguments, args.feed_symbols)
        values = args.steps * args.feed_symbols
        feeding = feed_call(fed, kind, matrices)
        talib_ns = ratio = float("nan")
        if peer is not None and talib is not None:
            feed_ns, talib_ns = best_ns_in_turns(
                (feeding, talib_call(peer, kind, matrices)), values, max(3, args.rounds // 2))
            ratio = feed_ns / talib_ns
        else:
            feed_ns = best_ns(feeding, values, max(3, args.rounds // 2))
        met = speedup >= LOOP_SPEEDUP and not ratio > 1.0
        wanted = f">= {LOOP_SPEEDUP:g} x loop, feed <= TA-Lib"
        if name in STEP_TARGETED:
            met = met and step_ns <= STEP_TARGET_NS
            wanted += f", step <= {STEP_TARGET_NS / 1000:g} us"
        misses += not met
        print(f"{name:44} {step_ns / 1000:8.2f} {loop_ns / 1000:8.1f} {speedup:8.1f} {feed_ns:8.2f} "
              f"{talib_ns:9.2f} {ratio:7.2f}  {wanted}{'' if met else '  MISSED'}")
    if args.callgrind:
        for name in STEP_TARGETED:
            instructions = callgrind_per_step(name, args.symbols)
            print(f"callgrind: one {name}(20) step of {args.symbols} symbols: "
                  f"{instructions:,.0f} Ir ({instructions / args.symbols:.1f} per symbol)")
    print(f"{misses} targets missed")


if __name__ == "__main__":
    main()
