"""SearchResult through its Python methods: properties, printed form,
evaluation of points and batches, and rendering."""

import gc
import math
import re

import numpy as np
import pytest

from conftest import small_searcher


def test_properties_and_printed_form(sum_result):
    assert (sum_result.formula, sum_result.error, sum_result.complexity) == ("Plus(v_{0}, v_{1})", 0.0, 3)
    assert (type(sum_result.error), type(sum_result.complexity)) == (float, int)
    assert repr(sum_result) == str(sum_result) == (
        "SearchResult(formula='Plus(v_{0}, v_{1})', error=0.000000e0, complexity=3)")
    xs = [0.5 * i for i in range(12)]
    inexact = small_searcher().find_function(xs, [math.sin(3 * x) + 0.01 * (-1) ** i for i, x in enumerate(xs)])
    match = re.fullmatch(r"SearchResult\(formula='(.*)', error=(\d\.\d{6}e-?[1-9]\d*), complexity=(\d+)\)",
                         repr(inexact))
    assert match and (match[1], int(match[3])) == (inexact.formula, inexact.complexity)
    assert float(match[2]) == pytest.approx(inexact.error, rel=1e-6)


# (result fixture, argument of eval, value; NaN where the formula has no value)
EVALS = [
    ("offset_result", 2, 2.1),
    ("offset_result", -1.0, -0.9),
    ("offset_result", True, 1.1),
    ("offset_result", np.float32(2.0), 2.1),
    ("offset_result", np.array(2.0), 2.1),
    ("sum_result", [1.0, 2.0], 3.0),
    ("sum_result", (1, 2), 3.0),
    ("sum_result", np.array([1.0, 2.0]), 3.0),
    ("sum_result", np.array([1, 2], dtype=np.int8), 3.0),
    ("sum_result", [1.0], math.nan),
    ("sine_result", [1.0, 2.0, 3.0], math.sin(1.0)),
    ("sine_result", 0.5, math.sin(0.5)),
    ("sine_result", [], math.nan),
    ("sine_result", math.inf, math.nan),
    ("log_result", 0.0, math.nan),
    ("log_result", -1.0, 0.0),  # the real part of the complex logarithm
    ("log_result", 2.0, math.log(2.0)),
]


@pytest.mark.parametrize("fixture, argument, expected", EVALS)
def test_eval(request, fixture, argument, expected):
    value = request.getfixturevalue(fixture).eval(argument)
    assert type(value) is float
    assert value == pytest.approx(expected, rel=1e-12, nan_ok=True)


def test_eval_batch_and_predict_evaluate_each_row(sum_result, log_result):
    for method in (sum_result.eval_batch, sum_result.predict):
        assert method([[1.0, 2.0], [3.0, 4.0]]) == [3.0, 7.0]
        assert method(np.array([[1.0, 2.0], [3.0, 4.0]])) == [3.0, 7.0]
        assert method([]) == []
    ragged = sum_result.eval_batch([[1.0, 2.0], [3.0]])
    assert ragged[0] == 3.0 and math.isnan(ragged[1])
    rows = [list(np.random.default_rng(i).uniform(-2.0, 2.0, size=i % 4)) for i in range(20)]
    for result in (log_result, sum_result):
        batch = result.eval_batch(rows)
        assert len(batch) == len(rows) and all(type(v) is float for v in batch)
        assert np.array_equal(batch, [result.eval(row) for row in rows], equal_nan=True)


@pytest.mark.parametrize(
    "fixture, latex, python",
    [
        ("sum_result", "v_{0} + v_{1}", "(v_{0})+(v_{1})"),
        ("sine_result", "\\sin(v_{0})", "np.sin(v_{0})"),
        ("parameter_result", "0.1000", "0.1000"),
    ],
)
def test_rendering(request, fixture, latex, python):
    result = request.getfixturevalue(fixture)
    assert (result.to_latex(), result.to_python()) == (latex, python)


def test_results_outlive_their_searcher_and_list():
    searcher = small_searcher()
    candidates = searcher.find_candidates([[1.0, 2.0], [3.0, 4.0], [5.0, 7.0]], [3.0, 7.0, 12.0])
    best = candidates[0]
    del searcher, candidates
    gc.collect()
    assert best.eval([2.0, 3.0]) == 5.0 and best.to_latex() == "v_{0} + v_{1}"
