"""Searches on a Dask cluster: the same results as on this machine, bit for bit,
for any number of workers and chunk size; a killed worker, Ctrl-C, a closed
client and the time budget leave the cluster usable."""

import contextlib
import io
import os
import re

import numpy as np
import pytest

from conftest import small_searcher

distributed = pytest.importorskip("distributed")
import kiv_sr  # noqa: E402
import kiv_sr_tools  # noqa: E402
from kiv_sr_tools import _native  # noqa: E402
from kiv_sr_tools import dask as cluster  # noqa: E402

ROWS = np.random.default_rng(3).uniform(0.5, 2.0, (25, 2))
TARGETS = ROWS[:, 0] * np.exp(ROWS[:, 1]) + 0.3
COLUMNS = list(np.ascontiguousarray(ROWS.T))
SEARCHER = small_searcher(max_complexity=5, beam_width=30)


def local_cluster(workers, processes=False):
    return distributed.LocalCluster(
        n_workers=workers, threads_per_worker=1, processes=processes, dashboard_address=":0"
    )


@pytest.fixture(scope="module", params=[1, 2, 3])
def client(request):
    with local_cluster(request.param) as spread, distributed.Client(spread) as connected:
        yield connected


def run(search, *args, **kwargs):
    """(the results as exact (formula, error bits) pairs, the retained count of each level)."""
    with contextlib.redirect_stdout(io.StringIO()) as out:
        results = search(*args, **kwargs)
    exact = [(r.formula, r.complexity, r.error.hex()) for r in (results if isinstance(results, list) else [results])]
    return exact, re.findall(r"Level (\d+) processed in .*?Retaining top (\d+)", out.getvalue())


LOCAL = run(SEARCHER.find_candidates, ROWS, TARGETS)


@pytest.mark.parametrize("chunk_size", [None, 97])
def test_cluster_search_is_the_local_search(client, chunk_size):
    assert run(cluster.find_candidates, client, SEARCHER, ROWS, TARGETS, chunk_size=chunk_size) == LOCAL


# The workers rebuild the driver's search with its operators.
@pytest.mark.parametrize("operators", [["Times", "Exp", "Plus"], ("Square", "Subtract", "Sqrt")])
def test_cluster_search_with_operators_is_the_local_search(client, operators):
    local = run(kiv_sr_tools.find_candidates, SEARCHER, ROWS, TARGETS, operators=operators)
    assert local != LOCAL
    assert run(cluster.find_candidates, client, SEARCHER, ROWS, TARGETS, chunk_size=40, operators=operators) == local


@pytest.mark.parametrize(
    "name, data, extra",
    [
        ("find_multivariate", (ROWS, TARGETS), (0.01,)),
        ("find_function", (COLUMNS[1], TARGETS), ()),
        ("find_candidates", (ROWS, TARGETS), (0.0, 0.2)),
    ],
)
def test_cluster_methods_match_the_searcher(client, name, data, extra):
    on_cluster = run(getattr(cluster, name), client, SEARCHER, *data, *extra, chunk_size=400)
    assert on_cluster == run(getattr(SEARCHER, name), *data, *extra)


@pytest.mark.parametrize("method", ["find_function", "find_multivariate", "find_candidates"])
def test_map_searches_runs_each_data_set(client, method):
    datasets = [(COLUMNS[0], TARGETS), (COLUMNS[1], 2 * TARGETS)]
    if method != "find_function":
        datasets = [(np.column_stack([x, x]), y) for x, y in datasets]
    futures = cluster.map_searches(client, SEARCHER, datasets, method=method)
    assert [run(f.result)[0] for f in futures] == [run(getattr(SEARCHER, method), *d)[0] for d in datasets]


@pytest.mark.parametrize("X, y", [([["a"]], [1.0]), ([[1.0], [2.0]], ["x", "y"]), (ROWS, TARGETS[:-1])])
def test_cluster_search_refuses_data_as_the_searcher_does(client, X, y):
    with pytest.raises(Exception) as local:
        SEARCHER.find_candidates(X, y)
    with pytest.raises(type(local.value), match=re.escape(str(local.value))):
        cluster.find_candidates(client, SEARCHER, X, y)


