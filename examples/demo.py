"""A tour of barworks: one synthetic price series streamed through every class."""

import math
import random
from collections.abc import Iterator
from typing import Any

from _barworks import (
    AverageTrueRange, Bar, ExponentialMovingAverage, ExponentialMovingAverageCrossover, Maximum,
    Minimum, MovingAverageConvergenceDivergence, RateOfChange, RelativeStrengthIndex, SharpeRatio,
    Signal, SimpleMovingAverage, SimpleMovingAverageCrossover, StandardDeviation, TrueRange,
)


def price_bars(count: int, seed: int = 2026) -> Iterator[Bar]:
    """A seeded random walk of daily bars: open, high, low, close, volume."""
    rng = random.Random(seed)
    close = 100.0
    for _ in range(count):
        open_ = close
        close = round(open_ * math.exp(rng.gauss(0.0005, 0.015)), 2)
        high = round(max(open_, close) * (1 + rng.random() * 0.01), 2)
        low = round(min(open_, close) * (1 - rng.random() * 0.01), 2)
        yield Bar(open_, high, low, close, rng.randrange(10_000, 50_000))


def main() -> None:
    bars = list(price_bars(60))
    closes = [bar.close() for bar in bars]

    print("Closing prices through SimpleMovingAverage(5):")
    average = SimpleMovingAverage(5)
    for day, close in enumerate(closes[:10], 1):
        print(f"  day {day:2}  close {close:7.2f}  average {average.next(close):9.4f}")

    print("\nEvery indicator after the last of", len(bars), "bars:")
    indicators: dict[str, Any] = {
        "ExponentialMovingAverage(10)": ExponentialMovingAverage(10),
        "StandardDeviation(10)": StandardDeviation(10),
        "RelativeStrengthIndex(14)": RelativeStrengthIndex(14),
        "RateOfChange(10)": RateOfChange(10),
        "Minimum(20)": Minimum(20),
        "Maximum(20)": Maximum(20),
        "MovingAverageConvergenceDivergence(26, 12, 9)": MovingAverageConvergenceDivergence(26, 12, 9),
    }
    returns = SharpeRatio(20, 0.0)
    ranges, average_range = TrueRange(), AverageTrueRange(14)
    previous = None
    for bar, close in zip(bars, closes):
        answers = {name: indicator.next(close) for name, indicator in indicators.items()}
        if previous is not None:
            sharpe = returns.next(close / previous - 1.0)
        previous = close
        true_range, smoothed_range = ranges.next(bar), average_range.next(bar)
    for name, answer in answers.items():
        shown = ", ".join(f"{x:.4f}" for x in answer) if isinstance(answer, tuple) else f"{answer:.4f}"
        print(f"  {name:46} {shown}")
    print(f"  {'SharpeRatio(20, 0.0) of daily returns':46} {sharpe:.4f}")
    print(f"  {'TrueRange()':46} {true_range:.4f}")
    print(f"  {'AverageTrueRange(14)':46} {smoothed_range:.4f}")
    low = indicators["Minimum(20)"]
    print(f"  lowest close of the last 20 sits in window slot {low.find_min_index()}")

    for strategy in (SimpleMovingAverageCrossover(5, 20), ExponentialMovingAverageCrossover(5, 20)):
        name = type(strategy).__name__
        print(f"\n{name}(5, 20): days on which the answer changes")
        last = None
        for day, close in enumerate(closes, 1):
            answer = strategy.next(close)
            if last is None or answer != last:
                print(f"  day {day:2}  close {close:7.2f}  {answer}")
            last = answer
    assert Signal.BUY == 0 and str(Signal.SELL) == "Signal.SELL"


if __name__ == "__main__":
    main()
