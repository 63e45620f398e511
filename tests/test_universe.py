"""barworks.Universe: every lane answers and stores exactly what the separate
object fed the same inputs does, for every class, any number of symbols and
any mask of the symbols that step; names, lanes as objects and the stored
form around them."""

import collections
import pickle

import numpy as np
import pytest

import _barworks
import barworks
from barworks.universe import UNSTEPPED_CODE
from classes import CLASSES, CLASSIC, SAMPLES_ONLY

Case = collections.namedtuple("Case", "label cls arguments input result")
Candle = collections.namedtuple("Candle", "open high low close volume")

CASES = [Case(row.label, row.cls, row.sample, row.input, row.result)
         for row in CLASSES if row.input is not None]
CASES += [Case(f"classic.{row.name}", row.cls, row.configs[0],
               {"close": "float"}.get(row.input, row.input), row.result) for row in CLASSIC]
FIELDS = {"float": ("values",), "pair": ("x", "y"), "bar": ("open", "high", "low", "close", "volume")}


def inputs(rng, shape, field, specials=True):
    """Prices with NaN and infinities among them (or none); volumes of any
    size."""
    values = rng.normal(100.0, 5.0, shape)
    if field == "volume":
        values = np.abs(values) * 1e3
    special = rng.random(shape) if specials else np.ones(shape)
    values[special < 0.04] = np.nan
    values[(special >= 0.04) & (special < 0.06)] = np.inf
    values[(special >= 0.06) & (special < 0.08)] = -np.inf
    return values


def next_of(case, obj, row):
    """The separate object's next on one symbol's fields."""
    if case.input == "float":
        return obj.next(float(row["values"]))
    if case.input == "pair":
        return obj.next(float(row["x"]), float(row["y"]))
    if not case.label.startswith("classic."):
        return obj.next(_barworks.Bar(0.0, row["high"], row["low"], row["close"], 0))
    return obj.next(Candle(*(float(row[name]) for name in FIELDS["bar"])))


def cells(answer, result):
    """One answer as the universe lays it out: float64 cells or a code."""
    if result == "signal":
        return np.array([int(answer)], np.int8)
    return np.array(answer if isinstance(answer, tuple) else [answer], np.float64)


def step(case, universe, columns, where):
    if case.input == "float":
        return universe.next(columns["values"], where=where)
    if case.input == "pair":
        return universe.next(columns["x"], columns["y"], where=where)
    return universe.next_bars(columns["high"], columns["low"], columns["close"],
                              open=columns["open"], volume=columns["volume"], where=where)


def run(case, universe, matrices, warmup="value"):
    if case.input == "float":
        return universe.feed(matrices["values"], warmup=warmup)
    if case.input == "pair":
        return universe.feed(matrices["x"], matrices["y"], warmup=warmup)
    return universe.feed_bars(matrices["high"], matrices["low"], matrices["close"],
                              open=matrices["open"], volume=matrices["volume"], warmup=warmup)


def run_of(case, obj, matrices, j, warmup="value"):
    column = {name: np.ascontiguousarray(matrix[:, j]) for name, matrix in matrices.items()}
    if case.input == "float":
        return barworks.feed(obj, column["values"], warmup=warmup)
    if case.input == "pair":
        return barworks.feed(obj, column["x"], column["y"], warmup=warmup)
    return barworks.feed_bars(obj, column["high"], column["low"], column["close"],
                              open=column["open"], volume=column["volume"], warmup=warmup)


# Every class at each count of symbols (one, odd, past a vector width);
# with BARWORKS_CONFIGS=sample each class at one of them, in turn, so that
# the slow passes grow with the classes only.
COUNTS = (1, 7, 33)
LANE_CASES = [(case, count) for i, case in enumerate(CASES)
              for count in ((COUNTS[i % len(COUNTS)],) if SAMPLES_ONLY else COUNTS)]


