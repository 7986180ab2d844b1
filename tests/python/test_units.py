"""Units: the product of powers and dimensionless groups of the analysis, the
search on them that recovers laws beyond the plain search, and refusals of
units that make no consistent system."""

import pickle

import numpy as np
import pytest

import kiv_sr
from kiv_sr_tools import _native, dimensional_analysis, find_candidates, find_with_units

pytest.importorskip("pint")

EPS = "A**2*s**4/(kg*m**3)"  # the permittivity's unit, C^2/(N m^2) in base units


@pytest.mark.parametrize("X_units, y_units, names, analysis", [
    (["C", "C", EPS, "m"], "N", "q1 q2 eps r", "y = q1**2/(eps*r**2) * f(q1/q2)"),
    (["C", "m/s", "T", "kg*m/s"], "1/s", "q v B p", "y = q*v*B/p * f()"),
    (["W/(m*K)", "K", "K", "m**2", "m"], "W", "k T1 T2 A d", "y = k*T1*d * f(T1/T2, A/d**2)"),
    (["1", "J/K", "K", "m**3"], "Pa", "n kb T V", "y = kb*T/V * f(n)"),
    ([{"m": 1}, {"m": 1, "s": -1}, "s"], "m", "x u t", "y = x * f(x/(u*t))"),
    (["J", "kg"], "m/s", "E m", "y = E**(1/2)/m**(1/2) * f()"),
    (["m**2", "m*s", "s"], "m", "A b t", "y = b/t * f(A*t**2/b**2)"),  # integer powers before fewer inputs
    (["1", "radian"], "1", "a b", "y = 1 * f(a, b)"),
    # Forty inputs: subsets beyond the unit matrix's rank are never enumerated.
    (["m"] * 39 + ["s"], "m/s", None, "y = x0/x39 * f(" + ", ".join(f"x0/x{j}" for j in range(1, 39)) + ")"),
])
def test_the_product_and_groups_are_the_simplest(X_units, y_units, names, analysis):
    assert dimensional_analysis(X_units, y_units).describe(names and names.split()) == analysis


@pytest.mark.parametrize("X_units, y_units, message", [
    (["m", "s"], "kg", "the units of y (kg) hold kg, which no input's units hold; the inputs' units are m, s"),
    (["m*s", "m*s"], "m", "no product of powers of the inputs' units has the units of y (m); "
                          "the inputs' units are m*s, m*s"),
    (["m", "blorps per s"], "m", "the unit of input column 1, 'blorps per s', is no unit"),
    ([{"m": 1, "ft": 2}], "m", "the unit of input column 0 names 'ft', which is no SI base unit"),
    ([{"m": "two"}], "m", "the unit of input column 0 has an exponent that is no number"),
    (["m"], "pixel", "the unit of y, 'pixel', has the dimension [printing_unit], which is no SI dimension"),
])
def test_units_that_make_no_consistent_system_are_refused(X_units, y_units, message):
    with pytest.raises(ValueError) as refused:
        dimensional_analysis(X_units, y_units)
    assert str(refused.value).startswith(message)


rng = np.random.default_rng(3)
X4 = rng.uniform(1.0, 5.0, (50, 4))
COULOMB = X4[:, 0] * X4[:, 1] / (4 * np.pi * X4[:, 2] * X4[:, 3] ** 2)
SEARCHER = kiv_sr.Searcher(max_complexity=5, beam_width=60)


def test_a_law_beyond_the_plain_search_is_recovered_as_a_formula_of_the_inputs():
    front = find_with_units(SEARCHER, X4, COULOMB, ["C", "C", EPS, "m"], "N", verbose=False)
    assert find_candidates(SEARCHER, X4, COULOMB, verbose=False)[0].error > 1e-6
    best = pickle.loads(pickle.dumps(front[0]))
    assert best.error < 1e-24 * np.var(COULOMB)
    rows = rng.uniform(1.0, 5.0, (20, 4))
    np.testing.assert_allclose(best.eval_batch(rows), rows[:, 0] * rows[:, 1] / (4 * np.pi * rows[:, 2] * rows[:, 3] ** 2))
    # One strict Pareto front of real results, each error that of its formula on y.
    complexities, errors = [r.complexity for r in front], [r.error for r in front]
    assert complexities == sorted(set(complexities), reverse=True) and errors == sorted(set(errors))
    squares = [(np.array(r.eval_batch(X4)) - COULOMB) ** 2 for r in front]
    np.testing.assert_allclose(errors, np.mean(squares, axis=1), rtol=1e-9, atol=1e-30)


