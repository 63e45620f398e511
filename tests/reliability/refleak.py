"""pytest plugin for the debug interpreter: fails tests that leak.

Loaded with `-p refleak` under python3.14d. Each test body runs WARMUPS
times to fill caches, then RUNS more times; after each run the collector
runs and the interpreter's total reference count and allocated block count
are read. A test fails when every counted run grew either count: a real
leak grows it on every run, while a cache that fills late grows it once.
Tests marked `single_pass` run once (they measure themselves).

An extension module built for the release interpreter (numpy from the
distribution, for one) may be loaded into the debug one, but its reference
changes are not counted in the total, which then drifts with every call into
it. While such a module is loaded, tests are judged by their allocated
blocks alone, which still catch a leaked object; the summary says how many.
With BARWORKS_REFLEAK_REFERENCES=required such a module fails the run
instead, for the part of the suite whose reference counts must be judged.

A test must be repeatable for this pass: it may not depend on state that a
previous run of the same test left behind.
"""

import gc
import os
import re
import sys
import sysconfig
import warnings

import pytest

WARMUPS = 3
RUNS = 3

_summary = {"repeated": 0, "single": 0, "blocks_only": 0, "worst_references": 0,
            "worst_blocks": 0}

# ".cpython-314d-x86_64-linux-gnu.so" here; a release build's module lacks the "d".
_DEBUG_SUFFIX = sysconfig.get_config_var("EXT_SUFFIX")
_RELEASE_SUFFIX = _DEBUG_SUFFIX.replace(f"{sys.version_info[0]}{sys.version_info[1]}d",
                                        f"{sys.version_info[0]}{sys.version_info[1]}")


def _uncounted_extensions():
    """Loaded extension modules whose reference changes the total misses."""
    return sorted(name for name, module in list(sys.modules.items())
                  if (getattr(module, "__file__", None) or "").endswith(_RELEASE_SUFFIX))


def pytest_configure(config):
    if not hasattr(sys, "gettotalrefcount"):
        raise pytest.UsageError("the refleak pass needs a debug interpreter (python3.14d)")
    config.addinivalue_line("markers", "single_pass: run once even in the refleak pass")


def pytest_collection_finish(session):
    # Everything alive once the tests are collected is long-lived: frozen,
    # the collector no longer walks it, which makes the many collections
    # below cheap.
    gc.collect()
    gc.freeze()


def _settle():
    """Drops what the interpreter caches, so that only live objects count."""
    clear = getattr(sys, "_clear_internal_caches", None) or sys._clear_type_cache
    clear()
    re.purge()
    gc.collect()
    gc.collect()


def _counts():
    _settle()
    return sys.gettotalrefcount(), sys.getallocatedblocks()


def _leaking(deltas):
    return all(delta >= 1 for delta in deltas)


def _hunt(run):
    references, blocks = [], []
    before = _counts()
    # What earlier tests left alive is frozen with the rest, so that the
    # collections after each run walk only what this test made: a suite of
    # thousands of tests otherwise spends its time walking their leftovers.
    gc.freeze()
    for repetition in range(WARMUPS + RUNS):
        # Warnings a run records are dropped with it, not kept by the
        # reporter from one run to the next.
        with warnings.catch_warnings(record=True):
            run()
        after = _counts()
        if repetition >= WARMUPS:
            references.append(after[0] - before[0])
            blocks.append(after[1] - before[1])
        before = after
    _summary["repeated"] += 1
    _summary["worst_blocks"] = max(_summary["worst_blocks"], *blocks)
    uncounted = _uncounted_extensions()
    if uncounted and os.environ.get("BARWORKS_REFLEAK_REFERENCES") == "required":
        pytest.fail(f"extension modules built for the release interpreter were loaded "
                    f"({', '.join(uncounted[:3])}); this part of the suite must not load them",
                    pytrace=False)
    if uncounted:
        _summary["blocks_only"] += 1
        references = [0]
    else:
        _summary["worst_references"] = max(_summary["worst_references"], *references)
    if _leaking(references) or _leaking(blocks):
        pytest.fail(f"leaked on every run: references {references}, blocks {blocks}",
                    pytrace=False)


@pytest.hookimpl(wrapper=True)
def pytest_runtest_call(item):
    if item.get_closest_marker("single_pass") is not None:
        _summary["single"] += 1
        return (yield)
    run = item.runtest
    item.runtest = lambda: _hunt(run)
    try:
        return (yield)
    finally:
        del item.runtest


def pytest_terminal_summary(terminalreporter):
    terminalreporter.write_line(
        f"refleak pass: {_summary['repeated']} tests run {WARMUPS}+{RUNS} times "
        f"({_summary['blocks_only']} judged by blocks alone), {_summary['single']} once; "
        f"largest growth in a counted run: "
        f"{_summary['worst_references']} references, {_summary['worst_blocks']} blocks")
