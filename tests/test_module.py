"""Registration and the Python-visible shape of every class."""

import importlib
import sys
import weakref

import pytest

import _barworks
from classes import CLASSES, CONSTRUCTED, make


def test_all_lists_every_class_in_registration_order():
    assert _barworks.__all__ == list(CLASSES)
    assert {name for name in vars(_barworks) if not name.startswith("__")} == set(CLASSES)


@pytest.mark.parametrize("name", list(CLASSES))
def test_class_shape(name):
    parameters, _, methods, _ = CLASSES[name]
    cls = getattr(_barworks, name)
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("builtins", name, name)
    if parameters is None:
        assert cls.__doc__ is None and cls.__text_signature__ is None
    else:
        assert cls.__doc__ == ""
        assert cls.__text_signature__ == "(" + ", ".join(parameters) + ")"
    own = [key for key, value in vars(cls).items() if callable(value) and not key.startswith("__")]
    assert own == list(methods)
    for method in methods:
        function = getattr(cls, method)
        assert function.__doc__ is None
        assert function.__text_signature__ == ("($self, input)" if method == "next" else "($self)")


@pytest.mark.parametrize("name", list(CLASSES))
def test_classes_cannot_be_subclassed(name):
    with pytest.raises(TypeError):
        type("Derived", (getattr(_barworks, name),), {})


@pytest.mark.parametrize("name", CONSTRUCTED)
def test_instances_have_no_dict_and_no_weak_references(name):
    instance = make(name)
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
    classes = [getattr(_barworks, name) for name in CLASSES]
    del sys.modules["_barworks"]
    try:
        again = importlib.import_module("_barworks")
    finally:
        sys.modules["_barworks"] = _barworks
    assert again is _barworks
    assert [getattr(again, name) for name in CLASSES] == classes
    assert again.__all__ == list(CLASSES)
    assert again.SimpleMovingAverage(3).next(1.0) == 1.0
