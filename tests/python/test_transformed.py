"""find_transformed: laws the plain search misses, found on log y, y^2, ...; one
strict Pareto front of results refitted on y itself; only defined transforms run."""

import pickle
import re

import numpy as np
import pytest

import kiv_sr
import kiv_sr_tools
from kiv_sr_tools import _native, find_transformed, transformed
from kiv_sr_tools.search import find_candidates

rng = np.random.default_rng(0)
POWER_X = rng.uniform(0.5, 3.0, size=(40, 2))
BELL_X = np.linspace(-3.0, 3.0, 40).reshape(-1, 1)
# name: (X, y, max_complexity, the best formula found through a transform)
LAWS = {
    "power": (POWER_X, POWER_X[:, 0] ** POWER_X[:, 1], 5, "Exp(Times(v_{1}, Log(v_{0})))"),
    "bell": (BELL_X, np.exp(-BELL_X[:, 0] ** 2 / 2) / np.sqrt(2 * np.pi), 7,
             "Exp(Subtract(Times(C, Square(v_{0})), C))"),
}


@pytest.fixture(scope="module")
def fronts():
    """name: (plain front, transformed front)."""
    return {name: tuple(search(kiv_sr.Searcher(mc, 0.1, 50), X, y) for search in (find_candidates, find_transformed))
            for name, (X, y, mc, _) in LAWS.items()}


@pytest.mark.parametrize("name", LAWS)
def test_a_law_the_plain_search_misses(fronts, name):
    X, y, mc, formula = LAWS[name]
    plain, front = fronts[name]
    assert front[0].formula == formula and front[0].error < 1e-10 and plain[0].error > 1e-4
    complexities, errors = [r.complexity for r in front], [r.error for r in front]
    assert complexities == sorted(set(complexities), reverse=True) and complexities[0] <= mc
    assert errors == sorted(set(errors)) and all(np.isfinite(errors))
    # Real results, whose errors are those of their formulas on y itself.
    squares = [(np.array(pickle.loads(pickle.dumps(r)).eval_batch(X)) - y) ** 2 for r in front]
    np.testing.assert_allclose(errors, np.mean(squares, axis=1), rtol=1e-9, atol=1e-20)


COLUMN = [[1.0], [2.0], [3.0]]


# Each search runs at the searcher's max_complexity; a plain search that ends early on an exact fit leaves no other.
@pytest.mark.parametrize("X, y, transforms, levels, searched", [
    (COLUMN, [0.5, 2.0, 3.0], None, 5, lambda x, y: [y, np.log(y), 1 / y, y**2, np.sqrt(y), y**3, np.exp(y), y / x, y * x, x / y]),
    (COLUMN, [-0.5, -2.0, -3.0], None, 5, lambda x, y: [y, np.log(-y), 1 / y, y**2, np.exp(y), y / x, y * x, x / y]),
    (COLUMN, [-0.5, 0.0, 3.0], None, 5, lambda x, y: [y, np.exp(y), y / x, y * x]),
    (COLUMN, [0.5, 2.0, 800.0], ["exp", "sqrt", "log_neg"], 5, lambda x, y: [y, np.sqrt(y)]),
    ([[1.0, 0.0], [2.0, 1.0], [3.0, 2.0]], [0.5, 2.0, 3.0], "over_input", 5, lambda x, y: [y, y / x]),
    (COLUMN, [0.5, 2.0, 3.0], None, 4, lambda x, y: [y]),
])
def test_only_transforms_defined_on_the_data_run(monkeypatch, X, y, transforms, levels, searched):
    runs = []

    def run(searcher, X, target, left, *penalty_and_verbosity):
        runs.append((searcher.max_complexity, list(target)))
        return transformed.Outcome([], levels, "exact_fit" if levels < 5 else "all_levels")

    monkeypatch.setattr(transformed, "run", run)
    find_transformed(kiv_sr.Searcher(5), X, y, transforms=transforms)
    assert runs == [(5, pytest.approx(list(target))) for target in searched(np.array(X)[:, 0], np.array(y))]


INPUT = np.linspace(1.0, 2.0, 9)
SCALINGS = transformed.input_scalings(INPUT.reshape(-1, 1), INPUT)


@pytest.mark.parametrize("transform", [*transformed.TRANSFORMS, *SCALINGS],
                         ids=lambda t: f"{t.label}-{len(t.undo(()))}")
def test_the_tokens_of_each_transform_undo_it(transform):
    y = next(y for y in (np.linspace(0.5, 3.0, 9), -np.linspace(0.5, 3.0, 9)) if transform.defined_on(y))
    # g is column 1, the transformed target; column 0 is the input the scalings use.
    tokens = transform.undo((("var", 1),))
    assert transform.undoes(tokens) and not transform.undoes(tokens[1:])
    undone = _native.result(tokens)
    np.testing.assert_allclose(undone.eval_batch(np.column_stack([INPUT, transform.forward(y)])), y, rtol=1e-12)


def test_the_searches_share_one_deadline():
    X = np.linspace(0.5, 3.0, 40).reshape(-1, 1)
    y = np.sin(X[:, 0]) * X[:, 0] ** 2 + 0.3
    with pytest.warns(RuntimeWarning) as warned:
        front = find_transformed(kiv_sr.Searcher(9, 0.1, 300), X, y, max_time=0.3)
    # The search on y takes the whole budget; the next ones find none left.
    stopped = r"the search on {} stopped at its time budget of 0.3 s after completing level {} of {}"
    expected = "; ".join([stopped.format("y", r"\d", 9), stopped.format(r"log\(y\)", 0, 9), ".*"])
    assert re.fullmatch(expected, str(warned[0].message))
    assert front == sorted(front, key=lambda r: r.error) and front[0].complexity < 9


def test_a_dask_cluster_finds_the_same_front(fronts):
    distributed = pytest.importorskip("distributed")
    X, y, mc, _ = LAWS["power"]
    cluster = distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False, dashboard_address=None)
    with cluster, distributed.Client(cluster) as client:
        front = find_transformed(kiv_sr.Searcher(mc, 0.1, 50), X, y, client=client)
    assert [r.__reduce__() for r in front] == [r.__reduce__() for r in fronts["power"][1]]


def test_the_estimator_searches_transformed_targets():
    checks = pytest.importorskip("sklearn.utils.estimator_checks")
    X, y, mc, formula = LAWS["power"]
    checks.check_estimator(kiv_sr_tools.KivRegressor(2, beam_width=20, verbose=False, transforms=True))
    model = kiv_sr_tools.KivRegressor(mc, beam_width=50, verbose=False, transforms=["log"]).fit(X, y)
    assert model.best_.formula == formula
