"""A found formula as a SymPy expression, its constants at full precision."""

from __future__ import annotations

from typing import Any, Optional, Sequence, Tuple

from kiv_sr import SearchResult

from ._names import variable_names
from ._optional import require
from ._tokens import Constant, Leaf, Variable, fold, tokens_of, variable_count
from .snapping import DEFAULT_TOLERANCE, snap_constants

# 17 significant digits name every double exactly.
DIGITS = 17


def to_sympy(
    result: SearchResult, names: Optional[Sequence[str]] = None, *, snap: Optional[Tuple[Any, ...]] = None
) -> Any:
    """The formula as a SymPy expression over real symbols named by `names` (default x0, x1, ...).

    The engine's complex arithmetic is SymPy's on the principal branches, so
    at a real point the expression's real part is the formula's value.
    Fitted constants print as floats with every digit, fixed integers exactly.
    `snap=(X, y)` or `(X, y, tolerance)` first replaces fitted constants by
    the closed forms the data allow: `snap_constants(result, X, y, tolerance=...)`.
    """
    sympy = require("sympy", "to_sympy", "SymPy", "sympy")
    if snap is not None:
        if len(snap) not in (2, 3):
            raise ValueError(f"snap must be (X, y) or (X, y, tolerance); got {len(snap)} items")
        result = snap_constants(result, snap[0], snap[1], tolerance=snap[2] if len(snap) == 3 else DEFAULT_TOLERANCE)
    tokens = tokens_of(result)
    symbols = [sympy.Symbol(name, real=True) for name in variable_names(variable_count(tokens), names)]
    constants = {"0": sympy.S.Zero, "1": sympy.S.One, "I": sympy.I, "Pi": sympy.pi, "E": sympy.E}
    unary = {
        "Neg": lambda a: -a,
        "Inv": lambda a: 1 / a,
        "Exp": sympy.exp,
        "Log": sympy.log,
        "Sqrt": sympy.sqrt,
        "Sin": sympy.sin,
        "Cos": sympy.cos,
        "Tan": sympy.tan,
        "ArcSin": sympy.asin,
        "ArcCos": sympy.acos,
        "ArcTan": sympy.atan,
        "Square": lambda a: a**2,
        "Cube": lambda a: a**3,
    }
    binary = {
        "KIV": lambda a, b: sympy.exp(a) - sympy.log(b),
        "Plus": lambda a, b: a + b,
        "Times": lambda a, b: a * b,
        "Subtract": lambda a, b: a - b,
        "Divide": lambda a, b: a / b,
    }

    def leaf(token: Leaf) -> Any:
        if isinstance(token, Variable):
            return symbols[token.column]
        if isinstance(token, Constant):
            return constants[token.name]
        if not token.fitted and token.value.real.is_integer():
            return sympy.Integer(int(token.value.real))
        real = sympy.Float(token.value.real, DIGITS)
        return real if token.value.imag == 0.0 else real + sympy.Float(token.value.imag, DIGITS) * sympy.I

    def apply(name: str, operands: Sequence[Any]) -> Any:
        return binary[name](*operands) if len(operands) == 2 else unary[name](operands[0])

    return fold(tokens, leaf, apply)

