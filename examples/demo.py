"""Stream a daily price series through every barworks class, back-test both
crossover strategies and draw a chart.

    python3.14 examples/demo.py                      # a seeded synthetic series
    python3.14 examples/demo.py --csv prices.csv     # your own Date,Open,High,Low,Close,Volume file

Each row becomes one `Bar` for TrueRange and AverageTrueRange; its close goes
to the value indicators and to both strategies, and the day's return to the
Sharpe ratio. A strategy's answer at one close decides the position held until
the next close: long on BUY, flat on SELL or HOLD.
"""

import argparse
import csv
import datetime
import math
import os
import pathlib
import random
import sys
import time
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, field
from typing import Protocol

from _barworks import (
    AverageTrueRange, Bar, ExponentialMovingAverage, ExponentialMovingAverageCrossover, Maximum,
    Minimum, MovingAverageConvergenceDivergence, RateOfChange, RelativeStrengthIndex, SharpeRatio,
    Signal, SimpleMovingAverage, SimpleMovingAverageCrossover, StandardDeviation, TrueRange,
)

COLUMNS = ("Date", "Open", "High", "Low", "Close", "Volume")
LARGEST_VOLUME = 4294967295  # a Bar holds its volume as an unsigned 32-bit count
PROGRESS_ABOVE = 100_000     # rows; longer inputs report their progress
BUY = int(Signal.BUY)        # answers are kept as their integer codes

# Windows in trading days.
AVERAGE_DAYS, SMOOTHING_DAYS, DEVIATION_DAYS = 50, 20, 20
RSI_DAYS, ROC_DAYS, RANGE_DAYS, SHARPE_DAYS, ATR_DAYS = 14, 10, 20, 20, 14
MACD_LONG, MACD_SHORT, MACD_SIGNAL = 26, 12, 9
SMA_CROSS = (20, 50)
EMA_CROSS = (12, 26)


class InputError(Exception):
    """A CSV problem, located by line number and column name."""

    def __init__(self, line: int, column: str | int, problem: str) -> None:
        super().__init__(f"line {line}, column {column}: {problem}")


@dataclass
class Series:
    dates: list[datetime.datetime] = field(default_factory=list)
    opens: list[float] = field(default_factory=list)
    highs: list[float] = field(default_factory=list)
    lows: list[float] = field(default_factory=list)
    closes: list[float] = field(default_factory=list)
    volumes: list[int] = field(default_factory=list)
    source: str = ""

    def __len__(self) -> int:
        return len(self.closes)


# ---------------------------------------------------------------- input

