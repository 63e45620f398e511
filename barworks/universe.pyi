"""One indicator over many symbols, one bar at a time: `Universe`."""

from collections.abc import Hashable, Iterable, Sequence
from typing import Any, Final, Literal

__all__ = ["Universe", "UNSTEPPED_CODE"]

UNSTEPPED_CODE: Final[int]
MAGIC: Final[bytes]

class Universe:
    """One `cls(*args, **kwargs)` per symbol, held as lanes of one native
    array and stepped together by the class's own update: every lane answers
    and stores bit for bit what the separate object fed the same inputs does.

    `symbols` is a count (names 0 .. n - 1) or a sequence of distinct names
    (a name given twice is a ValueError naming it). The arguments bind and
    are refused exactly as the class's own constructor binds and refuses
    them.
    """

    def __init__(self, cls: Any, symbols: int | Iterable[Hashable], /, *args: Any, **kwargs: Any) -> None: ...
    @classmethod
    def from_objects(cls, objects: Iterable[Any], symbols: int | Iterable[Hashable] | None = None) -> Universe:
        """A universe whose lanes are copies of `objects`, all of one class and
        parameters (the first one's; any other is a ValueError naming it)."""
    @property
    def symbols(self) -> list[Any]:
        """The names, in lane order (a new list)."""
    def __len__(self) -> int: ...
    def __getitem__(self, key: Hashable) -> Any:
        """A new standalone object holding the lane's state: `key` is a name,
        or a position for an int that names no symbol."""
    def __setitem__(self, key: Hashable, obj: Any) -> None:
        """The lane takes `obj`'s state; `obj` must be of the universe's class
        and parameters (a reset copy of it stores what a reset lane stores),
        else ValueError saying which of the two differs."""
    def add(self, symbol: Hashable, obj: Any = None) -> None:
        """Lists `symbol` as the last lane: a new object's state, or `obj`'s."""
    def drop(self, symbol: Hashable) -> None:
        """Delists `symbol`; the other lanes keep their state and order."""
    def next(self, values: Any, *y: Any, where: Any = None) -> Any:
        """One step: one value per symbol (a float64 array, a sequence, a
        pandas Series aligned by name, a polars Series), `next(x, y)` for a
        pair class. Answers float64 (N,), (N, k) for a tuple answer, int8
        codes for a strategy; a Series or DataFrame on the names for a
        Series. `where` (one bool per symbol) steps only the symbols it
        marks: the others stay exactly as they were and answer NaN, or
        UNSTEPPED_CODE (-1, no Signal's code) for a strategy."""
    def next_bars(self, high: Any, low: Any, close: Any, open: Any = None, volume: Any = None, *,
                  where: Any = None) -> Any:
        """One bar per symbol, as one column per field; `open` and `volume`
        where the class reads them."""
    def feed(self, values: Any, *y: Any, warmup: Literal["value", "nan"] = "value") -> Any:
        """Every row of a (steps, N) matrix in order, as `barworks.feed` runs
        one column: (steps, N) answers, (steps, N, k) for a tuple answer. A
        pandas DataFrame with the names as columns gives a DataFrame on its
        index (columns (symbol, part) for a tuple answer); a polars
        DataFrame likewise."""
    def feed_bars(self, high: Any, low: Any, close: Any, open: Any = None, volume: Any = None, *,
                  warmup: Literal["value", "nan"] = "value") -> Any:
        """Every row of the (steps, N) matrices of bar fields, in order."""
    def __reduce__(self) -> tuple[Any, tuple[bytes]]: ...
