"""LaTeX and Python renderings mean what the formula means.

Formulas found by real searches are rendered; the LaTeX is parsed back with
sympy and the Python text is evaluated with NumPy, and both must agree with
each other at sample points (they carry the same four-decimal constants), and
with the result's own evaluation where the formula has no constants."""

import re

import numpy as np
import pytest

from conftest import small_searcher

sympy = pytest.importorskip("sympy")
parse_latex = pytest.importorskip("sympy.parsing.latex").parse_latex

VARIABLES = 3
rng = np.random.default_rng(2024)
INPUTS = rng.uniform(0.5, 2.5, size=(24, VARIABLES))
x0, x1, x2 = INPUTS.T

# Targets whose formulas need grouping in LaTeX, and targets from random
# compositions, so that the fronts hold a variety of operator nestings.
TARGETS = {
    "sum times variable": (x0 + x1) * x2,
    "difference of sum": x0 - (x1 + x2),
    "difference of difference": x0 - (x1 - x2),
    "squared sum": (x0 + 1.5) ** 2,
    "cubed difference": (x1 - x0) ** 3,
    "variable times kiv": x0 * (np.exp(x1) - np.log(x2)),
    "sine of product": np.sin(x0 * x1),
    "inverse square root": 1.0 / np.sqrt(x0 + x2),
}
for seed in range(4):
    r = np.random.default_rng(seed)
    unary = [np.sin, np.cos, np.exp, np.log, np.sqrt, np.square, np.arctan]
    a, b = (unary[i](INPUTS[:, j]) for i, j in zip(r.integers(0, len(unary), 2), r.integers(0, VARIABLES, 2)))
    TARGETS[f"random {seed}"] = [a + b, a * b, a - b, a / b][seed % 4] + r.standard_normal(24) * 0.05

POINTS = np.random.default_rng(7).uniform(0.6, 2.4, size=(6, VARIABLES))


@pytest.fixture(scope="module")
def candidates():
    searcher = small_searcher(max_complexity=5, beam_width=40)
    found = {}
    for ys in TARGETS.values():
        for result in searcher.find_candidates(INPUTS, ys):
            found.setdefault(result.formula + result.to_latex(), result)
    return list(found.values())


SYMBOLS = [sympy.Symbol(f"v_{{{j}}}") for j in range(VARIABLES)]
CONSTANTS = {sympy.Symbol("e"): sympy.E, sympy.Symbol("i"): sympy.I, sympy.Symbol("pi"): sympy.pi}


def latex_values(latex):
    """Values of the parsed LaTeX at POINTS, in sympy's complex arithmetic."""
    expression = parse_latex(latex).subs(CONSTANTS).doit()
    return np.array([complex(expression.subs(dict(zip(SYMBOLS, point))).evalf()) for point in POINTS])


class ComplexNumPy:
    """NumPy whose functions take complex arguments, as the formulas do: a
    negative constant under a square root has a value."""

    def __getattr__(self, name):
        attribute = getattr(np, name)
        if not callable(attribute):
            return attribute
        return lambda *args: attribute(*(np.asarray(arg, dtype=complex) for arg in args))


def python_values(source):
    """Values of the Python text at POINTS, variables written v_{j}."""
    code = re.sub(r"v_\{(\d+)\}", r"v[\1]", source)
    with np.errstate(all="ignore"):
        return np.array([complex(eval(code, {"np": ComplexNumPy(), "v": point.astype(complex)})) for point in POINTS])


def test_searches_produce_formulas_that_need_grouping(candidates):
    grouped = [c.formula for c in candidates if "\\left(" in c.to_latex()]
    assert len(candidates) >= 20
    assert any(re.match(r"Times\((v_\{\d\}, )?(Plus|Subtract|KIV)\(", formula) for formula in grouped)
    assert any(formula.startswith(("Square(", "Cube(")) for formula in grouped)


def test_latex_parses_back_to_the_python_meaning(candidates):
    for result in candidates:
        latex, source = result.to_latex(), result.to_python()
        from_latex, from_python = latex_values(latex), python_values(source)
        finite = np.isfinite(from_latex.real) & np.isfinite(from_python.real)
        assert finite.any(), (result.formula, latex)
        np.testing.assert_allclose(
            from_latex.real[finite], from_python.real[finite], rtol=1e-9, atol=1e-9, err_msg=f"{result.formula}: {latex}"
        )


def test_python_text_evaluates_like_the_result(candidates):
    for result in candidates:
        if "C" in result.formula:
            continue  # constants print with four decimals only
        expected = np.array(result.eval_batch(POINTS))
        actual = python_values(result.to_python()).real
        defined = np.isfinite(expected)
        np.testing.assert_allclose(actual[defined], expected[defined], rtol=1e-12, err_msg=result.formula)
