from ._state import restore as restore, state as state

__all__ = ["restore", "state"]