def test_with_no_group_the_answer_is_a_fitted_constant_times_the_product(monkeypatch):
    monkeypatch.setattr(_native, "search", lambda *args: pytest.fail("nothing is to be searched"))
    y = 3.5 * X4[:, 0] * X4[:, 1] / X4[:, 2]
    (only,) = find_with_units(SEARCHER, X4[:, :3], y, ["N", "m", "s"], "J/s", verbose=False)
    assert only.formula == "Times(C, Divide(Times(v_{0}, v_{1}), v_{2}))" and only.error < 1e-25


def test_a_product_the_data_do_not_allow_gives_way_to_the_next():
    X = np.column_stack([np.linspace(0.0, 2.0, 30), np.linspace(1.0, 3.0, 30)])
    analysis = dimensional_analysis(["m", "m"], "1/m", usable=lambda scale: scale[0] == 0)
    assert analysis.describe() == "y = 1/x1 * f(x0/x1)"
    front = find_with_units(SEARCHER, X, 2.0 / X[:, 1], ["m", "m"], "1/m", verbose=False)
    assert front[0].error < 1e-25 and "v_{0}" not in front[0].formula


def test_the_chosen_operators_write_the_function_of_the_groups():
    y = np.sin(X4[:, 0] / X4[:, 1]) * X4[:, 2]
    chosen = ["Plus", "Times", "Sin"]
    front = find_with_units(SEARCHER, X4[:, :3], y, ["m", "m", "J"], "J", operators=chosen, verbose=False)
    assert front[0].error < 1e-25
    used = {token[1] for r in front for token in _native.tokens(r) if token[0] == "op"}
    assert used <= {*chosen, "Divide"}  # Divide writes the group x0/x1


@pytest.mark.parametrize("X_units, y_units, error", [
    (["C", "C", EPS], "N", "X_units gives 3 units for 4 input columns"),
    ("m", "N", "X_units must be a sequence of one unit per input column"),
])
def test_units_that_do_not_match_the_data_are_refused(X_units, y_units, error):
    with pytest.raises((ValueError, TypeError), match=error):
        find_with_units(SEARCHER, X4, COULOMB, X_units, y_units, verbose=False)


def test_the_estimator_fits_with_units_as_the_function_does():
    pytest.importorskip("sklearn")
    from kiv_sr_tools import KivRegressor

    model = KivRegressor(5, 0.1, 60, verbose=False)
    fitted = model.fit(X4, COULOMB, X_units=["C", "C", EPS, "m"], y_units="N")
    expected = find_with_units(SEARCHER, X4, COULOMB, ["C", "C", EPS, "m"], "N", verbose=False)
    assert [r.formula for r in fitted.front_] == [r.formula for r in expected]
    with pytest.raises(ValueError, match="give the units of both X and y"):
        model.fit(X4, COULOMB, X_units=["C", "C", EPS, "m"])


def test_sums_of_terms_of_the_groups_join_the_front():
    m, v, u, w = X4.T
    y = m * (v**2 + u**2 + w**2) / 2
    units = ["kg", "m/s", "m/s", "m/s"]
    searcher = kiv_sr.Searcher(max_complexity=3, beam_width=50)
    alone = find_with_units(searcher, X4, y, units, "J", verbose=False)
    front = find_with_units(searcher, X4, y, units, "J", sums_of_terms=True, verbose=False)
    assert alone[0].error > 1e-6 * np.var(y) and front[0].error < 1e-20 * np.var(y)
    rows = rng.uniform(1.0, 5.0, (20, 4))
    np.testing.assert_allclose(front[0].eval_batch(rows), rows[:, 0] * (rows[:, 1:] ** 2).sum(axis=1) / 2)
