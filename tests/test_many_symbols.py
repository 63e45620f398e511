"""The many-symbols example on a real two-process Dask cluster: indicator
state checkpointed after every chunk and resumed on the other worker must
answer exactly as one process feeding whole series does."""

import importlib
import logging
import os
import pickle
import sys
from pathlib import Path

import pytest

import barworks

distributed = pytest.importorskip("distributed")

EXAMPLES = str(Path(__file__).resolve().parent.parent / "examples")


@pytest.fixture(scope="module")
def many_symbols():
    sys.path.insert(0, EXAMPLES)
    try:
        yield importlib.import_module("many_symbols")
    finally:
        sys.path.remove(EXAMPLES)


@pytest.fixture(scope="module")
def client():
    # Worker processes find the example module, the build and the package
    # through the environment they inherit.
    saved = os.environ.get("PYTHONPATH")
    os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [EXAMPLES, *sys.path]))
    try:
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                      dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
                distributed.Client(cluster) as client:
            yield client
    finally:
        if saved is None:
            del os.environ["PYTHONPATH"]
        else:
            os.environ["PYTHONPATH"] = saved


# The cluster's threads keep allocating in the background, so the refleak
# pass counts this test once.
@pytest.mark.single_pass
def test_state_moved_between_workers_answers_bit_for_bit(many_symbols, client):
    symbols, steps, chunks = list(range(36)), 90, 3
    assert len(client.scheduler_info()["workers"]) == 2
    blobs, answers = many_symbols.run_on_cluster(client, symbols, steps, chunks, partitions=4,
                                                 keep_answers=True, rotate=True)
    expected = many_symbols.run_in_one_process(symbols, steps, chunks)
    assert sorted(answers) == symbols
    for symbol in symbols:
        streamed = answers[symbol]
        assert len(streamed) == chunks
        for i, whole in enumerate(expected[symbol]):
            joined = b"".join(part[i].tobytes() for part in streamed)
            assert joined == whole.tobytes(), (symbol, many_symbols.INDICATORS[i])
    # The final checkpoints hold the state after the whole series.
    final = {}
    for blob in blobs:
        final.update(pickle.loads(blob))
    reference = many_symbols.new_indicators(symbols)
    for symbol, indicators in reference.items():
        values = many_symbols.prices(symbol, steps)
        for indicator in indicators:
            many_symbols.feed(indicator, values)
    assert {s: [barworks.state(i) for i in ind] for s, ind in final.items()} == {
        s: [barworks.state(i) for i in ind] for s, ind in reference.items()}
