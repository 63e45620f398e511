"""Every barworks.classic class at its sample arguments, from one run: its
worst relative difference to TA-Lib (and to the exact answers where TA-Lib
keeps drifting running sums) over the agreement tests' series, its `next`
against the float floor (the tuple floor for tuple answers), and its
`feed` against TA-Lib's batch function, per value.

Run with the peers' interpreter (TA-Lib installed): make bench-classic.
"""

import argparse
import os
import sys

import talib


sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from classes import CLASSIC  # noqa: E402
from feed import best_ns, classic_case, feed_call, prices  # noqa: E402
from bench import floor_for  # noqa: E402
from peers import calls, star_calls, timed  # noqa: E402
from test_classic import (SERIES, columns, inputs_for, peer_columns, stream,  # noqa: E402
                          worst_relative_difference)


def worst_differences(row):
    """The worst relative difference to TA-Lib and to the exact answers (None
    where TA-Lib is the reference) over every agreement series."""
    arguments = row.configs[0]
    to_talib, to_exact = 0.0, None
    for make_series in SERIES.values():
        closes = make_series()
        inputs = inputs_for(row.name, closes)
        ours = stream(row.make(arguments), inputs)
        level = max(map(abs, closes)) if row.differences else 0.0
        if row.peer_takes(*arguments):
            peers = peer_columns(talib, row.name, arguments, closes)
            for mine, theirs in zip(columns(row.name, ours), peers):
                to_talib = max(to_talib, worst_relative_difference(mine, theirs, level))
        exact = row.exact_answers(inputs, arguments)
        if exact is not None:
            for mine, want in zip(columns(row.name, ours), columns(row.name, exact)):
                to_exact = max(to_exact or 0.0, worst_relative_difference(mine, want, level))
    return to_talib, to_exact


def per_call_ratio(row, count, rounds):
    closes = prices(count)[0].tolist()  # floats, as make bench feeds next
    inputs = inputs_for(row.name, closes)
    harness = star_calls if row.input == "pair" else calls
    # Rounds in turns, so that a burst of load falls on both.
    floor = mine = float("inf")
    for _ in range(rounds):
        floor = min(floor, timed(harness(lambda: floor_for(row.result), inputs), 1))
        mine = min(mine, timed(harness(lambda: row.make().next, inputs), 1))
    return mine / floor


def feed_ratio(row, count, rounds):
    name, arguments, kind, peer, _ = classic_case(row)
    columns_in = prices(count)
    mine = feed_call(name, arguments, kind, columns_in)
    # The peer takes a bar class's columns in TA-Lib's order (high, low,
    # close), as feed.py hands them; prices() gives the close first.
    close, high, low = columns_in
    if kind == "bar":
        theirs = lambda: peer(high, low, close)  # noqa: E731
    else:
        theirs = lambda: peer(close)  # noqa: E731
    # Alternate the two so that a burst of load falls on both.
    feed_ns, talib_ns = float("inf"), float("inf")
    for _ in range(rounds):
        feed_ns = min(feed_ns, best_ns(mine, count, 1))
        talib_ns = min(talib_ns, best_ns(theirs, count, 1))
    return feed_ns, talib_ns


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--calls", type=int, default=100_000, help="next calls per round")
    parser.add_argument("--values", type=int, default=1_000_000, help="values per feed")
    parser.add_argument("--rounds", type=int, default=7, help="rounds; the best counts")
    parser.add_argument("--only", default="", help="only the classes whose name contains this")
    args = parser.parse_args()
    print(f"TA-Lib {talib.__version__}; next: {args.calls:,} calls, feed: {args.values:,} values, "
          f"best of {args.rounds}; load average {os.getloadavg()[0]:.1f} at the start\n")
    print("| class | worst rel. diff. to TA-Lib | to exact | next / floor | feed ns | TA-Lib ns | feed / TA-Lib |")
    print("|---|--:|--:|--:|--:|--:|--:|")
    for row in CLASSIC:
        if args.only not in row.name:
            continue
        to_talib, to_exact = worst_differences(row)
        ratio = per_call_ratio(row, args.calls, args.rounds)
        feed_ns, talib_ns = feed_ratio(row, args.values, args.rounds)
        label = f"{row.name}{tuple(row.configs[0])}".replace(",)", ")")
        exact = "-" if to_exact is None else f"{to_exact:.1e}"
        talib_cell = f"{to_talib:.1e}" if row.peer_takes(*row.configs[0]) else "-"
        print(f"| `{label}` | {talib_cell} | {exact} | {ratio:.2f} | {feed_ns:.2f} | {talib_ns:.2f} | "
              f"{feed_ns / talib_ns:.2f} |", flush=True)
    print(f"\nload average {os.getloadavg()[0]:.1f} at the end")
    return 0


if __name__ == "__main__":
    sys.exit(main())
