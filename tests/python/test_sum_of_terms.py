"""find_sum_of_terms: laws that are sums of short terms, or products of them, found
exactly as formulas C*t1 + ... + C (or their Exp) refitted by the engine, in one strict Pareto front; the terms
are the engine's formulas (term_table) with the chosen operators only; bad
data refused as the searches refuse it."""

import inspect
import re
import warnings

import numpy as np
import pytest

import kiv_sr
from conftest import small_searcher
from kiv_sr_tools import _native, find_candidates, find_sum_of_terms, sum_of_terms

rng = np.random.default_rng(0)
UNIT, SIX = rng.uniform(-1, 1, (50, 1)), rng.uniform(1, 5, (50, 6))
X0 = UNIT[:, 0]
FIVE = rng.uniform(1, 3, (50, 5))
# name: (X, y, arguments, terms of the exact member)
LAWS = {
    "x^3+x^2+x": (UNIT, X0**3 + X0**2 + X0, {}, 2),  # Cube(x) and Plus(x, Square(x))
    "x^5+...+x": (UNIT, X0**5 + X0**4 + X0**3 + X0**2 + X0, {"term_size": 5}, 4),
    "4x^4+3x^3+2x^2+x": (UNIT, 4 * X0**4 + 3 * X0**3 + 2 * X0**2 + X0, {}, 4),
    "x1y1+x2y2+x3y3": (SIX, SIX[:, 0] * SIX[:, 3] + SIX[:, 1] * SIX[:, 4] + SIX[:, 2] * SIX[:, 5], {}, 3),
    # Products of any number of factors, as sums of terms of log y or log(-y).
    "n p^2 E/(3 k T)": (FIVE, FIVE[:, 0] * FIVE[:, 1] ** 2 * FIVE[:, 2] / (3 * FIVE[:, 3] * FIVE[:, 4]), {}, 3),
    "-q A/m": (FIVE, -FIVE[:, 0] * FIVE[:, 1] / FIVE[:, 2], {}, 2),
    "with Plus, Times, Square": (UNIT, 4 * X0**4 + 3 * X0**3 + 2 * X0**2 + X0,
                                 {"operators": ["Square", "Times", "Plus"]}, 4),
}


def operator_names(result):
    return {token[1] for token in _native.tokens(result) if token[0] == "op"}


@pytest.mark.parametrize("name", LAWS)
def test_finds_the_law_in_a_strict_front_of_real_results(name):
    X, y, arguments, terms = LAWS[name]
    front = find_sum_of_terms(small_searcher(), X, y, **arguments)
    assert all(isinstance(r, kiv_sr.SearchResult) for r in front)
    best = front[0]
    assert best.error < 1e-20 * np.var(y) and sum(t[0] == "param" for t in _native.tokens(best)) == terms + 1
    complexities, errors = [r.complexity for r in front], [r.error for r in front]
    assert complexities == sorted(set(complexities), reverse=True) and errors == sorted(set(errors))
    assert front[-1].formula == "C"
    # Each error is its formula's mean squared error on the rows.
    squares = [(np.array(r.eval_batch(X)) - y) ** 2 for r in front]
    np.testing.assert_allclose(errors, np.mean(squares, axis=1), rtol=1e-9, atol=1e-20)
    chosen = set(arguments.get("operators", {"Plus", "Times"} | {n for n, a, _ in _native.operators() if a}))
    assert set().union(*map(operator_names, front)) <= chosen


def test_a_constant_target_is_its_constant():
    front = find_sum_of_terms(small_searcher(), UNIT, np.full(50, 2.5))
    assert [r.formula for r in front] == ["C"] and front[0].error < 1e-24


