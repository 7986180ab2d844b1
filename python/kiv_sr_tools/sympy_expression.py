"""A found formula as a SymPy expression, its constants at full precision."""

from __future__ import annotations

from typing import Any, Callable, Dict, Optional, Sequence, Tuple

from kiv_sr import SearchResult

from ._names import variable_names
from ._optional import require
from . import _native
from ._tokens import Token, fold, variable_count
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
    tokens = _native.tokens(result)
    symbols = [sympy.Symbol(name, real=True) for name in variable_names(variable_count(tokens), names)]
    notation = operations(sympy)

    def leaf(token: Token) -> Any:
        kind = token[0]
        if kind == "var":
            return symbols[token[1]]
        if kind == "const":
            return notation[token[1]]()
        if kind == "real" and float(token[1]).is_integer():
            return sympy.Integer(int(token[1]))
        real = sympy.Float(token[1], DIGITS)
        imag = token[2] if kind == "param" else 0.0
        return real if imag == 0.0 else real + sympy.Float(imag, DIGITS) * sympy.I

    def apply(name: str, operands: Sequence[Any]) -> Any:
        return notation[name](*operands)

    return fold(tokens, leaf, apply)


def operations(sympy: Any) -> Dict[str, Callable[..., Any]]:
    """Each engine operator and named constant (no operands) in SymPy."""
    return {
        "0": lambda: sympy.S.Zero,
        "1": lambda: sympy.S.One,
        "I": lambda: sympy.I,
        "Pi": lambda: sympy.pi,
        "E": lambda: sympy.E,
        "KIV": lambda a, b: sympy.exp(a) - sympy.log(b),
        "Plus": lambda a, b: a + b,
        "Times": lambda a, b: a * b,
        "Subtract": lambda a, b: a - b,
        "Divide": lambda a, b: a / b,
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

