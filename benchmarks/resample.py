"""Nanoseconds per trade of barworks.resample (five-minute bars of a seeded
stream of trades) against pandas' Series.resample(...).ohlc() with the
volumes' sum, and polars' group_by_dynamic, in the same run; with
--callgrind, the instructions per trade of the native run counted by
valgrind, which do not drift with the machine's load.

Each time is the best of several rounds, the rounds of all sides taken in
turns. Every side starts from its own natural input (numpy int64
nanoseconds, a pandas Series on a DatetimeIndex, a polars DataFrame) made
beforehand, and each answer is checked against barworks' before timing.
"""

import argparse
import os
import sys

import numpy as np

import barworks

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from feed import best_ns_in_turns, callgrind_count  # noqa: E402

try:
    import pandas
except ImportError:  # the figures against pandas are left out
    pandas = None
try:
    import polars
except ImportError:
    polars = None

EVERY = "5min"
TARGET_RATIO = 1.0  # at most pandas' time per trade

CALLGRIND_SCRIPT = """
import sys
sys.path.insert(0, {folder!r})
from resample import trades
import barworks
times, prices, volumes = trades(int(sys.argv[1]))
for size in sorted({{0, len(times)}}):
    barworks.resample(times[:size], prices[:size], volumes[:size], every={every!r})
"""


def trades(count, seed=5):
    """Times 0 to 100 ms apart from an hour before 2024 (equal ones among
    them, and gaps of empty buckets every so often), a random walk of
    prices and fractional volumes."""
    rng = np.random.default_rng(seed)
    steps = rng.integers(0, 100_000_000, count)
    steps[rng.random(count) < 1e-4] += 3_600_000_000_000
    times = 1_704_063_600_000_000_000 + np.cumsum(steps)
    prices = 100.0 + np.cumsum(rng.normal(0.0, 0.01, count))
    volumes = rng.exponential(2.5, count)
    return times, prices, volumes


def sides(times, prices, volumes):
    """Each library's call on its own input, the answers as numpy columns."""
    ours = lambda: barworks.resample(times, prices, volumes, every=EVERY)  # noqa: E731
    calls = {"barworks": ours}
    if pandas is not None:
        index = pandas.DatetimeIndex(times.view("datetime64[ns]"))
        price_series, volume_series = pandas.Series(prices, index), pandas.Series(volumes, index)

        def by_pandas():
            bars = price_series.resample(EVERY, origin="epoch", label="left", closed="left").ohlc()
            bars["volume"] = volume_series.resample(EVERY, origin="epoch", label="left",
                                                    closed="left").sum()
            return bars
        calls["pandas"] = by_pandas
    if polars is not None:
        frame = polars.DataFrame({"time": polars.Series(times).cast(polars.Datetime("ns")),
                                  "price": prices, "volume": volumes})

        def by_polars():
            return frame.group_by_dynamic("time", every="5m").agg(
                polars.col("price").first().alias("open"), polars.col("price").max().alias("high"),
                polars.col("price").min().alias("low"), polars.col("price").last().alias("close"),
                polars.col("volume").sum())
        calls["polars"] = by_polars
    return calls


def check(calls):
    """Every side's bars are barworks' (pandas' empty buckets dropped)."""
    ours = calls["barworks"]()
    if "pandas" in calls:
        bars = calls["pandas"]().dropna()
        assert np.array_equal(bars.index.asi8, ours.start)
        for name in ("open", "high", "low", "close"):
            assert np.array_equal(bars[name].to_numpy(), getattr(ours, name)), name
        assert np.allclose(bars["volume"].to_numpy(), ours.volume, rtol=1e-12)
    if "polars" in calls:
        bars = calls["polars"]()
        assert np.array_equal(bars["time"].dt.epoch("ns").to_numpy(), ours.start)
        for name in ("open", "high", "low", "close"):
            assert np.array_equal(bars[name].to_numpy(), getattr(ours, name)), name
    return len(ours.start)


def callgrind_per_trade(count):
    """Instructions per trade inside the native run, less an empty run's."""
    script = CALLGRIND_SCRIPT.format(folder=os.path.dirname(os.path.abspath(__file__)), every=EVERY)
    counts = [callgrind_count("barworks::companion::resample(*", script, str(size))
              for size in (0, count)]
    return (counts[1] - 2 * counts[0]) / count


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--count", type=int, default=10_000_000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--callgrind", action="store_true",
                        help="also count instructions per trade with valgrind (slow)")
    args = parser.parse_args()

    calls = sides(*trades(args.count))
    bars = check(calls)
    times = dict(zip(calls, best_ns_in_turns(list(calls.values()), args.count, args.rounds)))
    instructions = callgrind_per_trade(200_000) if args.callgrind else float("nan")
    print(f"resample: {args.count} trades into {bars} bars of {EVERY}, best of {args.rounds}; "
          f"pandas {getattr(pandas, '__version__', 'absent')}, "
          f"polars {getattr(polars, '__version__', 'absent')}")
    print(f"{'side':12} {'ns/trade':>9} {'/pandas':>8}")
    for side, ns in times.items():
        print(f"{side:12} {ns:9.2f} {ns / times.get('pandas', float('nan')):8.2f}")
    ratio = times["barworks"] / times.get("pandas", float("nan"))
    met = not ratio > TARGET_RATIO
    print(f"barworks.resample Ir/trade {instructions:.1f}; {ratio:.2f} x pandas (target <= "
          f"{TARGET_RATIO:g}){'' if met else '  MISSED'}; load average {os.getloadavg()[0]:.1f}")
    return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main())
