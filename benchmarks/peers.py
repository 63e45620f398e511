"""Nanoseconds per update of every barworks class against the libraries people
use today, on the same data in the same run.

Each class is timed as a caller uses it, one update per input in a plain
Python loop, and so is its nearest equivalent:
- TA-Lib's stateful stream objects (talib.stream.X.open_and_fill, then
  update(value), which answers the new value);
- talipp's indicators (add(value), then the newest output read as ind[-1]);
- the floor of `make bench`: benchmarks/baseline.c's Baseline.next, a method
  with the same calling convention that only returns a new float (a new tuple
  of floats for a class answering a tuple).
TA-Lib's batch function over the whole array, divided by its length, is shown
for reference: it is not an update, it needs the whole history at once.
Every class of barworks.classic follows, one row each from the tests' table
of them (tests/classes.py), at its sample arguments, against the TA-Lib
function of the same definition that the table names.

Where a peer computes something else, the table says so and shows the
largest gap to barworks once every warm-up is over; neither side is bent to
match the other. Peers come from a virtual environment of their own
(`make bench-peers`); they are never a dependency of barworks.
"""

import argparse
import math
import os
import random
import sys
import time
import types

import numpy as np
import talib
import talib.stream as stream
from talipp.indicators import ATR, EMA, MACD, ROC, RSI, SMA, StdDev
from talipp.ohlcv import OHLCV

import _barworks as bw
from _baseline import Baseline
from barworks import classic

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench import floor_for  # noqa: E402  the floor for each kind of answer
from classes import CLASSIC  # noqa: E402  the classic classes' table


def timed(loop, rounds):
    """Best wall time of several rounds, each on fresh objects from loop()."""
    best = math.inf
    for _ in range(rounds):
        run = loop()
        start = time.perf_counter_ns()
        run()
        best = min(best, time.perf_counter_ns() - start)
    return best


def calls(make, inputs):
    """A loop of `next(x)` / `update(x)` style calls, results dropped."""
    def prepare():
        function = make()

        def run():
            for x in inputs:
                function(x)
        return run
    return prepare


def star_calls(make, inputs):
    """The same for update(high, low, close)."""
    def prepare():
        function = make()

        def run():
            for args in inputs:
                function(*args)
        return run
    return prepare


def talipp_calls(make, inputs):
    """talipp's add() answers nothing; the caller reads the newest output."""
    def prepare():
        indicator = make()
        add = indicator.add

        def run():
            for x in inputs:
                add(x)
                indicator[-1]
        return run
    return prepare


class Data:
    def __init__(self, count, seed):
        rng = random.Random(seed)
        price, closes, bars = 100.0, [], []
        for _ in range(count):
            open_ = price
            price = max(price * math.exp(rng.gauss(0.0, 0.01)), 1.0)
            high = max(open_, price) * (1 + rng.random() * 0.005)
            low = min(open_, price) * (1 - rng.random() * 0.005)
            closes.append(price)
            bars.append((open_, high, low, price))
        self.closes = closes
        self.close_array = np.array(closes)
        self.bars = [bw.Bar(o, h, l, c, 1000) for o, h, l, c in bars]
        self.hlc = [(h, l, c) for _, h, l, c in bars]
        self.ohlcv = [OHLCV(o, h, l, c, 1000) for o, h, l, c in bars]
        self.high = np.array([h for _, h, _, _ in bars])
        self.low = np.array([l for _, _, l, _ in bars])
        self.open = np.array([o for o, _, _, _ in bars])
        self.volume = np.full(count, 1000.0)
        # The second column of a pair, as the agreement tests make it: each
        # close pushed on by its last move.
        self.partner = 2.0 * self.close_array - np.concatenate((self.close_array[:1], self.close_array[:-1]))
        self.pairs = list(zip(closes, self.partner.tolist()))


HISTORY = 200  # bars handed to open_and_fill; more than any lookback below


def talib_stream(name, *parameters, bars=False):
    """A factory of fresh TA-Lib stream objects, filled with the first bars."""
    kind = getattr(stream, name)

    def make(data):
        def build():
            if bars:
                handle = kind.open_and_fill(data.high[:HISTORY], data.low[:HISTORY],
                                            data.close_array[:HISTORY], *parameters)[0]
            else:
                handle = kind.open_and_fill(data.close_array[:HISTORY], *parameters)[0]
            return handle.update
        return build
    return make


def talib_batch(name, *parameters, bars=False):
    function = getattr(talib, name)
    if bars:
        return lambda data: function(data.high, data.low, data.close_array, *parameters)
    return lambda data: function(data.close_array, *parameters)


