"""Registration and the Python-visible shape of every class."""

import importlib
import sys
import weakref

import pytest

import _barworks
from classes import BY_NAME, CLASSES, CONSTRUCTED

NAMES = [row.name for row in CLASSES]


def test_all_lists_every_class_in_registration_order():
    assert _barworks.__all__ == NAMES
    assert {name for name in vars(_barworks) if not name.startswith("__")} == set(NAMES)


@pytest.mark.parametrize("name", NAMES)
def test_class_shape(name):
    row = BY_NAME[name]
    methods = [method for method, _ in row.methods]
    cls = row.cls
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("builtins", name, name)
    if row.parameters is None:
        assert cls.__doc__ is None and cls.__text_signature__ is None
    else:
        assert cls.__doc__ == ""
        assert cls.__text_signature__ == "(" + ", ".join(row.parameter_names) + ")"
    own = [key for key, value in vars(cls).items() if callable(value) and not key.startswith("__")]
    assert own == methods
    for method in methods:
        function = getattr(cls, method)
        assert function.__doc__ is None
        assert function.__text_signature__ == ("($self, input)" if method == "next" else "($self)")


@pytest.mark.parametrize("name", NAMES)
def test_classes_cannot_be_subclassed(name):
    with pytest.raises(TypeError):
        type("Derived", (getattr(_barworks, name),), {})


@pytest.mark.parametrize("name", [row.name for row in CONSTRUCTED])
def test_instances_have_no_dict_and_no_weak_references(name):
    instance = BY_NAME[name].make()
    with pytest.raises(AttributeError):
        instance.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(instance)


def test_class_attributes_can_still_be_set_on_the_class():
    cls = _barworks.SimpleMovingAverage
    cls.note = "kept"
    try:
        assert cls(2).note == "kept"
    finally:
        del cls.note


def test_reinitialisation_returns_the_same_module_and_classes():
    classes = [row.cls for row in CLASSES]
    del sys.modules["_barworks"]
    try:
        again = importlib.import_module("_barworks")
    finally:
        sys.modules["_barworks"] = _barworks
    assert again is _barworks
    assert [getattr(again, name) for name in NAMES] == classes
    assert again.__all__ == NAMES
    assert again.SimpleMovingAverage(3).next(1.0) == 1.0
