"""Mistakes a user makes, each marked with the error mypy must report on its
line. mypy --strict runs with warn_unused_ignores, so a mistake it misses
leaves an unused ignore comment behind and fails the check."""

from collections.abc import Hashable

from _barworks import Bar, MovingAverageConvergenceDivergence, Signal, SimpleMovingAverage, TrueRange

average = SimpleMovingAverage(period=3)
value: int = average.next(1.0)  # type: ignore[assignment]
average.next("101.5")  # type: ignore[arg-type]
SimpleMovingAverage(3.5)  # type: ignore[arg-type]
SimpleMovingAverage(length=3)  # type: ignore[call-arg]
average.next(value=1.0)  # type: ignore[call-arg]
average.value()  # type: ignore[attr-defined]
TrueRange().next(101.5)  # type: ignore[arg-type]
Bar(1.0, 2.0, 0.5, 1.5, 100.0)  # type: ignore[arg-type]
macd: float = MovingAverageConvergenceDivergence(26, 12, 9).next(1.0)  # type: ignore[assignment]
bar_close: float = Bar(1, 2, 0.5, 1.5, 10).close  # type: ignore[assignment]
key: Hashable = Signal.BUY  # type: ignore[assignment]
Signal.BUY < Signal.SELL  # type: ignore[operator]
state: None = Signal.HOLD  # type: ignore[assignment]
Signal(0)  # type: ignore[call-arg]

from barworks import classic

classic.MovingAverageConvergenceDivergence(long_period=26)  # type: ignore[call-arg]
classic_rsi: tuple[float, float, float] = classic.RelativeStrengthIndex(14).next(1.0)  # type: ignore[assignment]
classic.AverageTrueRange(14).next(1.0)  # type: ignore[arg-type]

import barworks

barworks.BarBuilder(300, 0)  # type: ignore[call-arg]
barworks.BarBuilder(300, fill="forward")  # type: ignore[arg-type]
builder_close: float = barworks.BarBuilder(300).add(0, 1.0)  # type: ignore[assignment]
