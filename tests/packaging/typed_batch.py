"""A typed caller of the companion package, checked with mypy --strict."""

import numpy as np
import numpy.typing as npt

import _barworks as bw
import barworks

prices: npt.NDArray[np.float64] = np.linspace(100.0, 110.0, 50)

averages: npt.NDArray[np.float64] = barworks.feed(bw.SimpleMovingAverage(5), prices, warmup="nan")
lines: npt.NDArray[np.float64] = barworks.feed(bw.MovingAverageConvergenceDivergence(26, 12, 9), prices)
codes: npt.NDArray[np.int8] = barworks.feed(bw.SimpleMovingAverageCrossover(5, 20), [1.0, 2, 3.5])
ranges: npt.NDArray[np.float64] = barworks.feed_bars(bw.TrueRange(), prices, prices - 1.0, prices)
from_bars: npt.NDArray[np.float64] = barworks.feed_bars(bw.AverageTrueRange(3), [bw.Bar(1.0, 2.0, 0.5, 1.5, 10)])

forming: float = barworks.peek(bw.ExponentialMovingAverage(3), 101.5)
forming_lines: tuple[float, float, float] = barworks.peek(bw.MovingAverageConvergenceDivergence(26, 12, 9), 1)
forming_signal: bw.Signal = barworks.peek(bw.ExponentialMovingAverageCrossover(2, 5), 1.0)
forming_range: float = barworks.peek_bar(bw.TrueRange(), bw.Bar(1.0, 2.0, 0.5, 1.5, 10))
warmup: int = barworks.lookback(bw.RelativeStrengthIndex(14))

from barworks import classic

wilder: npt.NDArray[np.float64] = barworks.feed(classic.RelativeStrengthIndex(14), prices, warmup="nan")
classic_lines: npt.NDArray[np.float64] = barworks.feed(classic.MovingAverageConvergenceDivergence(12, 26, 9), prices)
classic_ranges: npt.NDArray[np.float64] = barworks.feed_bars(classic.AverageTrueRange(14), prices, prices - 1.0, prices)
classic_forming: tuple[float, float, float] = barworks.peek(classic.MovingAverageConvergenceDivergence(12, 26, 9), 1.0)
classic_spread: float = barworks.peek(classic.StandardDeviation(20), 101.5)
classic_range: float = barworks.peek_bar(classic.AverageTrueRange(14), bw.Bar(1.0, 2.0, 0.5, 1.5, 10))
classic_warmup: int = barworks.lookback(classic.ExponentialMovingAverage(20))


class Chunks:
    """An Arrow stream of its own, as a library barworks does not know."""

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        return requested_schema


arrow_answers: object = barworks.feed(bw.SimpleMovingAverage(5), Chunks(), nulls="nan")
arrow_pairs: object = barworks.feed(classic.Correlation(5), prices, Chunks())
arrow_ranges: object = barworks.feed_bars(classic.AverageTrueRange(14), Chunks(), prices, Chunks(), nulls="raise")
numpy_ranges: npt.NDArray[np.float64] = barworks.feed_bars(classic.AverageTrueRange(14), prices, Chunks(), prices)

import datetime

builder = barworks.BarBuilder("5min", origin=datetime.datetime(2024, 1, 1), fill="previous")
completed: list[barworks.TimeBar] = builder.add(1_704_067_200_000_000_000, 101.5, 3)
completed += builder.add_bar(np.datetime64("2024-01-01T00:10"), bw.Bar(1.0, 2.0, 0.5, 1.5, 10))
still_forming: barworks.TimeBar | None = builder.forming
last_bar: barworks.TimeBar | None = builder.flush()
bar_start: int = completed[0].start if completed else 0
bar_volume: float = completed[0].volume if completed else 0.0
classic_on_bar: float = classic.OnBalanceVolume().next(completed[0]) if completed else 0.0
columns: barworks.BarColumns = barworks.resample(np.arange(5), prices[:5], every=datetime.timedelta(seconds=1))
starts: npt.NDArray[np.int64] = columns.start
restored_builder: object = barworks.restore(barworks.state(builder))