@pytest.mark.parametrize("case, count", LANE_CASES, ids=lambda value: getattr(value, "label", value))
def test_every_lane_is_the_separate_object(case, count):
    rng = np.random.default_rng(count)
    universe = barworks.Universe(case.cls, count, *case.arguments)
    objects = [case.cls(*case.arguments) for _ in range(count)]
    if case.result != "signal":
        # A feed from the start, its warm-up blanked, of numbers alone past
        # the longest sample's warm-up (where the lanes are laid out side by
        # side), then NaN and infinities.
        twin = barworks.Universe(case.cls, count, *case.arguments)
        matrices = {name: np.concatenate([inputs(rng, (100, count), name, specials=False),
                                          inputs(rng, (20, count), name)])
                    for name in FIELDS[case.input]}
        blanked = run(case, twin, matrices, warmup="nan")
        for j in range(count):
            obj = case.cls(*case.arguments)
            want = run_of(case, obj, matrices, j, warmup="nan")
            assert blanked[:, j].tobytes() == want.tobytes(), j
            assert barworks.state(twin[j]) == barworks.state(obj), j
    # Steps of every lane first (one through a mask of all), of numbers
    # alone past the longest sample's warm-up so that NaN does not stop
    # every sum before it, then NaN and infinities, then masks; the lanes
    # are read once between, and stepping goes on after.
    for t in range(56):
        columns = {name: inputs(rng, count, name, specials=t >= 36) for name in FIELDS[case.input]}
        where = np.ones(count, bool) if t == 1 else \
            None if t < 44 or t % 4 == 0 else rng.random(count) < 0.7
        answers = step(case, universe, columns, where)
        for j, obj in enumerate(objects):
            got = np.atleast_1d(answers[j])
            if where is not None and not where[j]:
                assert (got == UNSTEPPED_CODE).all() if case.result == "signal" \
                    else np.isnan(got).all(), (t, j)
                continue
            want = cells(next_of(case, obj, {n: c[j] for n, c in columns.items()}), case.result)
            assert got.tobytes() == want.tobytes(), (t, j)
        if t == 16:
            assert [barworks.state(universe[j]) for j in range(count)] == \
                [barworks.state(obj) for obj in objects]
    # Then a feed of column-major matrices, which runs lane by lane.
    matrices = {name: np.asfortranarray(inputs(rng, (12, count), name))
                for name in FIELDS[case.input]}
    answers = run(case, universe, matrices)
    for j, obj in enumerate(objects):
        assert answers[:, j].tobytes() == run_of(case, obj, matrices, j).tobytes(), j
        assert barworks.state(universe[j]) == barworks.state(obj), j


# Classes whose pairs of lanes slide sums side by side and recompute them
# every 64 slides, and classes of two series whose lanes slide theirs one at
# a time: steps past a recomputation, a run of equal inputs (in one series
# and then the other) and changes that overflow in some lanes, NaN and masks
# that take lanes off the pairs' common path and apart, then steps past
# several more.
@pytest.mark.parametrize("name, arguments", [("WeightedMovingAverage", (3,)),
                                             ("LinearRegression", (3,)),
                                             ("LinearRegression", (1,)),
                                             ("TriangularMovingAverage", (4,)),
                                             ("KaufmanAdaptiveMovingAverage", (5,)),
                                             ("PercentagePriceOscillator", (2, 5)),
                                             ("Correlation", (3,)),
                                             ("Beta", (3,)),
                                             ("UltimateOscillator", (2, 3, 5)),
                                             ("MoneyFlowIndex", (3,)),
                                             ("CommodityChannelIndex", (3,)),
                                             ("Aroon", (3,)),
                                             ("StandardDeviation", (3,)),
                                             ("BollingerBands", (4,))])
