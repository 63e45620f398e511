"""A user's script, fully typed: mypy --strict must accept it as it stands."""

from _barworks import (
    AverageTrueRange, Bar, ExponentialMovingAverageCrossover, Maximum,
    MovingAverageConvergenceDivergence, RelativeStrengthIndex, SharpeRatio, Signal,
    SimpleMovingAverage, TrueRange,
)


def closes_to_signals(closes: list[float]) -> list[Signal]:
    strategy = ExponentialMovingAverageCrossover(short_period=12, long_period=26)
    return [strategy.next(close) for close in closes]


def macd_lines(closes: list[float]) -> list[tuple[float, float, float]]:
    macd = MovingAverageConvergenceDivergence(long_period=26, short_period=12, signal_period=9)
    return [macd.next(input=close) for close in closes]


def ranges(bars: list[Bar]) -> tuple[list[float], list[float]]:
    true_range, average = TrueRange(), AverageTrueRange(14)
    return [true_range.next(bar) for bar in bars], [average.next(bar) for bar in bars]


def main() -> None:
    closes = [100.0 + step % 7 for step in range(60)]
    bars = [Bar(close, close + 1, close - 1, close, volume=1_000) for close in closes]
    signals = closes_to_signals(closes)
    buys: int = sum(1 for signal in signals if signal == Signal.BUY)
    codes: list[int] = [int(signal) for signal in signals]
    macd, signal_line, histogram = macd_lines(closes)[-1]
    spans, smoothed = ranges(bars)
    highest = Maximum(20)
    peaks = [highest.next(close) for close in closes]
    slot: int = highest.find_max_index()
    period: int = SimpleMovingAverage(5).period()
    rsi: float = RelativeStrengthIndex(14).next(closes[0])
    sharpe = SharpeRatio(period=20, rf=0.0)
    ratio: float = sharpe.next(0.01)
    sharpe.reset()
    volume: int = bars[0].volume()
    print(buys, codes[-1], macd + signal_line + histogram, spans[-1], smoothed[-1], peaks[-1],
          slot, period, rsi, ratio, volume, repr(Signal.HOLD))


if __name__ == "__main__":
    main()