@pytest.mark.parametrize("arguments, message", [
    ({"max_terms": 0}, "max_terms must be a positive integer, not 0"),
    ({"max_terms": True}, "max_terms must be a positive integer, not True"),
    ({"term_size": 2.0}, "term_size must be a positive integer, not 2.0"),
    ({"operators": ["Sqrt", "Times"]}, "writes its sums with Plus and Times; operators lacks Plus"),
    ({"operators": ["Plus", "Power"]}, "unknown operator 'Power'"),
])
def test_argument_refusals(arguments, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        find_sum_of_terms(small_searcher(), UNIT, X0, **arguments)


@pytest.mark.parametrize("X, y", [
    (UNIT, X0[:5]), (np.empty((0, 1)), np.empty(0)), (X0, X0), (UNIT, np.arange(100.0)[::2]),
    ([[1.0] * 256], [1.0]), (UNIT, np.where(X0 > 0, np.nan, X0)),
])
def test_bad_data_is_refused_as_the_search_refuses_it(X, y):
    outcomes = []
    for find in (lambda: find_candidates(small_searcher(), X, y, verbose=False),
                 lambda: find_sum_of_terms(small_searcher(), X, y)):
        with warnings.catch_warnings(record=True) as caught, pytest.raises(Exception) as refusal:
            warnings.simplefilter("always")
            find()
        outcomes.append((refusal.type, str(refusal.value), [str(w.message) for w in caught]))
    assert outcomes[0] == outcomes[1]


# A zero, a negative and a huge input make some formulas absent or complex on some rows.
AWKWARD = np.array([[0.0, -2.0], [0.5, 3.0], [-1.5, 1e300], [2.0, 1.0]])


@pytest.mark.parametrize("operators", [None, ["Plus", "Sqrt", "Log"]])
def test_term_table_holds_each_formula_once_with_the_engines_values(operators):
    formulas, values = _native.term_table(AWKWARD, 3, operators)
    assert values.shape == (len(formulas), len(AWKWARD)) and len(set(formulas)) == len(formulas)
    sizes = [len(f) for f in formulas]
    assert sizes == sorted(sizes) and formulas[:2] == [(("var", 0),), (("var", 1),)]
    for tokens, row in zip(formulas, values):
        np.testing.assert_array_equal(row, _native.evaluate(tokens, AWKWARD))
    named = {token[1] for f in formulas for token in f if token[0] == "op"}
    assert named == set(operators or (n for n, arity, _ in _native.operators() if arity))
    assert str(inspect.signature(_native.term_table)) == "(rows, max_size, operators=None)"


@pytest.mark.parametrize("call, error, message", [
    (lambda: _native.term_table([[1.0], [1.0, 2.0]], 2), ValueError, "rows must all be of the same length"),
    (lambda: _native.term_table(AWKWARD, 0), ValueError, "max_size must be at least 1"),
    (lambda: _native.term_table([[1.0] * 256], 1), ValueError, "rows have 256 columns; at most 255 input"),
    (lambda: _native.term_table(AWKWARD, 2, "Plus"), TypeError, "operators must be a sequence of operator names"),
])
def test_term_table_refusals(call, error, message):
    with pytest.raises(error, match=re.escape(message)):
        call()


def test_the_estimator_adds_the_sums_to_its_front():
    pytest.importorskip("sklearn")
    from kiv_sr_tools import KivRegressor

    X, y = SIX, LAWS["x1y1+x2y2+x3y3"][1]
    plain = KivRegressor(3, 0.1, 50, verbose=False, sums_of_terms=False).fit(X, y)
    model = KivRegressor(3, 0.1, 50, verbose=False).fit(X, y)
    assert plain.best_.error > 1e-3 and model.best_.error < 1e-20 * np.var(y)
    assert model.best_.formula in {r.formula for r in find_sum_of_terms(small_searcher(), X, y)}


@pytest.mark.parametrize("X", [UNIT, SIX])
@pytest.mark.parametrize("seed", range(3))
def test_on_pure_noise_no_term_joins_the_constant(X, seed):
    noise = np.random.default_rng(seed).normal(0.0, 1.0, len(X))
    assert [r.formula for r in find_sum_of_terms(small_searcher(), X, noise)] == ["C"]


def test_terms_picked_on_spread_rows_are_refitted_on_all_rows():
    X = np.random.default_rng(1).uniform(1, 5, (1001, 6))
    y = X[:, 0] * X[:, 3] + X[:, 1] * X[:, 4] + X[:, 2] * X[:, 5]
    best = find_sum_of_terms(small_searcher(), X, y)[0]
    assert best.error < 1e-20 * np.var(y)
    assert best.error == pytest.approx(np.mean((np.array(best.eval_batch(X)) - y) ** 2), rel=1e-9, abs=1e-22)


@pytest.mark.parametrize("shape, operators, size", [
    ((50, 3), None, 4), ((200, 12), None, 3), ((200, 12), ["Plus", "Times"], 4), ((5000, 12), None, 3),
])
def test_the_default_term_size_keeps_the_library_in_bounds(shape, operators, size):
    rows = np.random.default_rng(2).uniform(1, 2, shape)[sum_of_terms._selection_rows(shape[0])]
    assert len(rows) == min(shape[0], sum_of_terms.SELECTION_ROWS)
    assert sum_of_terms._fitting_term_size(rows, operators) == size


def test_the_estimator_leaves_out_sums_its_operators_cannot_write():
    pytest.importorskip("sklearn")
    from kiv_sr_tools import KivRegressor

    X, y = LAWS["x^3+x^2+x"][:2]
    model = KivRegressor(3, 0.1, 50, verbose=False, operators=["Cube", "Square", "Plus"]).fit(X, y)
    assert set().union(*map(operator_names, model.front_)) <= {"Cube", "Square", "Plus"}
