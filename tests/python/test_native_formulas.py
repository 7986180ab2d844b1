"""The private module's formula entries compute with the engine's own rules:
apply and evaluate give eval_batch's real parts bit for bit and NaN+NaN*j
exactly where it has no value; a formula table holds what evaluate gives."""

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


def param(z):
    return ("param", float(np.real(z)), float(np.imag(z)))


@pytest.mark.parametrize("name, arity", [(name, arity) for name, arity, _ in _native.operators() if arity > 0])
def test_apply_is_the_row_by_row_evaluator(name, arity):
    columns = np.meshgrid(*[OPERANDS] * arity, indexing="ij")
    operands = [column.ravel() for column in columns]
    want = np.array([_native.result((*map(param, row), ("op", name))).eval_batch([[]])[0] for row in zip(*operands)])
    expect_engine_values(_native.apply(name, *operands), want)


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


def test_a_table_holds_the_values_evaluate_gives():
    table = _native.enumerate_formulas([("var", 0), ("const", "Pi"), ("real", 2.0)], 3, X)
    for size in (1, 2, 3):
        values = _native.table_values(table, size)
        assert values.shape == (_native.table_count(table, size), len(X))
        for index, row in enumerate(values):
            tokens = _native.table_tokens(table, size, index)
            assert len(tokens) == size
            np.testing.assert_array_equal(row.view(np.int64), _native.evaluate(tokens, X).view(np.int64))


@pytest.mark.parametrize("operand", [[1, -2, 3], (1.0, -2.0, 3.0), [1 + 0j, -2, 3.0], np.array([1, -2, 3]),
                                     np.array([1, -2, 3], dtype=np.float32), np.array([3.0, 0, -2, 0, 1])[::-2]])
def test_apply_takes_any_one_dimensional_numbers(operand):
    np.testing.assert_array_equal(_native.apply("Neg", operand), [-1, 2, -3])


TABLE = _native.enumerate_formulas([("const", "Pi")], 2, [[]])


@pytest.mark.parametrize("call, error, message", [
    (lambda: _native.apply("Cosh", [1.0]), ValueError, "unknown operator 'Cosh'"),
    (lambda: _native.apply("Pi"), ValueError, "unknown operator 'Pi'"),
    (lambda: _native.apply(3, [1.0]), TypeError, "the operator name must be a str"),
    (lambda: _native.apply("Sin", [1.0], [2.0]), ValueError, "Sin takes 1 operand, not 2"),
    (lambda: _native.apply("Plus", [1.0]), ValueError, "Plus takes 2 operands, not 1"),
    (lambda: _native.apply("Plus", [1.0, 2.0], [1.0]), ValueError, "the operands of Plus differ in length: 2 and 1"),
    (lambda: _native.apply("Sin", np.zeros((2, 2))), ValueError, "Input must be a 1D list or NumPy array of complex"),
    (lambda: _native.apply("Sin", ["a"]), ValueError, "Input must be a 1D list or NumPy array of complex"),
    (lambda: _native.evaluate(FORMULAS[1], [[1.0], [1.0, 2.0]]), ValueError, "rows must all be of the same length"),
    (lambda: _native.enumerate_formulas([("const", "Pi")], 0, [[]]), ValueError, "max_size must be at least 1"),
    (lambda: _native.enumerate_formulas([("op", "Neg")], 2, [[]]), ValueError, "applies 'Neg'"),
    (lambda: _native.table_count(TABLE, 3), ValueError, "size must be from 1 to 2; got 3"),
    (lambda: _native.table_tokens(TABLE, 1, 1), IndexError, "index 1 beyond the 1 formulas of size 1"),
    (lambda: _native.table_values(object(), 1), TypeError, "table must be a FormulaTable made by enumerate_formulas"),
])
def test_refusals(call, error, message):
    with pytest.raises(error, match=re.escape(message)):
        call()


@pytest.mark.parametrize("name, signature", [
    ("operators", "()"), ("evaluate", "(formula, rows)"), ("apply", "(name, *operands)"),
    ("enumerate_formulas", "(leaves, max_size, rows)"), ("table_count", "(table, size)"),
    ("table_values", "(table, size)"), ("table_tokens", "(table, size, index)"),
])
def test_text_signatures(name, signature):
    assert str(inspect.signature(getattr(_native, name))) == signature


def test_python_tables_name_engine_operators_and_tolerate_missing_ones(monkeypatch):
    from kiv_sr_tools import _preimages, constants, identify_constant

    arities = {name: arity for name, arity, _ in _native.operators()}
    for table, arity in [(_preimages.OPERAND_OF_UNARY, 1), (_preimages.RIGHT_OPERAND, 2), (_preimages.LEFT_OPERAND, 2)]:
        assert {arities.get(name) for name in table} == {arity}
    assert set(constants._OPERATOR_ORDER) | constants._TRANSCENDENTAL == {n for n, a in arities.items() if a > 0}
    # An operator without a preimage rule is not inverted; one without a rank ranks last.
    golden = (1 + 5**0.5) / 2
    sqrt_at_root = lambda found: [r for r in found if r.complexity > 4 and r.formula.startswith("Sqrt(")]
    assert sqrt_at_root(identify_constant(golden, limit=10))
    monkeypatch.delitem(_preimages.OPERAND_OF_UNARY, "Sqrt")
    monkeypatch.delitem(constants._RANK, ("op", "Sqrt"))
    found = identify_constant(golden, limit=10)
    assert len(found) == 10 and not sqrt_at_root(found)
    assert all(abs(r.eval([0.0]) - golden) <= 1e-12 * golden for r in found)
