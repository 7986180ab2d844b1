"""Closed forms for a number: the shortest formulas over the constants Pi and E
and the integers 1 to 10 whose value, as the engine computes it, is that number."""

from __future__ import annotations

import functools
import math
import numbers
from typing import TYPE_CHECKING, List, Tuple

from kiv_sr import Searcher, SearchResult

from . import _native

if TYPE_CHECKING:
    from ._native import ClosedFormSearch, Tokens

_LEAVES: Tokens = (("const", "1"), *(("real", float(k)) for k in range(2, 11)), ("const", "Pi"), ("const", "E"))

# Operand values computed by inverting operators carry rounding errors far above
# rtol; formulas are searched this much more loosely, and the engine's own value decides.
_SEARCH_SLACK = 1e4
# Among equally short formulas with real values, algebraic ones come first, then
# they are ordered by their postfix tokens: smaller leaves and simpler operators
# first, an operator missing here after all others.
_TRANSCENDENTAL = frozenset({"KIV", "Exp", "Log", "Sin", "Cos", "Tan", "ArcSin", "ArcCos", "ArcTan"})
_OPERATOR_ORDER = ("Plus", "Subtract", "Times", "Divide", "Neg", "Inv", "Square", "Sqrt", "Cube", "Log", "Exp",
                   "Sin", "Cos", "Tan", "ArcSin", "ArcCos", "ArcTan", "KIV")
_RANK = {**{leaf: rank for rank, leaf in enumerate(_LEAVES)},
         **{("op", name): len(_LEAVES) + rank for rank, name in enumerate(_OPERATOR_ORDER)}}


def identify_constant(
    value: float, *, max_complexity: int = 7, rtol: float = 1e-12, limit: int = 5
) -> List[SearchResult]:
    """Closed forms of `value`: formulas of at most `max_complexity` tokens over Pi,
    E, 1 and the integers 2 to 10 whose value (the real part of the engine's
    complex value) is within rtol * |value| of it, at most `limit` of them.

    Shorter formulas come first; among equally short ones, those whose
    complex value is real, then those with fewer transcendental operators
    (Exp, Log, KIV, trigonometric), then in the order of their postfix
    tokens (1 < 2 < ... < 10 < Pi < E, then operators from Plus to KIV).
    Each is a SearchResult whose error is the engine's one-sample error
    (f - value)^2. Formulas of up to 4 tokens (5 from max_complexity 8 on)
    are searched exhaustively; longer ones from the operator at their root
    down, taking intermediate values real where an operator must be
    inverted, so one that needs complex intermediate values may be missed.
    """
    if not (isinstance(value, numbers.Real) and math.isfinite(value)):
        raise ValueError(f"value must be a finite real number; got {value!r}")
    if not all(isinstance(count, numbers.Integral) and count >= 1 for count in (max_complexity, limit)):
        raise ValueError(f"max_complexity and limit must be positive integers; got {max_complexity!r} and {limit!r}")
    if not rtol > 0.0:
        raise ValueError(f"rtol must be positive; got {rtol!r}")
    search = _search(_table_depth(int(max_complexity)))
    # Default settings: no penalty on constants, so a refit's error is the plain (f - value)^2.
    searcher = Searcher()
    found: List[SearchResult] = []
    for size in range(1, int(max_complexity) + 1):
        closed_forms = _native.closed_forms(search, float(value), size, _SEARCH_SLACK * rtol)
        complex_valued = {tokens: number.imag != 0.0 for tokens, number in closed_forms}
        for tokens in sorted(complex_valued, key=lambda tokens: _simplicity(tokens, complex_valued[tokens])):
            fitted = _native.refit(searcher, tokens, [[0.0]], [float(value)])
            if math.sqrt(fitted.error) <= rtol * abs(value):
                found.append(fitted)
                if len(found) >= limit:
                    return found
    return found


def _table_depth(max_complexity: int) -> int:
    """How many tokens the table of all formulas holds. A table of 4 tokens takes
    0.01 s to build, one of 5 tokens 0.15 s but makes searches of 8 or more tokens
    ten times as fast. A table of half a formula's tokens holds one of its operands."""
    return min(max_complexity, 4) if max_complexity <= 7 else max(5, (max_complexity - 1) // 2)


@functools.lru_cache(maxsize=None)
def _search(depth: int) -> ClosedFormSearch:
    return _native.closed_form_search(_LEAVES, depth)


def _simplicity(tokens: Tokens, complex_valued: bool) -> Tuple[bool, int, Tuple[int, ...]]:
    """The order of equally long formulas, simplest first."""
    transcendental = sum(1 for token in tokens if token[0] == "op" and token[1] in _TRANSCENDENTAL)
    return complex_valued, transcendental, tuple(_RANK.get(token, len(_RANK)) for token in tokens)