# One row per class: constructor arguments, input kind, TA-Lib stream and
# batch equivalents, talipp equivalent, how a batch output lines up with
# barworks (a function of both output arrays), and what differs.
def first(values):
    return values[0] if isinstance(values, tuple) else values


ROWS = [
    ("SimpleMovingAverage", (20,), "close", ("SMA", 20), lambda: SMA(20),
     "same after warm-up; peers answer NaN/None for the first 19 inputs, barworks the mean so far"),
    ("ExponentialMovingAverage", (20,), "close", ("EMA", 20), lambda: EMA(20),
     "peers seed with the mean of the first 20 inputs, barworks with the first input; the gap fades"),
    ("StandardDeviation", (20,), "close", ("STDDEV", 20, 1.0), lambda: StdDev(20),
     "same (population) after warm-up; talipp recomputes the window each step"),
    ("RelativeStrengthIndex", (14,), "close", ("RSI", 14), lambda: RSI(14),
     "peers use Wilder's smoothing; barworks plain averages over the window: a different number"),
    ("RateOfChange", (10,), "close", ("ROCP", 10), lambda: ROC(10),
     "TA-Lib ROCP is the same ratio; talipp ROC is in percent (x100)"),
    ("Minimum", (20,), "close", ("MIN", 20), None, "same after warm-up; talipp has no rolling minimum"),
    ("Maximum", (20,), "close", ("MAX", 20), None, "same after warm-up; talipp has no rolling maximum"),
    ("MovingAverageConvergenceDivergence", (26, 12, 9), "close", ("MACD", 12, 26, 9),
     lambda: MACD(12, 26, 9),
     "barworks takes (long, short, signal), peers (fast, slow, signal); peers seed each average with a mean"),
    ("SharpeRatio", (20, 0.0), "close", None, None, "no peer in either library"),
    ("TrueRange", (), "bar", ("TRANGE",), None,
     "same from the second bar (TA-Lib answers NaN for the first); talipp has none"),
    ("AverageTrueRange", (14,), "bar", ("ATR", 14), lambda: ATR(14),
     "peers use Wilder's 1/14 smoothing seeded by a 14-bar mean; barworks 2/15 seeded by the first range"),
    ("SimpleMovingAverageCrossover", (5, 20), "close", None, None, "no peer: a strategy, answers a Signal"),
    ("ExponentialMovingAverageCrossover", (5, 20), "close", None, None, "no peer: a strategy, answers a Signal"),
]


def largest_gap(name, arguments, kind, talib_call, data):
    """Largest absolute gap between barworks and TA-Lib's batch output after
    every warm-up (the first HISTORY inputs) is over."""
    indicator = getattr(bw, name)(*arguments)
    inputs = data.bars if kind == "bar" else data.closes
    mine = np.array([first(indicator.next(x)) for x in inputs])
    theirs = talib_batch(*talib_call, bars=kind == "bar")(data)
    theirs = theirs[0] if isinstance(theirs, tuple) else theirs
    return float(np.max(np.abs(mine[HISTORY:] - theirs[HISTORY:])))


# ---------------------------------------------------------------- barworks.classic
# Every class of the tests' table at its sample arguments, against the TA-Lib
# function the table names, which shares its definition: the table's call is
# made once on the whole columns (TA-Lib's batch) and once with the stream
# objects' opener in place of each function, which gives the stream object
# and which columns it reads, in the order its update takes their values.
class StreamOpener:
    """Stands for the talib module in a table row's call: the function the
    row names opens a TA-Lib stream object on the first HISTORY values of
    the columns, and the opener keeps it with its name and the columns it
    reads, in the order its update takes their values."""

    def __init__(self, columns):
        self.columns = columns
        self.opened = None

    def __getattr__(self, name):
        def open_stream(*arrays_and_parameters, **keywords):
            arrays = [a for a in arrays_and_parameters if isinstance(a, np.ndarray)]
            parameters = arrays_and_parameters[len(arrays):]
            names = [next(n for n, column in vars(self.columns).items() if column is a) for a in arrays]
            handle = getattr(stream, name).open_and_fill(*(a[:HISTORY] for a in arrays), *parameters,
                                                         **keywords)[0]
            self.opened = (name, handle, names)
            return (handle,)
        return open_stream


