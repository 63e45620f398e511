"""Soak: ten million next() calls per class with the resident memory flat.

Every class that has next() takes CALLS calls over a repeating stream of
prepared inputs (a random walk with ints, NaN and infinities mixed in, or
bars), with a reset after every chunk. The resident set size is read after
each chunk; once the first tenth of the calls has warmed everything up, it
may not grow by more than TOLERANCE. Prints one line per class and exits
with status 1 if any class grew.

    PYTHONPATH=build/release python3.14 benchmarks/soak.py [--calls N]
"""

import argparse
import collections
import math
import os
import random
import sys
import time
from pathlib import Path

import _barworks

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from classes import BY_NAME, STREAMS  # noqa: E402

CHUNKS = 100
TOLERANCE = 256 * 1024  # bytes
PAGE = os.sysconf("SC_PAGE_SIZE")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def stream(kind, length=10_000, seed=7):
    rng = random.Random(seed)
    price, items = 100.0, []
    for step in range(length):
        price += rng.gauss(0.0, 1.0)
        roll = rng.random()
        value = (math.nan if roll < 0.001 else math.inf if roll < 0.002
                 else int(price) if roll < 0.02 else price)
        if kind == "bar":
            items.append(_barworks.Bar(price, price + 1.0, price - 1.0, value, step))
        else:
            items.append(value)
    return items


def soak(name, calls):
    row = BY_NAME[name]
    instance = row.make()
    items = stream(row.input)
    per_chunk = calls // CHUNKS
    repeats, rest = divmod(per_chunk, len(items))
    feed, sink = instance.next, collections.deque(maxlen=0)
    resident = []
    started = time.perf_counter()
    for _ in range(CHUNKS):
        for _ in range(repeats):
            sink.extend(map(feed, items))
        sink.extend(map(feed, items[:rest]))
        instance.reset()
        resident.append(resident_bytes())
    elapsed = time.perf_counter() - started
    warm = resident[CHUNKS // 10 - 1]
    growth = max(resident[CHUNKS // 10:]) - warm
    return elapsed, warm, growth


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=10_000_000, help="next() calls per class")
    arguments = parser.parse_args()
    failed = []
    print(f"{'class':36} {'calls':>10} {'ns/call':>8} {'RSS at 10%':>11} {'growth':>8}")
    for name in (row.name for row in STREAMS):
        elapsed, warm, growth = soak(name, arguments.calls)
        print(f"{name:36} {arguments.calls:>10} {elapsed / arguments.calls * 1e9:>8.1f} "
              f"{warm / 2**20:>9.1f}MB {growth / 1024:>6.0f}kB", flush=True)
        if growth > TOLERANCE:
            failed.append(name)
    if failed:
        print(f"resident memory grew after the first 10 % for: {', '.join(failed)}")
        return 1
    print(f"resident memory flat after the first 10 % for all {len(STREAMS)} classes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
