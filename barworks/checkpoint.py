"""Checkpoints of `_barworks` and `barworks.classic` objects: `state` and
`restore`, and the pickle and copy support built on them.

Importing this module registers a reducer for every class of both with
`copyreg`, so pickle (every protocol), `copy.copy` and `copy.deepcopy` work
while the classes themselves keep exactly their methods.
"""

import copyreg

import _barworks

from . import _classic

from . import _native, _state, universe

__all__ = ["restore", "state"]

# A bar builder's checkpoint is an object's (magic, version, class name,
# fields), its class being the companion's own.
_BUILDER_NAME = b"barworks.BarBuilder"
_BUILDER_HEAD = bytes([len(_BUILDER_NAME)]) + _BUILDER_NAME


def state(obj, /):
    """The checkpoint of a barworks object, universe or bar builder as bytes."""
    if isinstance(obj, universe.Universe):
        return obj._stored()
    if isinstance(obj, _native.BarBuilder):
        return _native.builder_state(obj)
    return _state.state(obj)


def restore(data, /):
    """A new object (or universe, or bar builder) holding exactly the state
    `data` records."""
    try:
        head = memoryview(data).cast("B")[:6 + len(_BUILDER_HEAD)].tobytes()
    except (TypeError, ValueError):
        return _state.restore(data)
    if head[:4] == universe.MAGIC:
        return universe.Universe._restored(data)
    if head[6:] == _BUILDER_HEAD:
        return _native.restore_builder(data)
    return _state.restore(data)


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
for _name in _classic.__all__:
    if _name != "Bar":
        copyreg.pickle(getattr(_classic, _name), _reduce_stateful)
copyreg.pickle(_native.BarBuilder, _reduce_stateful)
del _name
