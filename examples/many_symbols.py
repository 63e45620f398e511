"""Thousands of symbols on a local Dask cluster, indicator state moving
between tasks and worker processes as pickled checkpoints.

The symbols are split into partitions, each held as one barworks.Universe
per indicator: every symbol of the partition is a lane of it, never a Python
object of its own. Time is cut into chunks; the task for (partition, chunk)
receives the partition's universes as one pickled blob, feeds the chunk's
(steps, symbols) matrix of prices through each in one call and returns the
new blob with a summary. The next chunk's task may run on any worker: the state
travels with it, and no task ever replays history.

    PYTHONPATH=build/release python3.14 -P examples/many_symbols.py \\
        [--symbols 3000] [--steps 1000] [--chunks 4] [--partitions 24] [--workers 2]
"""

import argparse
import importlib
import logging
import operator
import pickle
import resource
import time
from typing import Any, TypeAlias

import numpy as np
import numpy.typing as npt

import _barworks
import barworks

Prices: TypeAlias = npt.NDArray[np.float64]
# A symbol's indicators, and every answer of one indicator to one chunk.
Indicators: TypeAlias = list[Any]
Answers: TypeAlias = list[Any]

# What each symbol carries: (name, constructor arguments).
INDICATORS: tuple[tuple[str, tuple[int, ...]], ...] = (
    ("SimpleMovingAverage", (20,)),
    ("ExponentialMovingAverage", (12,)),
    ("RelativeStrengthIndex", (14,)),
    ("MovingAverageConvergenceDivergence", (26, 12, 9)),
)


def prices(symbol: int, steps: int) -> Prices:
    """A reproducible random walk per symbol, the same in every process."""
    rng = np.random.default_rng(symbol)
    walk: Prices = 100.0 + np.cumsum(rng.normal(0.0, 1.0, steps))
    return walk


def chunk_of(symbol: int, steps: int, chunks: int, chunk: int) -> Prices:
    bounds = np.linspace(0, steps, chunks + 1).astype(int)
    return prices(symbol, steps)[bounds[chunk]:bounds[chunk + 1]]


def feed(indicator: Any, values: Prices) -> Any:
    """Every answer of `indicator` to `values`, as a float64 array ((n, 3) for
    MACD)."""
    return barworks.feed(indicator, values)


def new_indicators(symbols: list[int]) -> dict[int, Indicators]:
    return {symbol: [getattr(_barworks, name)(*arguments) for name, arguments in INDICATORS]
            for symbol in symbols}


def new_universes(symbols: list[int]) -> list[barworks.Universe]:
    """One universe per indicator, a lane per symbol."""
    return [barworks.Universe(getattr(_barworks, name), symbols, *arguments)
            for name, arguments in INDICATORS]


def indicators_of(blob: bytes) -> dict[int, Indicators]:
    """The pickled universes of a partition as separate objects, by symbol."""
    universes: list[barworks.Universe] = pickle.loads(blob)
    return {symbol: [universe[symbol] for universe in universes]
            for symbol in universes[0].symbols}


def advance(blob: bytes, steps: int, chunks: int, chunk: int,
            keep_answers: bool = False) -> tuple[bytes, dict[int, Answers]]:
    """Runs one chunk of one partition. `blob` is the pickled list of the
    partition's universes; returns the new blob and, per symbol, either
    every answer or only the last."""
    universes: list[barworks.Universe] = pickle.loads(blob)
    symbols = universes[0].symbols
    matrix = np.column_stack([chunk_of(symbol, steps, chunks, chunk) for symbol in symbols])
    results = [universe.feed(matrix) for universe in universes]
    answers: dict[int, Answers] = {}
    for j, symbol in enumerate(symbols):
        columns = [result[:, j] for result in results]
        answers[symbol] = columns if keep_answers else [column[-1] for column in columns]
    return pickle.dumps(universes, pickle.HIGHEST_PROTOCOL), answers


