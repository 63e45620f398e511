"""One indicator over many symbols, one bar at a time: `Universe`.

A universe holds one record of the class per symbol, side by side in one
native array (never a Python object per symbol), and steps them all with the
record's own update: every lane is, bit for bit, the separate object fed the
same inputs. This module keeps the symbols' names and reads pandas and polars
inputs by them; the lanes are `barworks._native.Lanes`.
"""

import struct
import sys

from . import _native
from ._state import restore as _restore_object, state as _state_of

__all__ = ["Universe", "UNSTEPPED_CODE"]

# What a strategy's lane answers when `where` leaves it out: no Signal has
# this code (0 BUY, 1 SELL, 2 HOLD). A number's lane answers NaN.
UNSTEPPED_CODE = -1

MAGIC = b"BWUV"
_VERSION = 1
_NAME_TEXT, _NAME_INTEGER = b"s", b"i"


# numpy, imported when the first universe is made: importing barworks alone
# does not load it.
np = None


def _load_numpy():
    global np
    if np is None:
        import numpy
        np = numpy


def _loaded(module, name):
    """A class of a library that is not a dependency, when it is loaded."""
    loaded = sys.modules.get(module)
    return None if loaded is None else getattr(loaded, name, None)


def _plain(*columns):
    """Whether every column given is a numpy array, which a step reads as it
    is: the common case skips the conversions of the others. (A loop: a
    generator costs a step of few symbols more than the step itself.)"""
    for column in columns:
        if type(column) is not np.ndarray and column is not None:
            return False
    return True


class _ArrowColumns:
    """A (steps, symbols) matrix of answers as Arrow data, one column a
    symbol, which a polars frame takes in place: the matrix is copied once,
    column by column, rather than a column at a time through numpy."""

    def __init__(self, answers, names):
        self._answers, self._names = answers, names

    def __arrow_c_stream__(self, requested_schema=None):
        return _native.columns_as_arrow(self._answers, self._names)


def _listed(names, limit=5):
    shown = ", ".join(repr(name) for name in names[:limit])
    return shown + (f" and {len(names) - limit} more" if len(names) > limit else "")


def _is_position(key):
    return isinstance(key, int) and not isinstance(key, bool)


