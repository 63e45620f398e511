"""Streaming technical analysis around the `_barworks` classes."""

__version__ = "0.1.0"

from .checkpoint import restore, state

__all__ = ["restore", "state"]
