"""Fitted constants replaced by the simple closed forms that the data cannot tell from them."""

from __future__ import annotations

import math
import numbers
from typing import Any, Dict, List, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from kiv_sr import Searcher, SearchResult

from . import _native
from .constants import identify_constant

Tokens = Tuple[Tuple[Any, ...], ...]

DEFAULT_TOLERANCE = 1e-9
# Candidates are p/q * base with q at most MAX_DENOMINATOR, within WINDOW * |c| of the constant c.
MAX_DENOMINATOR = 12
WINDOW = 0.01
_BASES: Tuple[Tuple[float, Tokens], ...] = (
    (1.0, ()),
    (math.pi, (("const", "Pi"),)),
    (1.0 / math.pi, (("const", "Pi"), ("op", "Inv"))),
    (math.e, (("const", "E"),)),
    (math.sqrt(2.0), (("real", 2.0), ("op", "Sqrt"))),
    (math.sqrt(3.0), (("real", 3.0), ("op", "Sqrt"))),
    (math.log(2.0), (("real", 2.0), ("op", "Log"))),
)
# Closed forms that identify_constant finds, when they match a constant to this relative tolerance.
_IDENTIFY_COMPLEXITY = 5
_IDENTIFY_RTOL = 1e-9


def snap_constants(
    result: SearchResult, X: npt.ArrayLike, y: npt.ArrayLike, *, tolerance: float = DEFAULT_TOLERANCE
) -> SearchResult:
    """`result` with each real fitted constant replaced, when the data allow it, by
    the simplest closed form close to it; the formula's tokens then spell that
    closed form, which `to_sympy` shows exactly (1/(2*pi), not 0.159...).

    Errors are the engine's mean squared errors on (X, y) (rows of X are
    samples, a 1-D X is one variable), without penalty, each measured after
    the engine refines the formula's remaining fitted constants. The rule: a
    replacement is kept when the error stays at most
    E0 + tolerance * var(y), E0 being the error of `result` refined on
    (X, y) and var(y) the targets' variance (1 if it is 0); that is, the
    replacements together may lower R^2 by at most `tolerance`.

    Constants are tried left to right in the formula's postfix order. The
    candidates for a constant c are p/q and p/q times pi, 1/pi, e, sqrt(2),
    sqrt(3) and ln(2), with q <= 12 and within 1 % of c, and the first
    closed form of up to 5 tokens that identify_constant finds within 1e-9
    of c; the first one the rule keeps, in order of fewest tokens, then
    nearest to c, replaces c (a constant of exactly 0 can only become the
    constant 0). Returns `result` itself when no constant is replaced.
    """
    if not (isinstance(tolerance, numbers.Real) and 0.0 <= tolerance < math.inf):
        raise ValueError(f"tolerance must be a finite number >= 0; got {tolerance!r}")
    inputs = np.asarray(X, dtype=np.float64)
    inputs = inputs.reshape(-1, 1) if inputs.ndim == 1 else inputs
    targets = np.asarray(y, dtype=np.float64)
    variance = float(np.var(targets)) if targets.size else 0.0
    current = _refit(result, inputs, targets)
    tokens = _native.tokens(current)
    allowed = current.error + tolerance * (variance if variance > 0.0 else 1.0)
    replaced = False
    position = 0
    while position < len(tokens):
        token = tokens[position]
        if token[0] == "param" and token[2] == 0.0:
            for candidate in _candidates(float(token[1])):
                trial = _refit((*tokens[:position], *candidate, *tokens[position + 1 :]), inputs, targets)
                if trial.error <= allowed:
                    current, tokens, replaced = trial, _native.tokens(trial), True
                    position += len(candidate) - 1
                    break
        position += 1
    return current if replaced else result


def _refit(
    formula: SearchResult | Sequence[Tuple[Any, ...]], inputs: npt.NDArray[np.float64], targets: npt.NDArray[np.float64]
) -> SearchResult:
    """The formula refitted as a default search refits its answers: no penalty on constants."""
    return _native.refit(Searcher(), formula, inputs, targets)


def _candidates(value: float) -> List[Tokens]:
    """Closed forms near `value`, fewest tokens first, then nearest first."""
    if value == 0.0:
        return [(("const", "0"),)]
    near: Dict[Tokens, float] = {}
    for base, base_tokens in _BASES:
        for q in range(1, MAX_DENOMINATOR + 1):
            multiple = value * q / base
            p = round(multiple) if math.isfinite(multiple) else 0
            if p != 0 and math.gcd(p, q) == 1 and abs(p / q * base - value) <= WINDOW * abs(value):
                near.setdefault(_multiple(p, q, base_tokens), abs(p / q * base - value))
    for closed_form in identify_constant(value, max_complexity=_IDENTIFY_COMPLEXITY, rtol=_IDENTIFY_RTOL, limit=1):
        near.setdefault(_native.tokens(closed_form), math.sqrt(closed_form.error))
    return sorted(near, key=lambda tokens: (len(tokens), near[tokens]))


def _multiple(p: int, q: int, base: Tokens) -> Tokens:
    """The tokens of p / q * base, as few as possible."""
    if not base:
        numerator: Tokens = (("real", float(p)),)
    elif p == 1:
        numerator = base
    else:
        numerator = (("real", float(p)), *base, ("op", "Times"))
    return numerator if q == 1 else (*numerator, ("real", float(q)), ("op", "Divide"))
