"""Checkpoints of `_barworks` objects: `state` and `restore`, and the pickle
and copy support built on them.

Importing this module registers a reducer for every `_barworks` class with
`copyreg`, so pickle (every protocol), `copy.copy` and `copy.deepcopy` work
while the classes themselves keep exactly their methods.
"""

import copyreg

import _barworks

from ._state import restore, state

__all__ = ["restore", "state"]


def _bar(open, high, low, close, volume):
    return _barworks.Bar(open, high, low, close, volume)


def _reduce_bar(bar):
    return _bar, (bar.open(), bar.high(), bar.low(), bar.close(), bar.volume())


_SIGNALS = (_barworks.Signal.BUY, _barworks.Signal.SELL, _barworks.Signal.HOLD)


def _signal(code):
    return _SIGNALS[code]


def _reduce_signal(signal):
    return _signal, (int(signal),)


def _reduce_stateful(obj):
    return restore, (state(obj),)


copyreg.pickle(_barworks.Bar, _reduce_bar)
copyreg.pickle(_barworks.Signal, _reduce_signal)
for _name in _barworks.__all__:
    if _name not in ("Bar", "Signal"):
        copyreg.pickle(getattr(_barworks, _name), _reduce_stateful)
del _name