class Universe:
    """`Universe(cls, symbols, /, *args, **kwargs)`: one `cls(*args,
    **kwargs)` per symbol. See the package's stub for every method."""

    __slots__ = ("_lanes", "_symbols", "_positions", "_class_name", "_pandas_index", "__weakref__")

    def __init__(self, cls, symbols, /, *args, **kwargs):
        prototype = cls(*args, **kwargs)
        names = self._names_of(symbols)
        self._adopt(_native.lanes(_state_of(prototype), len(names)), names,
                    type(prototype).__name__)

    def _adopt(self, lanes, names, class_name):
        _load_numpy()
        self._lanes = lanes
        self._symbols = names
        self._positions = {name: i for i, name in enumerate(names)}
        self._class_name = class_name
        self._pandas_index = None

    @staticmethod
    def _names_of(symbols):
        if _is_position(symbols):
            if symbols < 0:
                raise ValueError(f"a universe holds no fewer than 0 symbols, not {symbols}")
            return list(range(symbols))
        if isinstance(symbols, (str, bytes)):
            raise TypeError("argument 'symbols': expected a count or a sequence of names, "
                            f"not one {type(symbols).__name__}")
        names = list(symbols)
        seen = set()
        for name in names:
            if name in seen:
                raise ValueError(f"argument 'symbols': {name!r} is named twice")
            seen.add(name)
        return names

    @classmethod
    def from_objects(cls, objects, symbols=None):
        """A universe whose lanes are copies of `objects`, all of one class
        and parameters, named by `symbols` (positions when None)."""
        objects = list(objects)
        if not objects:
            raise ValueError("from_objects() needs at least one object: its class and "
                             "parameters are the universe's")
        names = cls._names_of(len(objects) if symbols is None else symbols)
        if len(names) != len(objects):
            raise ValueError(f"from_objects() got {len(objects)} objects and {len(names)} symbols")
        fresh = _restore_object(_state_of(objects[0]))
        fresh.reset()
        universe = cls.__new__(cls)
        universe._adopt(_native.lanes(_state_of(fresh), 0), [], type(fresh).__name__)
        for name, obj in zip(names, objects):
            universe.add(name, obj)
        return universe

    # ---------------------------------------------------------------- names

    @property
    def symbols(self):
        """The symbols' names, in lane order (a new list)."""
        return list(self._symbols)

    def __len__(self):
        return len(self._symbols)

    def __repr__(self):
        return f"<Universe of {self._class_name}, {len(self._symbols)} symbols>"

    def _position(self, key):
        """A name's lane; an int that names no symbol is a position."""
        try:
            return self._positions[key]
        except (KeyError, TypeError):
            pass
        if _is_position(key) and -len(self._symbols) <= key < len(self._symbols):
            return key % len(self._symbols)
        raise KeyError(f"the universe has no symbol {key!r}")

    def _stored_of(self, obj, symbol):
        try:
            return _state_of(obj)
        except TypeError:
            raise ValueError(f"symbol {symbol!r}: expected a {self._class_name}, got "
                             f"'{type(obj).__name__}'") from None

    def __getitem__(self, key):
        """A new standalone object holding the lane's state."""
        return _restore_object(self._lanes.state(self._position(key)))

    def __setitem__(self, key, obj):
        position = self._position(key)
        try:
            self._lanes.set(position, self._stored_of(obj, key))
        except ValueError as error:
            raise ValueError(f"symbol {key!r}: {error}") from None

    def add(self, symbol, obj=None):
        """Lists `symbol` as the last lane: a new object's state, or `obj`'s."""
        if symbol in self._positions:
            raise ValueError(f"symbol {symbol!r} is already in the universe")
        self._append(symbol, None if obj is None else self._stored_of(obj, symbol))

    def _append(self, symbol, stored):
        if symbol in self._positions:
            raise ValueError(f"symbol {symbol!r} is already in the universe")
        try:
            self._lanes.append(stored)
        except ValueError as error:
            raise ValueError(f"symbol {symbol!r}: {error}") from None
        self._positions[symbol] = len(self._symbols)
        self._symbols.append(symbol)
        self._pandas_index = None

    def drop(self, symbol):
        """Delists `symbol`; the lanes after it keep their state and order."""
        position = self._position(symbol)
        self._lanes.remove(position)
        del self._positions[self._symbols.pop(position)]
        for i in range(position, len(self._symbols)):
            self._positions[self._symbols[i]] = i
        self._pandas_index = None

    # ---------------------------------------------------------------- inputs

    def _index(self):
        if self._pandas_index is None:
            self._pandas_index = sys.modules["pandas"].Index(self._symbols)
        return self._pandas_index

    def _refuse_unlike(self, labels, parameter, names=None):
        """ValueError naming the symbols missing from `labels`, the labels that
        are no symbol and the labels given twice (`names`: the symbols as the
        labels spell them)."""
        names = self._symbols if names is None else names
        labels = list(labels)
        known, wanted = set(labels), set(names)
        missing = [name for name in names if name not in known]
        extra = [label for label in labels if label not in wanted]
        repeated = sorted({label for label in labels if labels.count(label) > 1}, key=repr) \
            if len(known) != len(labels) else []
        parts = []
        if missing:
            parts.append(f"no value for {_listed(missing)}")
        if extra:
            parts.append(f"{_listed(extra)} not in the universe")
        if repeated:
            parts.append(f"{_listed(repeated)} given twice")
        if parts:
            raise ValueError(f"argument '{parameter}': " + "; ".join(parts))

    def _column(self, values, parameter, dtype=None):
        """One value per symbol, and whether a pandas Series gave them."""
        dtype = np.float64 if dtype is None else dtype
        series = _loaded("pandas", "Series")
        if series is not None and isinstance(values, series):
            index = values.index
            if not index.equals(self._index()):
                self._refuse_unlike(index, parameter)
                values = values.reindex(self._symbols)
            return values.to_numpy(dtype=dtype), True
        polars = _loaded("polars", "Series")
        if polars is not None and isinstance(values, polars):
            return values.to_numpy().astype(dtype, copy=False), False
        if dtype is not np.float64:
            values = np.asarray(values, dtype=dtype)
        return values, False

    def _table(self, values, parameter):
        """A (steps, symbols) float64 matrix, and the frame it came from."""
        frame = _loaded("pandas", "DataFrame")
        if frame is not None and isinstance(values, frame):
            if not values.columns.equals(self._index()):
                self._refuse_unlike(values.columns, parameter)
                values = values[self._symbols]
            return values.to_numpy(dtype=np.float64), values
        polars = _loaded("polars", "DataFrame")
        if polars is not None and isinstance(values, polars):
            names = [str(name) for name in self._symbols]
            if values.columns != names:
                self._refuse_unlike(values.columns, parameter, names)
                values = values.select(names)
            return values.to_numpy().astype(np.float64, copy=False), values
        return np.asarray(values, dtype=np.float64), None

    def _mask(self, where):
        if where is None:
            return None
        return np.ascontiguousarray(self._column(where, "where", bool)[0], dtype=bool)

    def _step_answers(self, answers, as_series):
        if not as_series:
            return answers
        pandas = sys.modules["pandas"]
        if answers.ndim == 2:
            return pandas.DataFrame(answers, index=self._index(), columns=list(self._parts()))
        return pandas.Series(answers, index=self._index())

    def _parts(self):
        return _native.answer_names(self[0]) if self._symbols else ()

    def _run_answers(self, answers, frame):
        if frame is None:
            return answers
        pandas = _loaded("pandas", "DataFrame")
        if pandas is not None and isinstance(frame, pandas):
            if answers.ndim == 3:
                columns = sys.modules["pandas"].MultiIndex.from_product(
                    [self._symbols, list(self._parts())])
                return pandas(answers.reshape(len(answers), -1), index=frame.index,
                              columns=columns)
            return pandas(answers, index=frame.index, columns=self._index())
        if answers.ndim == 3:
            return answers
        return sys.modules["polars"].DataFrame(_ArrowColumns(answers, list(frame.columns)))

    # ---------------------------------------------------------------- steps

    def next(self, values, *y, where=None):
        """One step: one value per symbol (`next(x, y)` for a pair class)."""
        if where is None and type(values) is np.ndarray:
            if not y:
                return self._lanes.next(values, None)
            if len(y) == 1 and type(y[0]) is np.ndarray:
                return self._lanes.next_pairs(values, y[0], None)
        mask = self._mask(where)
        if y:
            if len(y) != 1:
                raise TypeError("next() takes one column of values, or the two columns x and y "
                                "of a pair class")
            x, x_series = self._column(values, "x")
            y, y_series = self._column(y[0], "y")
            return self._step_answers(self._lanes.next_pairs(x, y, mask), x_series or y_series)
        values, as_series = self._column(values, "values")
        return self._step_answers(self._lanes.next(values, mask), as_series)

    def next_bars(self, high, low, close, open=None, volume=None, *, where=None):
        """One bar per symbol, as columns of one value per symbol."""
        if where is None and _plain(high, low, close, open, volume):
            return self._lanes.next_bars(open, high, low, close, volume, None)
        mask = self._mask(where)
        named = {"open": open, "high": high, "low": low, "close": close, "volume": volume}
        columns, as_series = {}, False
        for name, column in named.items():
            if column is None:
                columns[name] = None
                continue
            columns[name], from_series = self._column(column, name)
            as_series = as_series or from_series
        return self._step_answers(self._lanes.next_bars(*columns.values(), mask), as_series)

    def feed(self, values, *y, warmup="value"):
        """Every row of a (steps, symbols) matrix, in order."""
        if y:
            if len(y) != 1:
                raise TypeError("feed() takes one matrix of values, or the two matrices x and y "
                                "of a pair class")
            x, frame = self._table(values, "x")
            y, _ = self._table(y[0], "y")
            return self._run_answers(self._lanes.feed_pairs(x, y, warmup), frame)
        matrix, frame = self._table(values, "values")
        return self._run_answers(self._lanes.feed(matrix, warmup), frame)

    def feed_bars(self, high, low, close, open=None, volume=None, *, warmup="value"):
        """Every row of the (steps, symbols) matrices of bar fields, in order."""
        named = {"open": open, "high": high, "low": low, "close": close, "volume": volume}
        matrices, first = {}, None
        for name, matrix in named.items():
            if matrix is None:
                matrices[name] = None
                continue
            matrices[name], frame = self._table(matrix, name)
            if name == "high":
                first = frame
        return self._run_answers(self._lanes.feed_bars(*matrices.values(), warmup), first)

    # ---------------------------------------------------------------- stored form

    def _stored(self):
        """The universe's stored form: a header, a new lane's stored form (the
        class and parameters), then each symbol's name and lane."""
        parts = [MAGIC, struct.pack("<H", _VERSION)]
        fresh = self._lanes.fresh
        parts += [struct.pack("<I", len(fresh)), fresh, struct.pack("<I", len(self._symbols))]
        for i, name in enumerate(self._symbols):
            if isinstance(name, str):
                text = name.encode()
                parts += [_NAME_TEXT, struct.pack("<I", len(text)), text]
            elif _is_position(name) and -2**63 <= name < 2**63:
                parts += [_NAME_INTEGER, struct.pack("<q", name)]
            else:
                raise TypeError(f"a universe's state stores names that are str or int, not "
                                f"{name!r}")
            lane = self._lanes.state(i)
            parts += [struct.pack("<I", len(lane)), lane]
        return b"".join(parts)

    @classmethod
    def _restored(cls, data):
        reader = _Reader(data)
        if reader.take(4) != MAGIC:
            raise ValueError("not a barworks universe")
        version = reader.unpack("<H")
        if version != _VERSION:
            raise ValueError(f"universe format version {version} is not supported (this build "
                             f"reads version {_VERSION})")
        fresh = reader.take(reader.unpack("<I"))
        count = reader.unpack("<I")
        universe = cls.__new__(cls)
        lanes = _native.lanes(fresh, 0)
        universe._adopt(lanes, [], _restore_object(fresh).__class__.__name__)
        for _ in range(count):
            tag = reader.take(1)
            if tag == _NAME_TEXT:
                try:
                    name = reader.take(reader.unpack("<I")).decode()
                except UnicodeDecodeError:
                    raise ValueError("universe checkpoint: a name is not UTF-8") from None
            elif tag == _NAME_INTEGER:
                name = reader.unpack("<q")
            else:
                raise ValueError(f"universe checkpoint: unknown name tag {tag!r}")
            universe._append(name, reader.take(reader.unpack("<I")))
        if reader.left():
            raise ValueError(f"universe checkpoint has {reader.left()} bytes after its last lane")
        return universe

    def __reduce__(self):
        from .checkpoint import restore
        return restore, (self._stored(),)


class _Reader:
    """Reads a stored universe, refusing one that is cut short."""

    def __init__(self, data):
        self._data = memoryview(data).cast("B")
        self._at = 0

    def take(self, size):
        if self._at + size > len(self._data):
            raise ValueError("universe checkpoint is truncated")
        piece = self._data[self._at:self._at + size].tobytes()
        self._at += size
        return piece

    def unpack(self, layout):
        return struct.unpack(layout, self.take(struct.calcsize(layout)))[0]

    def left(self):
        return len(self._data) - self._at
