"""Pure-Python models of every streaming class.

Python floats are IEEE doubles, so a model that performs the documented
operations in the documented order gives the module's results bit for bit;
the tests feed both the same streams and compare. Every model has
`next(value)` (a Bar-fed model takes the bar's high, low and close instead)
and `reset()`, and is built from the converted constructor arguments.
"""

import math

BUY, SELL, HOLD = 0, 1, 2
nan, inf = math.nan, math.inf


def divide(a, b):
    """IEEE division, which Python refuses for a zero divisor."""
    if b != 0.0 or math.isnan(b):
        return a / b
    if a == 0.0 or math.isnan(a):
        return nan
    return math.copysign(inf, a) * math.copysign(1.0, b)


# ---------------------------------------------------------------- moving averages


class SimpleAverageModel:
    def __init__(self, period):
        self.period = period
        self.reset()

    def reset(self):
        self.values = [0.0] * self.period
        self.index = 0
        self.count = 0
        self.sum = 0.0

    def next(self, x):
        x = float(x)
        old = self.values[self.index]
        self.values[self.index] = x
        self.index = (self.index + 1) % self.period
        self.count = min(self.count + 1, self.period)
        self.sum = (x - old) + self.sum
        return self.sum / self.count


class ExponentialAverageModel:
    def __init__(self, period):
        self.alpha = 2.0 / (period + 1)
        self.reset()

    def reset(self):
        self.current = 0.0
        self.first = True

    def next(self, x):
        x = float(x)
        if self.first:
            self.first = False
            self.current = x
            return x
        t1 = x * self.alpha
        t2 = 1.0 - self.alpha
        t3 = t2 * self.current
        self.current = t1 + t3
        return self.current


class CrossoverModel:
    """Answers with the code of BUY, SELL or HOLD, as int() of a Signal."""

    def __init__(self, average, short_period, long_period):
        self.short = average(short_period)
        self.long = average(long_period)

    def reset(self):
        self.short.reset()
        self.long.reset()

    def next(self, x):
        gap = self.short.next(x) - self.long.next(x)
        return BUY if gap > 0 else SELL if gap < 0 else HOLD


class MacdModel:
    def __init__(self, long_period, short_period, signal_period):
        self.long = ExponentialAverageModel(long_period)
        self.short = ExponentialAverageModel(short_period)
        self.signal = ExponentialAverageModel(signal_period)

    def reset(self):
        self.long.reset()
        self.short.reset()
        self.signal.reset()

    def next(self, x):
        long_mean = self.long.next(x)
        macd = self.short.next(x) - long_mean
        signal = self.signal.next(macd)
        return (macd, signal, macd - signal)


# ---------------------------------------------------------------- windowed


class DeviationModel:
    def __init__(self, period):
        self.period = period
        self.reset()

    def reset(self):
        self.values = [0.0] * self.period
        self.index = self.count = 0
        self.sum = self.sum_sq = 0.0

    def next(self, x):
        x = float(x)
        old = self.values[self.index]
        self.values[self.index] = x
        self.index = (self.index + 1) % self.period
        self.count = min(self.count + 1, self.period)
        self.sum = self.sum + (x - old)
        self.sum_sq = self.sum_sq + ((x * x) - (old * old))
        mean = self.sum / self.count
        variance = self.sum_sq / self.count - mean * mean
        return math.sqrt(0.0 if variance <= 0.0 else variance)


class SharpeModel:
    def __init__(self, period, rf):
        self.average, self.deviation, self.rf = SimpleAverageModel(period), DeviationModel(period), rf
        self.steps = 0

    def reset(self):
        self.average.reset()
        self.deviation.reset()
        self.steps = 0

    def next(self, x):
        mean, spread = self.average.next(x), self.deviation.next(x)
        self.steps += 1
        return 0.0 if self.steps < 2 else divide(mean - self.rf, spread)


class StrengthModel:
    """Written with the branch the native scan avoids."""

    def __init__(self, period):
        self.period = period
        self.reset()

    def reset(self):
        self.changes = [0.0] * self.period
        self.index = self.count = 0
        self.previous = 0.0

    def next(self, x):
        x = float(x)
        self.changes[self.index] = x - self.previous
        self.previous = x
        self.index = (self.index + 1) % self.period
        self.count = min(self.count + 1, self.period)
        gain = loss = 0.0
        for c in self.changes:
            if c > 0.0:
                gain = gain + c
            else:
                loss = loss - c
        rs = divide(gain / self.count, loss / self.count)
        return 100.0 - divide(100.0, rs + 1.0)


