"""identify_constant names numbers by closed forms; snap_constants names fitted constants when the data allow."""

import contextlib
import math
import re

import numpy as np
import pytest

import kiv_sr
from kiv_sr_tools import identify_constant, snap_constants, to_sympy

sympy = pytest.importorskip("sympy")


@pytest.mark.parametrize("value, closed_form, complexity", [
    (math.pi, "pi", 1),
    (math.e, "E", 1),
    (math.sqrt(2.0), "sqrt(2)", 2),
    (math.log(2.0), "log(2)", 2),
    ((1 + math.sqrt(5.0)) / 2, "(1 + sqrt(5))/2", 6),
    (math.pi**2 / 6, "pi**2/6", 4),
    (-1 / (2 * math.pi), "-1/(2*pi)", 5),
])
def test_identify_constant_names_the_closed_form_first(value, closed_form, complexity):
    found = identify_constant(value)
    assert to_sympy(found[0]) == sympy.sympify(closed_form) and found[0].complexity == complexity
    assert len(found) == 5 and [r.complexity for r in found] == sorted(r.complexity for r in found)
    for result in found:
        assert abs(result.eval([0.0]) - value) <= 1e-12 * abs(value)
        assert result.error == (result.eval([0.0]) - value) ** 2


def test_a_number_without_a_short_closed_form_has_none():
    assert identify_constant(0.1234567) == []


@pytest.mark.parametrize("call, message", [
    (lambda: identify_constant(math.nan), "value must be a finite real number; got nan"),
    (lambda: identify_constant(1.0, limit=0), "max_complexity and limit must be positive integers; got 7 and 0"),
    (lambda: identify_constant(1.0, rtol=0.0), "rtol must be positive; got 0.0"),
    (lambda: snap_constants(kiv_sr.Searcher(1).recognize_constant(2.0), [0.0], [2.0], tolerance=-1.0),
     "tolerance must be a finite number >= 0; got -1.0"),
    (lambda: to_sympy(kiv_sr.Searcher(1).recognize_constant(2.0), snap=([0.0],)), "snap must be (X, y) or"),
])
def test_refusals(call, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        call()


X = np.random.default_rng(7).uniform(0.5, 3.0, size=(40, 1))
NOISE = np.random.default_rng(8).normal(0.0, 1e-3, size=40)
# sqrt(2) * v0 + 1/3 with both constants off in their 13th digit.
BUILT = (("param", 1.4142135623731, 0.0), ("var", 0), ("op", "Times"), ("param", 0.3333333333333, 0.0), ("op", "Plus"))


# law, noise added, the result's tokens (None: found by a search), tolerance: the SymPy form after
# snapping, or None where no constant may change.
@pytest.mark.parametrize("law, noise, tokens, tolerance, snapped", [
    (lambda x: x / (2 * math.pi), 0.0, None, 1e-9, "x0/(2*pi)"),
    (lambda x: math.sqrt(2.0) * x + 1 / 3, 0.0, BUILT, 1e-9, "sqrt(2)*x0 + 1/3"),
    (lambda x: 0.1234567 * x, 0.0, None, 1e-9, None),
    (lambda x: x / (2 * math.pi), 1.0, None, 1e-9, None),
    (lambda x: x / (2 * math.pi), 1.0, None, 1e-5, "x0/(2*pi)"),  # 5 times the noise variance / (n var(y))
])
def test_snapping_keeps_the_error_within_the_rule(law, noise, tokens, tolerance, snapped):
    y = law(X[:, 0]) + noise * NOISE
    if tokens is None:
        with contextlib.redirect_stdout(None):
            result = kiv_sr.Searcher(max_complexity=5, beam_width=100).find_function(X[:, 0], y)
    else:
        values = kiv_sr.SearchResult._from_state((1, 0.0, tokens)).eval_batch(X)
        result = kiv_sr.SearchResult._from_state((1, float(np.mean((values - y) ** 2)), tokens))
    after = snap_constants(result, X, y, tolerance=tolerance)
    assert after.error <= result.error + tolerance * np.var(y)
    if snapped is None:
        assert after is result
    else:
        x0 = sympy.Symbol("x0", real=True)
        assert to_sympy(result, snap=(X, y, tolerance)) == sympy.sympify(snapped, locals={"x0": x0})
