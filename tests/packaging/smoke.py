"""Checks the installed wheel from outside the source tree: the modules load
from the environment's site-packages, the metadata is complete and the
version the package reports is the one the wheel was built with."""

import importlib.metadata
import pathlib
import sys

import _barworks
import barworks

site = pathlib.Path(sys.prefix).resolve()
for module in (_barworks, barworks):
    where = pathlib.Path(module.__file__).resolve()
    assert site in where.parents, f"{module.__name__} imported from {where}, not from {site}"

distribution = importlib.metadata.distribution("barworks")
assert barworks.__version__ == distribution.version, (barworks.__version__, distribution.version)

metadata = distribution.metadata
assert metadata["License-Expression"] == "MIT", metadata["License-Expression"]
assert metadata["Requires-Python"] == ">=3.14", metadata["Requires-Python"]
assert metadata["Description-Content-Type"] == "text/markdown"
assert "## Quick start" in metadata["Description"]
classifiers = metadata.get_all("Classifier") or []
assert "Typing :: Typed" in classifiers, classifiers

installed = {str(path) for path in distribution.files or ()}
for expected in ("_barworks-stubs/__init__.pyi", "barworks/py.typed", "barworks/__init__.py"):
    assert expected in installed, f"{expected} missing from the wheel"
licence = [path for path in distribution.files or () if path.name == "LICENSE"]
assert licence and "the barworks developers" in licence[0].read_text(), "LICENSE missing"
wheel_tags = (distribution.read_text("WHEEL") or "").split()
assert any("manylinux" in tag for tag in wheel_tags), wheel_tags

from barworks import classic  # noqa: E402

for module in (_barworks, classic):
    assert module.__all__ and all(isinstance(getattr(module, name), type) for name in module.__all__), module
    assert not [name for name in dir(module) if isinstance(getattr(module, name), type)
                and name not in module.__all__ and not name.startswith("_")], module
average = _barworks.SimpleMovingAverage(3)
assert [average.next(x) for x in (1, 2, 3, 4, 5)] == [1.0, 1.5, 2.0, 3.0, 4.0]
strategy = _barworks.ExponentialMovingAverageCrossover(2, 3)
assert [int(strategy.next(x)) for x in (3, 2, 1, 1, 4)] == [2, 1, 1, 1, 0]

print(f"installed barworks {barworks.__version__} works from {site}")