def parse_price(text: str, line: int, column: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise InputError(line, column, f"{text!r} is not a number") from None
    if not math.isfinite(value) or value <= 0.0:
        raise InputError(line, column, f"{text!r} is not a positive finite price")
    return value


def parse_volume(text: str, line: int, column: str) -> int:
    """A whole, non-negative count; `1200.0` is accepted as 1200, `1200.5` is not."""
    try:
        value = int(text)
    except ValueError:
        try:
            number = float(text)
        except ValueError:
            raise InputError(line, column, f"{text!r} is not a number") from None
        if not number.is_integer():
            raise InputError(line, column, f"{text!r} is not a whole number of units")
        value = int(number)
    if value < 0:
        raise InputError(line, column, f"{text!r} is negative")
    if value > LARGEST_VOLUME:
        raise InputError(line, column, f"{text!r} is above the largest volume a bar holds ({LARGEST_VOLUME})")
    return value


def parse_date(text: str, line: int, column: str, previous: datetime.datetime | None) -> datetime.datetime:
    try:
        moment = datetime.datetime.fromisoformat(text)
    except ValueError:
        raise InputError(line, column, f"{text!r} is not a date like 2024-01-31") from None
    # Indicators take their inputs in time order; a file sorted newest first
    # would silently give different numbers.
    if previous is not None and moment <= previous:
        raise InputError(line, column, f"{text!r} does not come after the row before it ({previous.date()})")
    return moment


def read_csv(path: str | os.PathLike[str]) -> Series:
    """The rows of a Date,Open,High,Low,Close,Volume file, in file order.

    Header names match in any letter case; other columns are ignored.
    """
    series = Series(source=str(path))
    with open(path, newline="", encoding="utf-8-sig") as stream:
        reader = csv.reader(stream)
        try:
            header = next(reader, None)
            if header is None:
                raise InputError(1, "Date", "the file is empty; the first line must name the columns")
            names = [name.strip().lower() for name in header]
            positions: dict[str, int] = {}
            for column in COLUMNS:
                if column.lower() not in names:
                    raise InputError(reader.line_num, column, "missing from the header")
                positions[column] = names.index(column.lower())
            previous: datetime.datetime | None = None
            for row in reader:
                line = reader.line_num
                if not row or all(not cell.strip() for cell in row):
                    continue
                if len(row) > len(header):
                    raise InputError(line, len(header) + 1,
                                     f"the line has {len(row)} fields but the header names {len(header)}")
                cells: dict[str, str] = {}
                for column in COLUMNS:
                    position = positions[column]
                    if position >= len(row) or not row[position].strip():
                        raise InputError(line, column, "no value")
                    cells[column] = row[position].strip()
                previous = parse_date(cells["Date"], line, "Date", previous)
                series.dates.append(previous)
                for column, values in (("Open", series.opens), ("High", series.highs),
                                       ("Low", series.lows), ("Close", series.closes)):
                    values.append(parse_price(cells[column], line, column))
                series.volumes.append(parse_volume(cells["Volume"], line, "Volume"))
        except csv.Error as error:
            raise InputError(reader.line_num, "-", f"unreadable CSV ({error})") from None
    if len(series) < 2:
        raise InputError(reader.line_num, "Date", "at least two data rows are needed")
    return series


def business_days(start: datetime.datetime, count: int) -> Iterator[datetime.datetime]:
    day = start
    while count:
        if day.weekday() < 5:
            yield day
            count -= 1
        day += datetime.timedelta(days=1)


def synthetic_series(days: int, seed: int) -> Series:
    """Geometric Brownian motion (8 % drift, 25 % volatility a year) with an
    overnight gap, an intraday range and a log-normal volume per day."""
    rng = random.Random(seed)
    step = 1.0 / 252.0
    drift, volatility = 0.08, 0.25
    series = Series(source=f"synthetic: {days} business days, seed {seed}")
    close = 100.0
    for day in business_days(datetime.datetime(2021, 1, 4), days):
        open_ = close * math.exp(rng.gauss(0.0, 0.003))
        close = open_ * math.exp((drift - volatility**2 / 2) * step + volatility * math.sqrt(step) * rng.gauss(0.0, 1.0))
        high = max(open_, close) * (1.0 + abs(rng.gauss(0.0, 0.006)))
        low = min(open_, close) * (1.0 - abs(rng.gauss(0.0, 0.006)))
        series.dates.append(day)
        series.opens.append(round(open_, 2))
        series.highs.append(round(high, 2))
        series.lows.append(round(low, 2))
        close = round(close, 2)
        series.closes.append(close)
        series.volumes.append(int(rng.lognormvariate(13.0, 0.4)))
    return series


# ---------------------------------------------------------------- streaming

@dataclass
class Results:
    average: list[float] = field(default_factory=list)
    smoothed: list[float] = field(default_factory=list)
    deviation: list[float] = field(default_factory=list)
    strength: list[float] = field(default_factory=list)
    change: list[float] = field(default_factory=list)
    lowest: list[float] = field(default_factory=list)
    highest: list[float] = field(default_factory=list)
    days_since_low: int = 0
    days_since_high: int = 0
    macd: list[tuple[float, float, float]] = field(default_factory=list)
    sharpe: list[float] = field(default_factory=list)
    true_range: list[float] = field(default_factory=list)
    average_range: list[float] = field(default_factory=list)
    sma_signal: list[int] = field(default_factory=list)
    ema_signal: list[int] = field(default_factory=list)
    seconds: float = 0.0


class Progress(Protocol):
    """Where `stream` reports how far it got: `print` or anything called like it."""

    def __call__(self, text: str, /, *, flush: bool) -> object: ...


def days_since(slot: int, rows: int, period: int) -> int:
    """Age in rows of a window slot: the k-th input (from 0) sits in slot k mod period."""
    return (rows - 1 - slot) % period


def stream(series: Series, progress: Progress = print, progress_above: int = PROGRESS_ABOVE) -> Results:
    """Feed every row to every class, one call per row and class, as a live feed would."""
    average, smoothed = SimpleMovingAverage(AVERAGE_DAYS), ExponentialMovingAverage(SMOOTHING_DAYS)
    deviation, strength = StandardDeviation(DEVIATION_DAYS), RelativeStrengthIndex(RSI_DAYS)
    change, lowest, highest = RateOfChange(ROC_DAYS), Minimum(RANGE_DAYS), Maximum(RANGE_DAYS)
    macd = MovingAverageConvergenceDivergence(long_period=MACD_LONG, short_period=MACD_SHORT,
                                              signal_period=MACD_SIGNAL)
    sharpe = SharpeRatio(SHARPE_DAYS, 0.0)
    true_range, average_range = TrueRange(), AverageTrueRange(ATR_DAYS)
    sma_cross, ema_cross = SimpleMovingAverageCrossover(*SMA_CROSS), ExponentialMovingAverageCrossover(*EMA_CROSS)

    out = Results()
    rows = len(series)
    report_every = max(rows // 10, 1) if rows > progress_above else 0
    previous_close: float | None = None
    start = time.perf_counter()
    for row, (open_, high, low, close, volume) in enumerate(
            zip(series.opens, series.highs, series.lows, series.closes, series.volumes)):
        bar = Bar(open_, high, low, close, volume)
        out.average.append(average.next(close))
        out.smoothed.append(smoothed.next(close))
        out.deviation.append(deviation.next(close))
        out.strength.append(strength.next(close))
        out.change.append(change.next(close))
        out.lowest.append(lowest.next(close))
        out.highest.append(highest.next(close))
        out.macd.append(macd.next(close))
        # The Sharpe ratio takes daily returns, which start on the second day.
        out.sharpe.append(sharpe.next(close / previous_close - 1.0) if previous_close else math.nan)
        previous_close = close
        out.true_range.append(true_range.next(bar))
        out.average_range.append(average_range.next(bar))
        out.sma_signal.append(int(sma_cross.next(close)))
        out.ema_signal.append(int(ema_cross.next(close)))
        if report_every and (row + 1) % report_every == 0:
            progress(f"  streamed {row + 1:,} of {rows:,} rows", flush=True)
    out.seconds = time.perf_counter() - start
    out.days_since_low = days_since(lowest.find_min_index(), rows, RANGE_DAYS)
    out.days_since_high = days_since(highest.find_max_index(), rows, RANGE_DAYS)
    return out


# ---------------------------------------------------------------- back-test

def signal_changes(signals: Sequence[int]) -> int:
    return sum(1 for before, after in zip(signals, signals[1:]) if before != after)


def long_on_buy_return(closes: Sequence[float], signals: Sequence[int]) -> float:
    """Total return of holding the series from close t to close t+1 exactly
    when the answer at close t was BUY, and cash otherwise."""
    growth = 1.0
    for today, tomorrow, signal in zip(closes, closes[1:], signals):
        if signal == BUY:
            growth *= tomorrow / today
    return growth - 1.0


def buy_and_hold_return(closes: Sequence[float]) -> float:
    return closes[-1] / closes[0] - 1.0


# ---------------------------------------------------------------- report

SIGNAL_NAMES = {BUY: "BUY", int(Signal.SELL): "SELL", int(Signal.HOLD): "HOLD"}

LEGEND = [
    ("close", "closing price of the day"),
    (f"avg{AVERAGE_DAYS}", f"simple average of the last {AVERAGE_DAYS} closes"),
    (f"ema{SMOOTHING_DAYS}", f"exponential average of the closes, newest close weighted 2/{SMOOTHING_DAYS + 1}"),
    (f"sd{DEVIATION_DAYS}", f"standard deviation of the last {DEVIATION_DAYS} closes (population, divided by {DEVIATION_DAYS})"),
    (f"rsi{RSI_DAYS}", f"0-100: share of gains in the last {RSI_DAYS} daily moves (plain averages, no Wilder smoothing)"),
    (f"roc{ROC_DAYS}%", f"change of the close against {ROC_DAYS} days earlier, in percent"),
    (f"low{RANGE_DAYS}", f"lowest close of the last {RANGE_DAYS} days"),
    (f"high{RANGE_DAYS}", f"highest close of the last {RANGE_DAYS} days"),
    ("macd", f"{MACD_SHORT}-day minus {MACD_LONG}-day exponential average of the closes"),
    ("trigger", f"{MACD_SIGNAL}-day exponential average of macd; macd above it is upward momentum"),
    (f"sharpe{SHARPE_DAYS}", f"mean daily return of the last {SHARPE_DAYS} days over their standard deviation (per day)"),
    ("range", "true range: high to low, stretched to reach the previous close after a gap"),
    (f"atr{ATR_DAYS}", f"exponential average of the true range, newest weighted 2/{ATR_DAYS + 1}"),
    ("sma x", f"answer of SimpleMovingAverageCrossover{SMA_CROSS}: BUY while the {SMA_CROSS[0]}-day average is above the {SMA_CROSS[1]}-day one"),
    ("ema x", f"answer of ExponentialMovingAverageCrossover{EMA_CROSS}: the same with exponential averages"),
]
WIDTHS = (9, 8, 8, 6, 6, 7, 8, 8, 7, 7, 8, 6, 6, 5, 5)


def number(value: float, width: int, decimals: int) -> str:
    """Fixed decimals while they fit the column; significant digits beyond."""
    if math.isnan(value):
        return f"{'-':>{width}}"
    text = f"{value:>{width}.{decimals}f}"
    return text if len(text) <= width else f"{value:>{width}.3g}"


def print_table(series: Series, out: Results, rows: int) -> None:
    headers = ["date"] + [name for name, _ in LEGEND]
    print(" ".join(f"{h:>{w}}" if i else f"{h:<10}" for i, (h, w) in enumerate(zip(headers, (10,) + WIDTHS))))
    for t in range(max(len(series) - rows, 0), len(series)):
        macd, trigger, _ = out.macd[t]
        cells = (series.closes[t], out.average[t], out.smoothed[t], out.deviation[t], out.strength[t],
                 100.0 * out.change[t], out.lowest[t], out.highest[t], macd, trigger, out.sharpe[t],
                 out.true_range[t], out.average_range[t])
        text = [f"{series.dates[t]:%Y-%m-%d}"]
        text += [number(value, width, 3 if i in (8, 9, 10) else 2) for i, (value, width) in enumerate(zip(cells, WIDTHS))]
        text += [f"{SIGNAL_NAMES[out.sma_signal[t]]:>5}", f"{SIGNAL_NAMES[out.ema_signal[t]]:>5}"]
        print(" ".join(text))
    print()
    for name, meaning in LEGEND:
        print(f"  {name:9} {meaning}")
    print(f"  The lowest close of the last {RANGE_DAYS} days was {out.days_since_low} trading day(s) ago, "
          f"the highest {out.days_since_high}.")


def print_backtest(series: Series, out: Results) -> None:
    print(f"\nLong on BUY, flat otherwise (the answer at one close holds until the next),"
          f" over {len(series):,} days:")
    print(f"  {'rule':42} {'changes':>7} {'days long':>9} {'return':>9}")
    for name, signals in ((f"SimpleMovingAverageCrossover{SMA_CROSS}", out.sma_signal),
                          (f"ExponentialMovingAverageCrossover{EMA_CROSS}", out.ema_signal)):
        days_long = sum(1 for signal in signals[:-1] if signal == BUY)
        result = long_on_buy_return(series.closes, signals)
        print(f"  {name:42} {signal_changes(signals):7} {days_long:9,} {result:+9.1%}")
    print(f"  {'buy and hold':42} {'':7} {len(series) - 1:9,} {buy_and_hold_return(series.closes):+9.1%}")


# ---------------------------------------------------------------- chart

# Legends of the lower panels sit in a row above the panel, clear of the lines.
PANEL_LEGEND = dict(loc="lower left", bbox_to_anchor=(0.0, 1.0), ncol=3, fontsize=8, frameon=False,
                    borderaxespad=0.1)


def write_chart(series: Series, out: Results, path: pathlib.Path) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    dates = series.dates
    figure, (prices, strength, momentum, ranges) = plt.subplots(
        4, 1, figsize=(13, 10), sharex=True, layout="constrained",
        gridspec_kw={"height_ratios": [3.2, 1, 1.2, 1]})
    figure.suptitle(f"barworks demo: {series.source}", fontsize=11)

    prices.fill_between(dates, out.lowest, out.highest, color="0.88", lw=0,
                        label=f"{RANGE_DAYS}-day low to high")
    prices.plot(dates, series.closes, color="0.15", lw=0.9, label="close")
    prices.plot(dates, out.average, color="tab:blue", lw=1.3, label=f"{AVERAGE_DAYS}-day simple average")
    prices.plot(dates, out.smoothed, color="tab:orange", lw=1.3, label=f"{SMOOTHING_DAYS}-day exponential average")
    # A marker where a strategy's answer turns to BUY or away from it, i.e.
    # where the long-on-BUY rule enters or leaves the market.
    for signals, label, style in ((out.sma_signal, f"SMA crossover {SMA_CROSS}", dict(s=46, edgecolors="none")),
                                  (out.ema_signal, f"EMA crossover {EMA_CROSS}", dict(s=46, facecolors="none"))):
        entries = [t for t in range(1, len(signals)) if signals[t] == BUY != signals[t - 1]]
        exits = [t for t in range(1, len(signals)) if signals[t - 1] == BUY != signals[t]]
        for times, marker, colour, action in ((entries, "^", "tab:green", "enters"),
                                              (exits, "v", "tab:red", "leaves")):
            colours = {"facecolors": colour} if "edgecolors" in style else {"edgecolors": colour}
            prices.scatter([dates[t] for t in times], [series.closes[t] for t in times], marker=marker,
                           zorder=3, linewidths=1.3, label=f"{label} {action}", **style, **colours)
    prices.set_ylabel("price")
    prices.legend(loc="upper left", fontsize=8, ncol=2, framealpha=0.9)
    prices.grid(alpha=0.3)

    strength.plot(dates, out.strength, color="tab:purple", lw=0.9,
                  label=f"RSI {RSI_DAYS}, plain averages of the daily gains and losses; 30 and 70 dashed")
    strength.legend(**PANEL_LEGEND)
    for level in (30, 70):
        strength.axhline(level, color="0.5", lw=0.8, ls="--")
    strength.set_ylim(0, 100)
    strength.set_ylabel(f"RSI {RSI_DAYS}")
    strength.grid(alpha=0.3)

    line = [m for m, _, _ in out.macd]
    trigger = [s for _, s, _ in out.macd]
    histogram = [h for _, _, h in out.macd]
    momentum.fill_between(dates, 0, histogram, color="0.7", lw=0, label="difference")
    momentum.plot(dates, line, color="tab:blue", lw=1.0, label=f"MACD {MACD_SHORT}/{MACD_LONG}")
    momentum.plot(dates, trigger, color="tab:orange", lw=1.0, label=f"{MACD_SIGNAL}-day signal line")
    momentum.axhline(0, color="0.5", lw=0.6)
    momentum.set_ylabel("MACD")
    momentum.legend(**PANEL_LEGEND)
    momentum.grid(alpha=0.3)

    ranges.plot(dates, out.true_range, color="0.65", lw=0.6, label="true range")
    ranges.plot(dates, out.average_range, color="tab:red", lw=1.1, label=f"ATR {ATR_DAYS}")
    ranges.set_ylabel("range")
    ranges.legend(**PANEL_LEGEND)
    ranges.grid(alpha=0.3)

    figure.align_ylabels()
    path.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(path, dpi=110)
    plt.close(figure)


# ---------------------------------------------------------------- main

def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--csv", type=pathlib.Path, help="Date,Open,High,Low,Close,Volume file, oldest row first")
    parser.add_argument("--out", type=pathlib.Path, default=pathlib.Path("build/demo.png"),
                        help="where to write the chart (PNG; default %(default)s)")
    parser.add_argument("--no-chart", action="store_true", help="print the table and back-test only")
    parser.add_argument("--days", type=int, default=1000, help="length of the synthetic series (default %(default)s)")
    parser.add_argument("--seed", type=int, default=2026, help="seed of the synthetic series (default %(default)s)")
    parser.add_argument("--rows", type=int, default=8, help="rows in the printed table (default %(default)s)")
    args = parser.parse_args(argv)

    if args.csv is None:
        if args.days < 2:
            parser.error("--days must be at least 2")
        series = synthetic_series(args.days, args.seed)
    else:
        try:
            series = read_csv(args.csv)
        except InputError as error:
            print(f"demo: {args.csv}: {error}", file=sys.stderr)
            return 2
        except (OSError, UnicodeDecodeError) as error:
            print(f"demo: {args.csv}: cannot read the file ({error})", file=sys.stderr)
            return 2

    print(f"{len(series):,} daily bars from {series.source}\n")
    out = stream(series)
    print_table(series, out, args.rows)
    print_backtest(series, out)
    if not args.no_chart:
        write_chart(series, out, args.out)
    print(f"\nStreamed {len(series):,} rows through all fifteen classes in {out.seconds * 1e3:.1f} ms: "
          f"{out.seconds / len(series) * 1e6:.2f} µs per row (one Bar and thirteen next() calls).")
    if not args.no_chart:
        print(f"Chart written to {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
