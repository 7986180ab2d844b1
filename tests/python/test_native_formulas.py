"""The private module's formula entries compute with the engine's own rules:
evaluate gives eval_batch's real parts bit for bit and NaN+NaN*j exactly
where it has no value."""

import inspect
import re

import numpy as np
import pytest

from kiv_sr_tools import _native

# Operands reaching every kind of result: signed zeros, branch cuts, the magnitude bound, non-finite values.
OPERANDS = np.array([0.0, -0.0, 1.0, -1.0, 0.5, -2.5, 3.0, 1e15, 9.99e14, 1e300, np.inf, -np.inf, np.nan,
                     1 + 2j, -3 - 0.5j, -1j, 2 - 0j, -4 + 0j])
X = np.array([[0.0, -1.0], [2.5, 0.0], [-3.0, 1e300], [np.inf, 2.0], [np.nan, 0.5], [1e-300, -0.0]])


def bits(values):
    """Real values as integers, every NaN alike, so that signed zeros count."""
    return np.where(np.isnan(values), np.nan, values).view(np.int64)


def expect_engine_values(got, want):
    assert got.dtype == np.complex128 and got.shape == want.shape
    np.testing.assert_array_equal(bits(got.real), bits(want))
    np.testing.assert_array_equal(np.isnan(got.imag), np.isnan(want))


FORMULAS = [
    (("var", 0),),
    (("var", 1), ("op", "Log"), ("var", 0), ("op", "Times")),
    (("var", 0), ("op", "Sqrt"), ("const", "Pi"), ("op", "Divide")),
    (("real", 2.5), ("var", 0), ("op", "KIV"), ("param", 0.3, -1.7), ("op", "Plus")),
    (("var", 2), ("op", "Neg")),  # a column beyond the rows'
]


@pytest.mark.parametrize("tokens", FORMULAS)
def test_evaluate_is_eval_batch(tokens):
    result = _native.result(tokens)
    for rows in (X, X[:, :1], X[:0]):
        want = np.array(result.eval_batch(rows), dtype=np.float64)
        expect_engine_values(_native.evaluate(result, rows), want)
        expect_engine_values(_native.evaluate(tokens, rows), want)


@pytest.mark.parametrize("call, error, message", [
    (lambda: _native.evaluate(FORMULAS[1], [[1.0], [1.0, 2.0]]), ValueError, "rows must all be of the same length"),
    (lambda: _native.closed_form_search([("op", "Neg")], 2), ValueError, "applies 'Neg'"),
    (lambda: _native.closed_form_search([("const", "Pi")], 0), ValueError, "max_size must be at least 1"),
    (lambda: _native.closed_forms(object(), 1.0, 1, 1e-8), TypeError,
     "search must be a ClosedFormSearch made by closed_form_search"),
])
def test_refusals(call, error, message):
    with pytest.raises(error, match=re.escape(message)):
        call()


@pytest.mark.parametrize("name, signature", [
    ("operators", "()"), ("evaluate", "(formula, rows)"),
    ("search", "(searcher, inputs, ys, alpha=None, l1_ratio=None, max_seconds=None, verbose=True, operators=None)"),
    ("search_start", "(searcher, inputs, ys, warns, operators=None)"),
    ("closed_form_search", "(leaves, max_size)"), ("closed_forms", "(search, value, size, slack)"),
])
def test_text_signatures(name, signature):
    assert str(inspect.signature(getattr(_native, name))) == signature


def test_python_tables_name_engine_operators_and_tolerate_missing_ones(monkeypatch):
    from kiv_sr_tools import constants, identify_constant

    arities = {name: arity for name, arity, _ in _native.operators()}
    assert set(constants._OPERATOR_ORDER) | constants._TRANSCENDENTAL == {n for n, a in arities.items() if a > 0}
    # An operator without a rank ranks last.
    golden = (1 + 5**0.5) / 2
    monkeypatch.delitem(constants._RANK, ("op", "Sqrt"))
    found = identify_constant(golden, limit=10)
    assert len(found) == 10 and all(abs(r.eval([0.0]) - golden) <= 1e-12 * golden for r in found)
