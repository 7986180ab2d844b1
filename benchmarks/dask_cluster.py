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
    with contextlib.redirect_stdout(io.StringIO()):
        start = time.perf_counter()
        driver = _native.search_start(searcher, X, y, True)
        search = kiv_dask._ClusterSearch(client, searcher, None, X, y, driver, None, True)
        search.run(None)
        front = _native.search_front(driver)
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
    print("| level | candidates | chunks | in-process s | cluster s | driver expands s | driver retains s "
          "| retained bytes | evaluations bytes |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in levels:
        print(f"| {r.level} | {r.candidates:,} | {r.chunks} | {local_levels.get(r.level, float('nan')):.3f} | "
              f"{r.seconds:.3f} | {r.expand_seconds:.3f} | {r.retain_seconds:.3f} | {r.retained_bytes:,} | "
              f"{r.received_bytes:,} |")
    print_projection(levels, args.rows, args.workers)


# Candidates evaluated per level by a search of max_complexity 10 on 1000 rows
# of the same problem (the "kept" column measured by bfs_benchmark, see
# benchmarks/README.md); the levels of a larger search are not run here.
KEPT_AT_COMPLEXITY_10 = {2: 26, 3: 287, 4: 3_129, 5: 15_276, 6: 66_370, 7: 392_385, 8: 1_673_848,
                         9: 4_314_666, 10: 7_273_807}
PROJECTED_ROWS, MACHINES, CORES = 100_000, 16, 16
NETWORK_BYTES_PER_SECOND = 125e6  # 1 Gbit/s into the driver


def print_projection(levels, rows, workers):
    """Per level of a max_complexity-10 search on PROJECTED_ROWS rows over MACHINES x CORES:
    evaluation from the measured per-candidate cost scaled linearly in rows, the driver's
    expansion per candidate (independent of rows) and its retention scaled in rows, and
    the evaluations' bytes over the network into the driver."""
    evaluated = sum(r.candidates for r in levels)
    per_candidate = sum(r.seconds - r.expand_seconds - r.retain_seconds for r in levels) * workers / evaluated
    expand = sum(r.expand_seconds for r in levels) / evaluated
    retain = max(r.retain_seconds for r in levels)  # a full beam's retention, the largest level's
    back = sum(r.received_bytes for r in levels) / evaluated
    scale = PROJECTED_ROWS / rows
    print()
    print(f"measured per candidate: {1e6 * per_candidate:.1f} us of one worker thread at n = {rows}, "
          f"{back:.1f} bytes back, {1e6 * expand:.2f} us of driver expansion; a full level's retention "
          f"{retain:.3f} s")
    print()
    print(f"| level | candidates | evaluation s | driver s | bytes back | transfer s | level s |")
    print("|---:|---:|---:|---:|---:|---:|---:|")
    total = 0.0
    for level, kept in KEPT_AT_COMPLEXITY_10.items():
        evaluation = kept * per_candidate * scale / (MACHINES * CORES)
        # Each worker expands the level too, in step with the driver.
        driver = 2 * kept * expand + retain * scale
        transfer = kept * back / NETWORK_BYTES_PER_SECOND
        seconds = evaluation + driver + transfer
        total += seconds
        print(f"| {level} | {kept:,} | {evaluation:,.1f} | {driver:,.1f} | {kept * back / 1e6:,.1f} MB | "
              f"{transfer:,.1f} | {seconds:,.1f} |")
    single = sum(KEPT_AT_COMPLEXITY_10.values()) * per_candidate * scale / CORES
    print(f"\ntotal {total / 60:,.1f} min on {MACHINES} machines x {CORES} cores; "
          f"one machine of {CORES} cores: {single / 3600:,.1f} h of evaluation")


if __name__ == "__main__":
    main()