def peak_memory_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def partitioned(symbols: list[int], partitions: int) -> list[list[int]]:
    return [symbols[i::partitions] for i in range(partitions) if symbols[i::partitions]]


def run_on_cluster(client: Any, symbols: list[int], steps: int, chunks: int, partitions: int,
                   keep_answers: bool = False,
                   rotate: bool = False) -> tuple[list[bytes], dict[int, list[Answers]]]:
    """Streams every chunk through every partition. With `rotate`, the task
    for chunk k of partition p is pinned to worker (p + k) mod n, so each
    checkpoint changes process at every chunk."""
    workers = sorted(client.scheduler_info()["workers"])
    groups = partitioned(symbols, partitions)
    blobs = [client.scatter(pickle.dumps(new_universes(group))) for group in groups]
    collected: list[list[Any]] = [[] for _ in groups]
    for chunk in range(chunks):
        futures = []
        for p, blob in enumerate(blobs):
            placement: dict[str, Any] = {}
            if rotate:
                placement = {"workers": [workers[(p + chunk) % len(workers)]],
                             "allow_other_workers": False}
            futures.append(client.submit(advance, blob, steps, chunks, chunk, keep_answers,
                                         pure=False, **placement))
        blobs = [client.submit(operator.itemgetter(0), future, pure=False) for future in futures]
        for p, future in enumerate(futures):
            collected[p].append(client.submit(operator.itemgetter(1), future, pure=False))
    answers: dict[int, list[Answers]] = {}
    for parts in client.gather(collected):
        for part in parts:
            for symbol, results in part.items():
                answers.setdefault(symbol, []).append(results)
    final: list[bytes] = client.gather(blobs)
    return final, answers


def run_in_one_process(symbols: list[int], steps: int) -> dict[int, Answers]:
    """The reference: every symbol's indicators fed the whole series here."""
    answers: dict[int, Answers] = {}
    for symbol, indicators in new_indicators(symbols).items():
        values = prices(symbol, steps)
        answers[symbol] = [feed(indicator, values) for indicator in indicators]
    return answers


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--symbols", type=int, default=3000)
    parser.add_argument("--steps", type=int, default=1000)
    parser.add_argument("--chunks", type=int, default=4)
    parser.add_argument("--partitions", type=int, default=24)
    parser.add_argument("--workers", type=int, default=2)
    options = parser.parse_args()

    # Dask is needed only here, and carries no type information.
    distributed: Any = importlib.import_module("distributed")
    with distributed.LocalCluster(n_workers=options.workers, threads_per_worker=1, processes=True,
                      dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
            distributed.Client(cluster) as client:
        symbols = list(range(options.symbols))
        started = time.perf_counter()
        blobs, answers = run_on_cluster(client, symbols, options.steps, options.chunks,
                                        options.partitions)
        elapsed = time.perf_counter() - started
        worker_peaks = client.run(peak_memory_mib)

    inputs = options.symbols * options.steps
    updates = inputs * len(INDICATORS)
    checkpoint = sum(len(blob) for blob in blobs) / options.symbols
    feeder = "one barworks.Universe per indicator and partition"
    print(f"{options.symbols} symbols x {options.steps} prices in {options.chunks} chunks, "
          f"{len(blobs)} partitions, {options.workers} worker processes, fed by {feeder}")
    print(f"  {elapsed:.2f} s: {inputs / elapsed:,.0f} prices/s, "
          f"{updates / elapsed:,.0f} indicator values/s")
    print(f"  checkpoint per symbol ({len(INDICATORS)} indicators, pickled): {checkpoint:.0f} bytes")
    print(f"  peak memory: client {peak_memory_mib():.0f} MiB, workers "
          + ", ".join(f"{peak:.0f} MiB" for peak in sorted(worker_peaks.values())))
    sample = answers[0][-1]
    print("  symbol 0, last chunk, last answers: "
          + ", ".join(f"{name} {np.round(value, 4)}" for (name, _), value in zip(INDICATORS, sample)))


if __name__ == "__main__":
    main()