def test_the_cluster_search_warns_about_the_data_as_the_searcher_does(client):
    y = np.where(np.arange(len(TARGETS)) == 3, np.nan, TARGETS)
    for search in (SEARCHER.find_candidates, lambda X, y: cluster.find_candidates(client, SEARCHER, X, y)):
        with pytest.warns(RuntimeWarning, match="The targets hold 1 NaN"), pytest.raises(kiv_sr.KivComplexityError):
            run(search, ROWS, y)


def test_map_searches_refuses_an_unknown_method(client):
    with pytest.raises(ValueError, match="method must be one of find_function, find_multivariate, find_candidates"):
        cluster.map_searches(client, SEARCHER, [], method="fit")


@pytest.mark.parametrize("address, operators", [(False, None), (True, None), (False, ["Times", "Exp", "Plus"])])
def test_regressor_on_a_cluster_fits_the_local_front(client, address, operators):
    settings = dict(max_complexity=5, beam_width=30, verbose=False, operators=operators)
    where = client.scheduler.address if address else client
    model = kiv_sr_tools.KivRegressor(client=where, **settings).fit(ROWS, TARGETS)
    local = kiv_sr_tools.KivRegressor(**settings).fit(ROWS, TARGETS)
    assert [(r.formula, r.error) for r in model.front_] == [(r.formula, r.error) for r in local.front_]


@contextlib.contextmanager
def on_absorb(monkeypatch, calls, action):
    """Runs action() when the driver takes in the chunk evaluation numbered `calls`."""
    taken = []
    absorb = _native.search_absorb

    def absorb_and_act(*args):
        taken.append(args)
        if len(taken) == calls:
            action()
        return absorb(*args)

    monkeypatch.setattr(_native, "search_absorb", absorb_and_act)
    yield
    monkeypatch.setattr(_native, "search_absorb", absorb)


def usable(connected):
    return connected.submit(sum, [1, 2], pure=False).result() == 3


def raise_interrupt():
    raise KeyboardInterrupt


def test_a_worker_killed_mid_level_changes_nothing(monkeypatch):
    with local_cluster(2, processes=True) as spread, distributed.Client(spread) as connected:
        victim = sorted(connected.nthreads())[0]

        def kill():
            with contextlib.suppress(Exception):
                connected.run(os._exit, 1, workers=[victim])

        with on_absorb(monkeypatch, 40, kill):
            assert run(cluster.find_candidates, connected, SEARCHER, ROWS, TARGETS, chunk_size=60) == LOCAL
        assert victim not in connected.nthreads() and usable(connected)


def test_scattered_data_lost_mid_level_are_sent_again(client, monkeypatch):
    def lose_scattered_data():
        scattered = [distributed.Future(key, client) for key in list(client.futures) if not key.startswith("kiv-")]
        client.cancel(scattered, force=True)

    with on_absorb(monkeypatch, 3, lose_scattered_data):
        assert run(cluster.find_candidates, client, SEARCHER, ROWS, TARGETS, chunk_size=60) == LOCAL


@pytest.mark.parametrize(
    "max_time, interrupt_at, warning", [(0.5, 0, "at its time budget of 0.5 s"), (None, 3, "by Ctrl-C")]
)
def test_a_stopped_search_returns_its_front_and_frees_the_cluster(client, monkeypatch, max_time, interrupt_at, warning):
    searcher = small_searcher(max_complexity=9, beam_width=200)
    with on_absorb(monkeypatch, interrupt_at, raise_interrupt), pytest.warns(RuntimeWarning, match=warning):
        exact, levels = run(cluster.find_candidates, client, searcher, ROWS, TARGETS, chunk_size=50, max_time=max_time)
    assert exact and len(levels) < 8
    assert usable(client) and run(cluster.find_candidates, client, SEARCHER, ROWS, TARGETS) == LOCAL


def test_closing_the_client_cancels_the_search(monkeypatch):
    with local_cluster(2) as spread:
        connected = distributed.Client(spread)
        with on_absorb(monkeypatch, 3, connected.close), pytest.raises(distributed.client.FutureCancelledError):
            run(cluster.find_candidates, connected, SEARCHER, ROWS, TARGETS, chunk_size=50)
        with distributed.Client(spread) as again:
            assert usable(again)