class RateModel:
    def __init__(self, period):
        self.period = period
        self.reset()

    def reset(self):
        self.taken = []

    def next(self, x):
        x = float(x)
        self.taken.append(x)
        k = len(self.taken)
        reference = self.taken[k - 1 - self.period] if k > self.period + 1 else self.taken[0]
        return divide(x - reference, reference)


class ExtremeModel:
    def __init__(self, period, fill, beats):
        self.period, self.fill, self.beats = period, fill, beats
        self.values = [fill] * period
        self.extreme = self.index = 0

    def reset(self):
        self.values = [self.fill] * self.period

    def scan(self):
        candidate, found = self.fill, 0
        for slot, value in enumerate(self.values):
            if self.beats(value, candidate):
                candidate, found = value, slot
        return found

    def next(self, x):
        x = float(x)
        p = self.index
        self.values[p] = x
        if self.beats(x, self.values[self.extreme]):
            self.extreme = p
        elif self.extreme == p:
            self.extreme = self.scan()
        self.index = (p + 1) % self.period
        return self.values[self.extreme]


def lowest_model(period):
    return ExtremeModel(period, inf, lambda a, b: a < b)


def highest_model(period):
    return ExtremeModel(period, -inf, lambda a, b: a > b)


# ---------------------------------------------------------------- ranges


# A direct transcription of the documented arithmetic, used as the reference.
def max_ignoring_nan(x, y):
    if math.isnan(x):
        return y
    return y if y > x else x


class TrueRangeModel:
    def __init__(self):
        self.previous = None

    def reset(self):
        self.previous = None

    def next(self, high, low, close):
        if self.previous is None:
            result = high - low
        else:
            p = self.previous
            result = max_ignoring_nan(max_ignoring_nan(high - low, abs(high - p)), abs(low - p))
        self.previous = close
        return result


class AverageTrueRangeModel:
    def __init__(self, period):
        self.range = TrueRangeModel()
        self.alpha = 2.0 / (period + 1)
        self.current = None

    def next(self, high, low, close):
        x = self.range.next(high, low, close)
        if self.current is None:
            self.current = x
        else:
            self.current = x * self.alpha + (1.0 - self.alpha) * self.current
        return self.current

    def reset(self):
        self.current = None


def simple_crossover_model(short_period, long_period):
    return CrossoverModel(SimpleAverageModel, short_period, long_period)


def exponential_crossover_model(short_period, long_period):
    return CrossoverModel(ExponentialAverageModel, short_period, long_period)


# ---------------------------------------------------------------- barworks.classic
# Exact answers over each full window, for the classic classes whose peer
# keeps running sums and drifts: NaN until the first window is full.


def over_windows(values, period, answer):
    return [nan] * (period - 1) + [answer(values[i - period + 1:i + 1])
                                   for i in range(period - 1, len(values))]


def exact_triangular(window, *parameters):
    """The triangular average of one window: weights 1, 2, ... m from either
    end, m = (n + 1) // 2, over their total."""
    n, m = len(window), (len(window) + 1) // 2
    return math.fsum(min(i + 1, n - i, m) * v for i, v in enumerate(window)) / (m * (n + 1 - m))


def exact_kaufman(values, period):
    """Kaufman's average with each window's sum of changes summed exactly:
    seeded with the input before the first answer, ratio 1 for a window
    without movement; a period of 1 answers the inputs."""
    if period == 1:
        return list(values)
    fast, slow = 2.0 / 3.0, 2.0 / 31.0
    answers, average = [nan] * period, values[period - 1]
    for i in range(period, len(values)):
        changes = math.fsum(abs(values[j] - values[j - 1]) for j in range(i - period + 1, i + 1))
        direction = abs(values[i] - values[i - period])
        ratio = direction / changes if direction < changes else 1.0
        factor = ratio * (fast - slow) + slow
        average = (values[i] - average) * (factor * factor) + average
        answers.append(average)
    return answers


def exact_variance(window, *parameters):
    # About the rounded mean, less what its rounding adds: the deviations
    # from it sum to n times that rounding error.
    n = len(window)
    mean = math.fsum(window) / n
    deviations = [v - mean for v in window]
    return (math.fsum(d * d for d in deviations) - math.fsum(deviations) ** 2 / n) / n


