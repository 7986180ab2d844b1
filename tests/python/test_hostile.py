"""Hostile settings and data: absurd or non-finite settings, extreme shapes.
Each ends in a front of finite errors or in a clear exception, never in a
crash, a hang or unbounded memory."""

import math

import numpy as np
import pytest

import kiv_sr
from conftest import small_searcher

XS = np.linspace(0.5, 3.0, 20)
SQUARE_PLUS_ONE = XS**2 + 1.0  # needs four tokens: no exact fit below complexity 4
NAN, INF = math.nan, math.inf

# (Searcher settings, per-call overrides); None for searches that find no formula:
# a non-finite penalty weight makes every error non-finite (0 times infinity).
HOSTILE = {
    "beam 0": ({"beam_width": 0}, {}),
    "beam 1": ({"beam_width": 1}, {}),
    "beam 10**15": ({"beam_width": 10**15}, {}),
    "penalty nan": ({"complexity_penalty": NAN}, {}),
    "penalty -inf": ({"complexity_penalty": -INF}, {}),
    "penalty -0.5": ({"complexity_penalty": -0.5}, {}),  # a zero factor at level 2
    "penalty -1e300": ({"complexity_penalty": -1e300}, {}),
    "alpha -1e308": ({"alpha": -1e308}, {}),  # rewards large constants without bound
    "l1_ratio -1": ({"alpha": 1.0, "l1_ratio": -1.0}, {}),
    "alpha -1e300, l1_ratio 2": ({}, {"alpha": -1e300, "l1_ratio": 2.0}),
    "alpha nan": ({"alpha": NAN}, None),
    "alpha -inf per call": ({}, {"alpha": -INF}),
    "l1_ratio inf per call": ({}, {"l1_ratio": INF}),
    "l1_ratio nan": ({"l1_ratio": NAN}, None),
}


@pytest.mark.parametrize("name", HOSTILE)
def test_hostile_settings(name, capfd):
    config, overrides = HOSTILE[name]
    searcher = small_searcher(**config)
    inputs = XS.reshape(-1, 1)
    if overrides is None or set(overrides.values()) & {INF, -INF}:
        with pytest.raises(kiv_sr.KivComplexityError, match="^No formula found up to complexity 3$"):
            searcher.find_candidates(inputs, SQUARE_PLUS_ONE, **(overrides or {}))
        return
    front = searcher.find_candidates(inputs, SQUARE_PLUS_ONE, **overrides)
    complexities, errors = [c.complexity for c in front], [c.error for c in front]
    assert front and all(math.isfinite(e) for e in errors)
    assert all(a > b for a, b in zip(complexities, complexities[1:]))
    assert all(a < b for a, b in zip(errors, errors[1:]))
    if "alpha" not in config and not overrides:  # then the error is the mean squared error
        for candidate in front:
            squared = (np.array(candidate.eval_batch(inputs)) - SQUARE_PLUS_ONE) ** 2
            assert candidate.error == pytest.approx(float(np.mean(squared)), rel=1e-9)
    assert math.isfinite(searcher.recognize_constant(2.0).error)
    capfd.readouterr()


def test_largest_max_complexity_stops_at_the_first_exact_level():
    searcher = small_searcher(max_complexity=2**64 - 1)
    result = searcher.find_function(XS, 2.0 * XS)
    assert (result.formula, result.error, searcher.max_complexity) == ("Plus(v_{0}, v_{0})", 0.0, 2**64 - 1)


def test_extreme_shapes():
    inputs = np.random.default_rng(7).random((10, 255))
    widest = small_searcher(max_complexity=2).find_multivariate(inputs, inputs[:, 254].copy() ** 2)
    assert (widest.formula, widest.error) == ("Square(v_{254})", 0.0)
    # Columns beyond the first row's are never read; a row without columns
    # leaves only formulas without variables.
    assert small_searcher(max_complexity=1).find_multivariate([[1.0], [2.0] * 300, [3.0]], [1, 2, 3]).formula == "v_{0}"
    no_columns = small_searcher(max_complexity=2).find_multivariate([[], [1.0, 2.0]], [4.0, 4.0])
    assert no_columns.error <= 1e-10 and no_columns.eval([]) == pytest.approx(4.0)
    single = small_searcher().find_function([2.0], [5.0])
    assert single.error <= 1e-10 and single.eval(2.0) == pytest.approx(5.0)