def classic_rows(data, rounds, only):
    """A table row per classic class at its sample arguments: barworks's next
    against the floor and TA-Lib's stream object, TA-Lib's batch per value,
    and the largest gap."""
    count = len(data.closes)
    columns = types.SimpleNamespace(close=data.close_array, high=data.high, low=data.low,
                                    partner=data.partner, open=data.open, volume=data.volume)
    for row in CLASSIC:
        if only not in f"classic.{row.name}":
            continue
        arguments = row.configs[0]
        inputs = {"bar": data.bars, "pair": data.pairs}.get(row.input, data.closes)
        harness = star_calls if row.input == "pair" else calls
        floor = ns_per(timed(harness(lambda: floor_for(row.result), inputs), rounds), count)
        mine = ns_per(timed(harness(lambda: row.make(arguments).next, inputs), rounds), count)
        opener = StreamOpener(columns)
        row.talib(opener, columns, *arguments)
        function, _, names = opener.opened
        updates = list(zip(*(getattr(columns, name)[HISTORY:].tolist() for name in names)))

        def open_update():
            row.talib(opener, columns, *arguments)
            return opener.opened[1].update

        theirs = ns_per(timed(star_calls(open_update, updates), rounds), len(updates))
        batched = ns_per(timed(lambda: (lambda: row.talib(talib, columns, *arguments)), rounds), count)
        label = f"classic.{row.name}{arguments if len(arguments) != 1 else '(%s)' % arguments[0]}"
        yield [f"`{label}`", f"{mine:.0f}", f"{floor:.0f}", f"{mine / floor:.2f}", f"{theirs:.0f}",
               f"{theirs / mine:.1f}x", "-", "-", f"{batched:.1f}",
               f"{classic_gap(row, arguments, inputs, columns):.3g}",
               f"the same definition as TA-Lib's {function}"]


def ns_per(total, count):
    return total / count


def classic_gap(row, arguments, inputs, columns):
    """Largest gap between barworks's first answer and TA-Lib's once every
    warm-up (the first HISTORY inputs) is over."""
    indicator = row.make(arguments)
    step = (lambda pair: indicator.next(*pair)) if row.input == "pair" else indicator.next
    mine = np.array([first(step(x)) for x in inputs])
    theirs = row.talib(talib, columns, *arguments)[0]
    return float(np.max(np.abs(mine[HISTORY:] - theirs[HISTORY:])))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=50_000, help="updates per round (default %(default)s)")
    parser.add_argument("--rounds", type=int, default=7, help="rounds; the best counts (default %(default)s)")
    parser.add_argument("--only", default="", help="only the classes whose name contains this")
    args = parser.parse_args()
    data = Data(args.count, seed=7)
    count = args.count

    def ns(total):
        return total / count

    print(f"Python {sys.version.split()[0]}, TA-Lib {talib.__version__}, talipp, {count:,} updates per round, "
          f"best of {args.rounds}; ns per update (lower is better); speed-up = peer / barworks\n")
    print("| class | barworks | floor | barworks / floor | talib.stream | speed-up | talipp | speed-up "
          "| TA-Lib batch per value | largest gap to TA-Lib | definitions |")
    print("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|---|")
    for name, arguments, kind, talib_call, talipp_make, note in ROWS:
        if args.only not in name:
            continue
        inputs = data.bars if kind == "bar" else data.closes
        floor = ns(timed(calls(lambda: Baseline().next, inputs), args.rounds))
        mine = ns(timed(calls(lambda: getattr(bw, name)(*arguments).next, inputs), args.rounds))
        cells = [f"`{name}{arguments if len(arguments) != 1 else '(%s)' % arguments[0]}`",
                 f"{mine:.0f}", f"{floor:.0f}", f"{mine / floor:.2f}"]
        if talib_call:
            bars = kind == "bar"
            build = talib_stream(*talib_call, bars=bars)(data)
            looped = star_calls(build, data.hlc) if bars else calls(build, data.closes)
            theirs = ns(timed(looped, args.rounds))
            batch = talib_batch(*talib_call, bars=bars)
            batched = ns(timed(lambda: (lambda: batch(data)), args.rounds))
            cells += [f"{theirs:.0f}", f"{theirs / mine:.1f}x"]
        else:
            cells += ["-", "-"]
        if talipp_make:
            peer_inputs = data.ohlcv if kind == "bar" else data.closes
            theirs = ns(timed(talipp_calls(talipp_make, peer_inputs), args.rounds))
            cells += [f"{theirs:.0f}", f"{theirs / mine:.1f}x"]
        else:
            cells += ["-", "-"]
        if talib_call:
            cells += [f"{batched:.1f}", f"{largest_gap(name, arguments, kind, talib_call, data):.3g}"]
        else:
            cells += ["-", "-"]
        cells.append(note)
        print("| " + " | ".join(cells) + " |", flush=True)
    for cells in classic_rows(data, args.rounds, args.only):
        print("| " + " | ".join(cells) + " |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