def exact_deviation(window, *parameters):
    return math.sqrt(exact_variance(window))


def exact_bands(window, period, up, down):
    middle, deviation = math.fsum(window) / len(window), exact_deviation(window)
    return (middle + up * deviation, middle, middle - down * deviation)


def exact_line(window, *parameters):
    """The least-squares line of a window (the oldest at x = 0) as
    {"slope", "intercept", "value", "forecast"}: from deviations from the
    newest value, exact for prices near it, so that no product rounds at the
    price level."""
    n, k = len(window), window[-1]
    deviations = [v - k for v in window]
    middle = math.fsum(deviations) / n
    slope = (math.fsum((2 * i - n + 1) * d for i, d in enumerate(deviations)) * 6 / (n * (n * n - 1))
             if n > 1 else 0.0)
    return {name: k + (middle + slope * (x - (n - 1) / 2))
            for name, x in (("intercept", 0), ("value", n - 1), ("forecast", n))} | {"slope": slope}


def _co_moments(pairs):
    """Sxx, Syy and Sxy of (x, y) pairs about their rounded means, less what
    the rounding adds; exactly 0 for a side that does not move."""
    n = len(pairs)
    sums = []
    for side in zip(*pairs):
        mean = math.fsum(side) / n
        deviations = [v - mean for v in side]
        sums.append((deviations, math.fsum(deviations), len(set(side)) == 1))
    (dx, sx, flat_x), (dy, sy, flat_y) = sums
    sxx = 0.0 if flat_x else math.fsum(d * d for d in dx) - sx * sx / n
    syy = 0.0 if flat_y else math.fsum(d * d for d in dy) - sy * sy / n
    sxy = 0.0 if flat_x or flat_y else math.fsum(a * b for a, b in zip(dx, dy)) - sx * sy / n
    return sxx, syy, sxy


def exact_correlation(pairs, *parameters):
    """Pearson's r of a window of pairs; 0.0 when a side does not move."""
    sxx, syy, sxy = _co_moments(pairs)
    return sxy / math.sqrt(sxx * syy) if sxx * syy > 0.0 else 0.0


def exact_beta(prices, *parameters):
    """The slope of y's returns on x's over a window of price pairs, each
    return (p - previous) / previous (0 after a zero price); 0.0 when x's
    return does not change."""
    def returns(side):
        return [(b - a) / a if a != 0.0 else 0.0 for a, b in zip(side, side[1:])]
    xs, ys = zip(*prices)
    sxx, _, sxy = _co_moments(list(zip(returns(xs), returns(ys))))
    return sxy / sxx if sxx > 0.0 else 0.0


def exact_money_flow(bars, *parameters):
    """The money flow index of a window of bars: the first gives only the
    typical price the second is compared with; 0.0 with no flow."""
    typical = [(b.high() + b.low() + b.close()) / 3.0 for b in bars]
    flows = [(t, t * b.volume(), previous) for t, b, previous in zip(typical[1:], bars[1:], typical)]
    rising = math.fsum(flow for t, flow, previous in flows if t > previous)
    falling = math.fsum(flow for t, flow, previous in flows if t < previous)
    return 100.0 * rising / (rising + falling) if rising + falling != 0.0 else 0.0


def exact_ultimate(bars, *periods):
    """The ultimate oscillator of a window of bars, the first giving only the
    previous close: the periods in order, 0 for a term whose true ranges sum
    to 0."""
    shortest, middle, longest = sorted(periods)
    pressures, ranges = [], []
    for previous, bar in zip(bars, bars[1:]):
        true_low = min(bar.low(), previous.close())
        pressures.append(bar.close() - true_low)
        ranges.append(max(bar.high(), previous.close()) - true_low)

    def average(n):
        total = math.fsum(ranges[-n:])
        return math.fsum(pressures[-n:]) / total if total != 0.0 else 0.0

    return 100.0 * ((4.0 * average(shortest) + 2.0 * average(middle) + average(longest)) / 7.0)


def exact_means(window, fast, slow):
    """(APO, PPO) of the simple averages of a window's last min(fast, slow)
    and all max(fast, slow) inputs, each mean correctly rounded."""
    short, long = sorted((fast, slow))
    fast_mean = math.fsum(window[-short:]) / short
    slow_mean = math.fsum(window[-long:]) / long
    return fast_mean - slow_mean, 0.0 if slow_mean == 0.0 else ((fast_mean - slow_mean) / slow_mean) * 100.0