def test_sums_sliding_side_by_side_stay_the_objects(name, arguments):
    cls = getattr(barworks.classic, name)
    kind = {"Correlation": "pair", "Beta": "pair", "UltimateOscillator": "bar",
            "MoneyFlowIndex": "bar", "CommodityChannelIndex": "bar",
            "Aroon": "bar"}.get(name, "float")
    case = Case(f"classic.{name}", cls, arguments, kind, "float")
    rng = np.random.default_rng(3)
    universe = barworks.Universe(cls, 9, *arguments)
    objects = [cls(*arguments) for _ in range(9)]
    for t in range(300):
        # Spread over several binary orders, so that the slides round.
        columns = {field: inputs(rng, 9, "values", specials=120 <= t < 140) *
                   np.exp(rng.normal(0, 2, 9)) for field in FIELDS[kind]}
        first, last = ("close", "high") if kind == "bar" else (FIELDS[kind][0], FIELDS[kind][-1])
        if 80 <= t < 90:
            columns[first][:3] = 50.0
        if 85 <= t < 95:
            columns[last][2:4] = 60.0
        if t in (100, 102):
            columns[first][4] = 1.7e308 if t == 100 else -1.7e308  # changes that overflow
        where = rng.random(9) < 0.7 if 140 <= t < 160 else None
        answers = step(case, universe, columns, where)
        for j, obj in enumerate(objects):
            if where is None or where[j]:
                row = {field: column[j] for field, column in columns.items()}
                want = cells(next_of(case, obj, row), case.result)
                assert answers[j:j + 1].tobytes() == want.tobytes(), (t, j)
        if t in (100, 200, 299):
            assert [barworks.state(universe[j]) for j in range(9)] == \
                [barworks.state(obj) for obj in objects], t
        if t == 200:
            # The lanes taken out go on as the objects, with the fields a
            # state leaves out (rebuilt on load) as the universe held them.
            objects = [universe[j] for j in range(9)]


@pytest.mark.parametrize("apart", [False, True])
@pytest.mark.parametrize("order", ["C", "F"])
@pytest.mark.parametrize("cls", [_barworks.Minimum, _barworks.Maximum,
                                 _barworks.SimpleMovingAverage])
def test_a_long_feed_is_the_separate_objects_fed(cls, order, apart):
    """Runs longer than a stretch of steps, of more lanes than a tile of 64.
    A row-major matrix's rows a window extreme folds side by side while its
    lanes write one slot; a column-major one's, or lanes a masked step set
    apart, it runs one lane at a time (a row-major one's lanes gathered a
    tile at a time), and a class stepping every lane at once gathers a
    column-major one's rows a block at a time. Signed zeros, whose sign a
    window extreme's remembered slot decides, are extremes in the lanes of
    either sign, as are windows without a number; the second feed starts
    its lanes inside a window."""
    rng = np.random.default_rng(5)
    matrix = inputs(rng, (2 * 1024 + 7, 70), "values") * np.where(np.arange(70) % 2, 1.0, -1.0)
    zeros = rng.random(matrix.shape)
    matrix[zeros < 0.03] = 0.0
    matrix[zeros > 0.97] = -0.0
    # Windows of NaN alone, and of one infinity, which a remembered slot
    # answers.
    matrix[300:340, ::5] = np.nan
    matrix[600:640, 1::5] = np.inf
    matrix[900:940, 2::5] = -np.inf
    matrix = matrix.copy(order=order)
    universe = barworks.Universe(cls, 70, 20)
    stepped = (np.arange(70) % 3 != 0) & apart
    if apart:
        universe.next(matrix[0], where=stepped)
    answers = np.concatenate([universe.feed(matrix[:13]), universe.feed(matrix[13:])])
    for j in range(70):
        obj = cls(20)
        if stepped[j]:
            obj.next(float(matrix[0, j]))
        column = np.ascontiguousarray(matrix[:, j])
        want = np.concatenate([barworks.feed(obj, column[:13]), barworks.feed(obj, column[13:])])
        assert answers[:, j].tobytes() == want.tobytes(), j
        assert barworks.state(universe[j]) == barworks.state(obj), j


