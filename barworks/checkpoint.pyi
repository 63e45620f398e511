from collections.abc import Buffer
from typing import Any

__all__ = ["restore", "state"]

def state(obj: object, /) -> bytes:
    """The checkpoint of a barworks object, Universe or BarBuilder as bytes."""

def restore(data: Buffer, /) -> Any:
    """A new object, Universe or BarBuilder holding exactly the state `data`
    records."""
