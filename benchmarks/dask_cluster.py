"""The cluster search against the in-process search on this machine.

Runs the benchmark problem (y = x^3 - 0.5x + 0.3 sin(3x) plus Gaussian noise of
sd 0.05, x uniform in [-3, 3], seeded; numpy's generator, so not the same
sample as bfs_benchmark's) with the default configuration except
max_complexity, once in-process on all cores and once on a LocalCluster of
worker processes with one thread each (KIV_SR_NUM_THREADS=1 in the workers),
checks that both fronts are identical, and prints per level the candidates,
chunks, seconds of both, the driver's own seconds and the bytes that travelled;
then the projection for a larger search from the measured per-candidate cost.

    python benchmarks/dask_cluster.py --rows 1000 --max-complexity 8 --workers 2

One cluster run between two in-process runs (no best-of-N): wall-clock on a
shared machine.
"""

import argparse
import contextlib
import io
import re
import time

import numpy as np
from distributed import Client, LocalCluster

import kiv_sr
from kiv_sr_tools import _native
from kiv_sr_tools import dask as kiv_dask
from kiv_sr_tools.search import settings_of


UNITS = {"s": 1.0, "ms": 1e-3, "µs": 1e-6, "ns": 1e-9}


def problem(rows):
    rng = np.random.default_rng(2026)
    x = rng.uniform(-3.0, 3.0, rows)
    y = x**3 - 0.5 * x + 0.3 * np.sin(3 * x) + rng.normal(0.0, 0.05, rows)
    return x.reshape(-1, 1), y


def in_process(searcher, X, y):
    with contextlib.redirect_stdout(io.StringIO()) as out:
        start = time.perf_counter()
        front = searcher.find_candidates(X, y)
        seconds = time.perf_counter() - start
    found = re.findall(r"Level (\d+) processed in ([\d.]+)(s|ms|µs|ns)\.", out.getvalue())
    levels = {int(level): float(value) * UNITS[unit] for level, value, unit in found}
    return front, seconds, levels


def on_cluster(client, searcher, X, y):
    settings = settings_of(searcher, None, None)
    with contextlib.redirect_stdout(io.StringIO()):
        start = time.perf_counter()
        driver = _native.search_start(settings, X, y, True)
        search = kiv_dask._ClusterSearch(client, settings, X, y, driver, None)
        search.run(None)
        front = [kiv_sr.SearchResult._from_state(state) for state in _native.search_front(driver)]
        seconds = time.perf_counter() - start
    return front, seconds, search.levels


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=1000)
    parser.add_argument("--max-complexity", type=int, default=8)
    parser.add_argument("--workers", type=int, default=2)
    args = parser.parse_args()
    X, y = problem(args.rows)
    searcher = kiv_sr.Searcher(max_complexity=args.max_complexity)

    # The in-process search runs before and after the cluster's, so that a
    # change in the machine's load shows as a difference between the two.
    local, before, local_levels = in_process(searcher, X, y)
    with LocalCluster(
        n_workers=args.workers, threads_per_worker=1, env={"KIV_SR_NUM_THREADS": "1"}, dashboard_address=":0"
    ) as cluster, Client(cluster) as client:
        spread, spread_seconds, levels = on_cluster(client, searcher, X, y)
    _, after, _ = in_process(searcher, X, y)
    local_seconds = (before + after) / 2

    same = [(r.formula, r.error) for r in spread] == [(r.formula, r.error) for r in local]
    print(f"n = {args.rows}, max_complexity {args.max_complexity}, {args.workers} workers x 1 thread")
    print(f"in-process {before:.1f} s before and {after:.1f} s after, cluster {spread_seconds:.1f} s, "
          f"ratio to their mean {spread_seconds / local_seconds:.3f}, identical fronts: {same}")
    print()
    print("| level | candidates | chunks | in-process s | cluster s | driver s | retained bytes | evaluations bytes |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in levels:
        print(f"| {r.level} | {r.candidates:,} | {r.chunks} | {local_levels.get(r.level, float('nan')):.3f} | "
              f"{r.seconds:.3f} | {r.driver_seconds:.3f} | {r.retained_bytes:,} | {r.received_bytes:,} |")
    evaluated = sum(r.candidates for r in levels)
    worker_seconds = sum(r.seconds - r.driver_seconds for r in levels) * args.workers
    print()
    print(f"per candidate: {1e6 * worker_seconds / evaluated:.1f} us of one worker thread, "
          f"{sum(r.received_bytes for r in levels) / evaluated:.1f} bytes back; "
          f"driver {1e6 * sum(r.driver_seconds for r in levels) / evaluated:.2f} us")


if __name__ == "__main__":
    main()