def test_names_lanes_and_stored_form():
    sma = _barworks.SimpleMovingAverage
    universe = barworks.Universe(sma, ["a", "b", "c"], 3)
    objects = {name: sma(3) for name in "abc"}
    for value in (1.0, 4.0, 2.0):
        universe.next(np.array([value, value * 2, value * 3]))
        for i, name in enumerate("abc"):
            objects[name].next(value * (i + 1))
    universe.add("d", objects["b"])
    universe.drop("a")
    assert universe.symbols == ["b", "c", "d"] and len(universe) == 3
    assert [barworks.state(universe[name]) for name in "bcd"] == \
        [barworks.state(objects[name]) for name in "bcb"]
    assert barworks.state(universe[0]) == barworks.state(universe["b"])
    universe["c"] = objects["a"]
    assert barworks.state(universe["c"]) == barworks.state(objects["a"])
    for again in (barworks.restore(barworks.state(universe)), pickle.loads(pickle.dumps(universe))):
        assert again.symbols == universe.symbols
        assert barworks.state(again) == barworks.state(universe)
    built = barworks.Universe.from_objects(list(objects.values()), symbols=list("xyz"))
    assert barworks.state(built["z"]) == barworks.state(objects["c"])


REFUSALS = [
    (lambda: barworks.Universe(_barworks.SimpleMovingAverage, ["a", "a"], 3), ValueError, "'a'"),
    (lambda: barworks.Universe(_barworks.SimpleMovingAverage, 2, 0), ValueError, "Period"),
    (lambda: barworks.Universe(_barworks.Bar, 2, 1.0, 2.0, 0.5, 1.5, 10), TypeError, "Bar"),
    (lambda u: u.__setitem__("a", _barworks.SimpleMovingAverage(4)), ValueError, "parameters"),
    (lambda u: u.__setitem__("a", _barworks.Maximum(3)), ValueError, "Maximum"),
    (lambda u: u.__setitem__("a", 3.0), ValueError, "'a'"),
    (lambda u: u.add("b"), ValueError, "'b'"),
    (lambda u: u.next(np.ones(3)), ValueError, "one per symbol"),
    (lambda u: u.next(np.ones(2), where=[True]), ValueError, "where"),
    (lambda u: u.next_bars(np.ones(2), np.ones(2), np.ones(2)), TypeError, "next(values)"),
    (lambda u: u.feed(np.ones((4, 3))), ValueError, "one column per symbol"),
    (lambda u: u.feed(np.ones(4)), TypeError, "two-dimensional"),
    (lambda u: barworks.restore(barworks.state(u)[:-3]), ValueError, "truncated"),
    (lambda u: barworks.restore(barworks.state(u) + b"x"), ValueError, "after its last lane"),
]


@pytest.mark.parametrize("call, error, words", REFUSALS)
def test_refusals_say_what_is_wrong(call, error, words):
    universe = barworks.Universe(_barworks.SimpleMovingAverage, ["a", "b"], 3)
    with pytest.raises(error, match=words.replace("(", r"\(").replace(")", r"\)")):
        call() if call.__code__.co_argcount == 0 else call(universe)


def test_pandas_in_and_out_by_name():
    pandas = pytest.importorskip("pandas")
    universe = barworks.Universe(_barworks.SimpleMovingAverage, ["a", "b"], 2)
    answers = universe.next(pandas.Series([2.0, 1.0], index=["b", "a"]))
    assert list(answers.index) == ["a", "b"] and list(answers) == [1.0, 2.0]
    with pytest.raises(ValueError, match="no value for 'b'; 'c' not in the universe"):
        universe.next(pandas.Series([1.0, 2.0], index=["a", "c"]))
    frame = pandas.DataFrame({"b": [1.0, 3.0], "a": [5.0, 7.0]}, index=[10, 11])
    fed = universe.feed(frame)
    assert list(fed.columns) == ["a", "b"] and list(fed.index) == [10, 11]
    assert list(fed["a"]) == [3.0, 6.0]
