"""kiv_sr on a Dask cluster: many searches at once, and one search spread over
the workers with the same result as on this machine.

Starts a local cluster of two worker processes; on a real cluster, connect
with `Client("tcp://scheduler:8786")` instead (see docs/clusters.md). Needs the
`dask` extra: pip install 'kiv_sr[dask]'.
"""

import contextlib

import numpy as np
from distributed import Client, LocalCluster

import kiv_sr
from kiv_sr_tools import dask as kiv_dask


def main():
    rng = np.random.default_rng(7)
    inputs = rng.uniform(0.5, 3.0, size=(200, 2))
    targets = {"product": 2.5 * inputs[:, 0] * inputs[:, 1], "ratio": inputs[:, 0] / inputs[:, 1]}
    searcher = kiv_sr.Searcher(max_complexity=5, beam_width=100)

    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=":0") as cluster, Client(cluster) as client:
        # One search per target column, each a task of its own.
        futures = kiv_dask.map_searches(client, searcher, [(inputs, y) for y in targets.values()])
        for name, future in zip(targets, futures):
            print(f"{name}: {future.result().formula}")

        # One search whose levels are evaluated by both workers.
        with contextlib.redirect_stdout(None):
            spread = kiv_dask.find_candidates(client, searcher, inputs, targets["product"])
            local = searcher.find_candidates(inputs, targets["product"])
        same = [(r.formula, r.error) for r in spread] == [(r.formula, r.error) for r in local]
        print(f"Same front as on this machine: {same}")


if __name__ == "__main__":
    main()
