"""A found formula as Python/NumPy source text with its constants at full precision."""

from __future__ import annotations

from typing import NamedTuple, Optional, Sequence

from kiv_sr import SearchResult

from ._names import variable_names
from . import _native
from ._tokens import Token, fold, variable_count

# Calls take their operands as they are; infix templates group compound ones.
CALLS = {
    "Exp": "np.exp({0})",
    "Log": "np.log({0})",
    "Sqrt": "np.sqrt({0})",
    "Sin": "np.sin({0})",
    "Cos": "np.cos({0})",
    "Tan": "np.tan({0})",
    "ArcSin": "np.arcsin({0})",
    "ArcCos": "np.arccos({0})",
    "ArcTan": "np.arctan({0})",
}
INFIX = {
    "KIV": "np.exp({0}) - np.log({1})",
    "Neg": "-{0}",
    "Inv": "1 / {0}",
    "Plus": "{0} + {1}",
    "Times": "{0} * {1}",
    "Subtract": "{0} - {1}",
    "Divide": "{0} / {1}",
    "Square": "{0}**2",
    "Cube": "{0}**3",
}
CONSTANT_TEXT = {"0": "0.0", "1": "1.0", "I": "1j", "Pi": "np.pi", "E": "np.e"}


class Piece(NamedTuple):
    text: str
    atomic: bool  # safe as an operand of any infix template without parentheses


def to_source(result: SearchResult, names: Optional[Sequence[str]] = None) -> str:
    """A NumPy expression of the formula, variables named by `names` (default x0, x1, ...).

    Constants print in full (repr), so the text round-trips every bit of
    them. Evaluated on complex arrays it follows the engine's complex
    arithmetic on the principal branches; on real arrays NumPy gives NaN
    where a real function has no value (the logarithm of a negative number).
    """
    tokens = _native.tokens(result)
    chosen = variable_names(variable_count(tokens), names)
    for name in chosen:
        if not name.isidentifier():
            raise ValueError(f"variable name {name!r} is not a Python identifier")

    def leaf(token: Token) -> Piece:
        if token[0] == "var":
            return Piece(chosen[token[1]], True)
        if token[0] == "const":
            return Piece(CONSTANT_TEXT[token[1]], True)
        value = complex(token[1], token[2] if token[0] == "param" else 0.0)
        text = repr(value) if value.imag != 0.0 else repr(value.real)
        return Piece(text, not text.startswith("-"))

    return fold(tokens, leaf, _apply).text


def _apply(name: str, operands: Sequence[Piece]) -> Piece:
    if name in CALLS:
        return Piece(CALLS[name].format(*(piece.text for piece in operands)), True)
    grouped = (piece.text if piece.atomic else f"({piece.text})" for piece in operands)
    return Piece(INFIX[name].format(*grouped), False)
