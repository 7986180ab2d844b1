"""operators=: the companion's searches and the estimator build formulas with
the named operators alone, recover a law written with them, and refuse names
that are no operators with the engine's list of the valid ones."""

import re

import numpy as np
import pytest

import kiv_sr
from kiv_sr_tools import _native, find_candidates, find_transformed

rng = np.random.default_rng(5)
X = rng.uniform(0.5, 2.5, (40, 3))
# Positive, so that the log transform runs; exact on log y with Plus and Log.
Y = X[:, 0] * np.exp(X[:, 1]) + np.sin(X[:, 2])
SEARCHER = kiv_sr.Searcher(max_complexity=5, beam_width=60)
VALID = ", ".join(name for name, arity, _ in _native.operators() if arity > 0)


def regressor_front(searcher, X, y, **settings):
    sklearn = pytest.importorskip("sklearn")  # noqa: F841
    from kiv_sr_tools import KivRegressor

    model = KivRegressor(searcher.max_complexity, searcher.complexity_penalty, searcher.beam_width, **settings)
    return model.fit(X, y).front_


def transformed_regressor_front(searcher, X, y, **settings):
    return regressor_front(searcher, X, y, transforms=True, **settings)


ENTRIES = [find_candidates, find_transformed, regressor_front, transformed_regressor_front]


def applied(result):
    return {token[1] for token in _native.tokens(result) if token[0] == "op"}


@pytest.mark.parametrize("entry", ENTRIES)
@pytest.mark.parametrize("operators", [
    ["Plus", "Times", "Divide", "Sqrt", "Square"],
    ["Log", "Plus", "Times"],  # Exp, which undoes log y, left out
    ["Exp", "Subtract", "Inv"],  # Log, which undoes exp y, left out
    ["Sin"],
])
def test_results_use_only_the_chosen_operators(entry, operators):
    front = entry(SEARCHER, X, Y, verbose=False, operators=operators)
    assert front and set().union(*map(applied, front)) <= set(operators)


@pytest.mark.parametrize("entry", ENTRIES)
def test_a_law_of_the_chosen_operators_is_recovered(entry):
    y = X[:, 0] * X[:, 1] / X[:, 2]
    best = entry(SEARCHER, X, y, verbose=False, operators=["Divide", "Times"])[0]
    assert best.error < 1e-20 and applied(best) <= {"Times", "Divide"}


# Naming the operators in another order, or all eighteen, changes nothing.
def test_the_chosen_operators_are_applied_in_the_engine_order():
    def listed(operators):
        return [(r.formula, r.error) for r in find_candidates(SEARCHER, X, Y, verbose=False, operators=operators)]

    assert listed(["Square", "Plus", "Sqrt"]) == listed(["Plus", "Sqrt", "Square"])
    every = [name for name, arity, _ in _native.operators() if arity > 0]
    assert listed(every[::-1]) == listed(None) != listed(["Plus", "Sqrt", "Square"])


@pytest.mark.parametrize("entry", ENTRIES)
@pytest.mark.parametrize("operators, error, message", [
    (["Plus", "Power"], ValueError, f"unknown operator 'Power'; the operators are {VALID}"),
    (["Times", "Pi"], ValueError, f"'Pi' is a named constant, not an operator; the operators are {VALID}"),
    (("Sqrt", "Times", "Sqrt"), ValueError, f"operator 'Sqrt' is named twice; the operators are {VALID}"),
    ([], ValueError, f"operators must name at least one operator; the operators are {VALID}"),
    ("Plus", TypeError, "operators must be a sequence of operator names or None"),
    (["Plus", 3], TypeError, "operators must be a sequence of operator names or None"),
])
def test_refusals(entry, operators, error, message):
    with pytest.raises(error, match=f"^{re.escape(message)}$"):
        entry(SEARCHER, X, Y, verbose=False, operators=operators)


def test_the_estimator_keeps_its_operators_as_given():
    pytest.importorskip("sklearn")
    from kiv_sr_tools import KivRegressor

    chosen = ["Plus", "Pi"]
    model = KivRegressor(operators=chosen)
    assert model.get_params()["operators"] is chosen
    with pytest.raises(ValueError, match="'Pi' is a named constant"):
        model.fit(X, Y)
