"""The many-symbols example on a real two-process Dask cluster: indicator
state checkpointed after every chunk and resumed on the other worker must
answer exactly as one process feeding whole series does.

The cluster runs in a child interpreter: importing Dask into the test
process would leave its threads and caches behind for every later test."""

import importlib.util
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import barworks

EXAMPLES = str(Path(__file__).resolve().parent.parent / "examples")
BUILD = str(Path(barworks.__file__).resolve().parent.parent)

CHECK = """
    import logging, pickle
    import barworks, distributed
    import many_symbols as example

    symbols, steps, chunks = list(range(36)), 90, 3
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, silence_logs=logging.ERROR) as cluster, \\
            distributed.Client(cluster) as client:
        assert len(client.scheduler_info()["workers"]) == 2
        # Chunk k of partition p runs on worker (p + k) mod 2: every
        # checkpoint changes process at every chunk.
        blobs, answers = example.run_on_cluster(client, symbols, steps, chunks, partitions=4,
                                                keep_answers=True, rotate=True)

    expected = example.run_in_one_process(symbols, steps)
    assert sorted(answers) == symbols
    for symbol in symbols:
        assert len(answers[symbol]) == chunks
        for i, whole in enumerate(expected[symbol]):
            joined = b"".join(part[i].tobytes() for part in answers[symbol])
            assert joined == whole.tobytes(), (symbol, example.INDICATORS[i])

    # The last checkpoints hold the state after the whole series.
    final = {}
    for blob in blobs:
        final.update(example.indicators_of(blob))
    reference = example.new_indicators(symbols)
    for symbol, indicators in reference.items():
        for indicator in indicators:
            example.feed(indicator, example.prices(symbol, steps))
    def stored(group):
        return {s: [barworks.state(i) for i in indicators] for s, indicators in group.items()}
    assert stored(final) == stored(reference)
    print("ok")
"""


# One cluster, counted once by the refleak pass.
@pytest.mark.single_pass
def test_state_moved_between_workers_answers_bit_for_bit():
    if importlib.util.find_spec("distributed") is None:
        pytest.skip("Dask's distributed scheduler is not installed")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([EXAMPLES, BUILD]))
    result = subprocess.run([sys.executable, "-P", "-c", textwrap.dedent(CHECK)], env=env,
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0 and result.stdout == "ok\n", result.stdout + result.stderr
