"""Eight threads on shared and separate instances of every class, the
barworks.classic ones included.

With a switch interval of a microsecond and arguments whose `__float__` runs
Python code, the interpreter hands the lock to another thread in the middle
of `next`, while the instance is held. A shared instance then refuses the
other threads with RuntimeError "Already borrowed" and nothing else; an
instance used by one thread only never fails. Every result is the model's.
"""

import math
import struct
import sys
import threading
import time

import _barworks
from classes import CLASSIC_ROWS, STREAMS as MODULE_STREAMS, model_input, same_result

STREAMS = MODULE_STREAMS + [row for row in CLASSIC_ROWS if row.input]

THREADS = 8
ROUNDS = 150
SHARED_VALUE = 3.0
SHARED_BAR = _barworks.Bar(10.0, 12.0, 9.0, 11.0, 5)


class Slow:
    """A number whose conversion runs enough bytecode to be interrupted."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        total = 0
        for i in range(20):
            total += i
        # Give the lock away outright: on a loaded machine the switch
        # interval alone may never fall inside a conversion.
        time.sleep(0)
        return self.value


def stream_value(thread, step):
    """A thread's own input at a step: varied, repeatable, with rare NaN."""
    if step % 37 == 36:
        return float("nan")
    return ((thread * 7919 + step * 104729) % 2003) / 8.0 - 100.0


def bar_fields(value):
    """High, low and close of the bar made from `value`."""
    return value + 2.0, value - 1.5, value + 0.5


def bar_of(value):
    return _barworks.Bar(value, *bar_fields(value), 1)


def key(row, result):
    """A sortable bit pattern of a result; every NaN is one NaN."""
    if row.result == "signal":
        return int(result)
    values = result if row.result in ("triple", "pair") else (result,)
    return tuple(b"nan" if math.isnan(value) else struct.pack("<d", value) for value in values)


def worker(thread, shared, separate, log, start):
    start.wait()
    for step in range(ROUNDS):
        for row in STREAMS:
            value = stream_value(thread, step)
            argument = bar_of(value) if row.input == "bar" else (Slow(value) if step % 2 else value)
            try:
                log["separate"][row.label].append(separate[row.label].next(argument))
            except BaseException as error:  # recorded, and fails the test
                log["unexpected"].append((row.label, "separate", repr(error)))
            argument = SHARED_BAR if row.input == "bar" else Slow(SHARED_VALUE)
            try:
                log["shared"][row.label].append(shared[row.label].next(argument))
            except RuntimeError as error:
                if str(error) == "Already borrowed":
                    log["refused"][row.label] += 1
                else:
                    log["unexpected"].append((row.label, "shared", repr(error)))
            except BaseException as error:
                log["unexpected"].append((row.label, "shared", repr(error)))


def test_threads_share_instances_safely():
    make = {row.label: row.make for row in STREAMS}
    shared = {name: new() for name, new in make.items()}
    logs = [{"separate": {row.label: [] for row in STREAMS},
             "shared": {row.label: [] for row in STREAMS},
             "refused": {row.label: 0 for row in STREAMS},
             "unexpected": []} for _ in range(THREADS)]
    start = threading.Barrier(THREADS)
    threads = [threading.Thread(target=worker,
                                args=(t, shared, {name: new() for name, new in make.items()},
                                      logs[t], start))
               for t in range(THREADS)]
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)

    assert [entry for log in logs for entry in log["unexpected"]] == []
    for row in STREAMS:
        sample = row.sample
        for t, log in enumerate(logs):
            model = row.new_model(sample)
            for step, got in enumerate(log["separate"][row.label]):
                value = stream_value(t, step)
                converted = model_input(row, bar_fields(value) if row.input == "bar" else value)
                assert same_result(row, got, model.next(*converted)), (row, t, step)
            assert len(log["separate"][row.label]) == ROUNDS

        # The shared instance took the same input at every success, so its
        # results, in whatever order the threads got them, are the model's
        # first results; its state is the model's after as many steps.
        results = [got for log in logs for got in log["shared"][row.label]]
        refused = sum(log["refused"][row.label] for log in logs)
        assert len(results) + refused == THREADS * ROUNDS
        model = row.new_model(sample)
        shared_input = model_input(row, (12.0, 9.0, 11.0) if row.input == "bar" else SHARED_VALUE)
        expected = [model.next(*shared_input) for _ in results]
        assert sorted(key(row, got) for got in results) == sorted(key(row, x) for x in expected)
        probe = bar_of(1.0) if row.input == "bar" else 1.0
        probe_input = model_input(row, bar_fields(1.0) if row.input == "bar" else 1.0)
        assert same_result(row, shared[row.label].next(probe), model.next(*probe_input)), row

    # A Bar argument runs no Python code, so only float streams contend.
    contended = sum(log["refused"][row.label] for log in logs for row in STREAMS)
    assert contended > 0, "no call was ever interrupted: the test exercised nothing"
