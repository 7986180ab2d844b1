"""A found formula's exact structure, read from the state a SearchResult pickles.

The state is (version, error, tokens), the tokens in postfix order, each a
tuple: ("var", column), ("param", re, im) for a fitted constant, ("real",
value), ("const", name) for a registry constant and ("op", name) for a
registry operator. Unlike the formula text, which writes every constant as
C, the tokens carry each constant's full value.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Callable, List, Sequence, Tuple, TypeVar, Union

from kiv_sr import SearchResult

STATE_VERSION = 1

# The registry's named constants, as the engine evaluates them.
CONSTANT_VALUES = {"0": 0j, "1": 1 + 0j, "I": 1j, "Pi": complex(math.pi), "E": complex(math.e)}

BINARY_OPERATORS = frozenset({"KIV", "Plus", "Times", "Subtract", "Divide"})
UNARY_OPERATORS = frozenset(
    {"Neg", "Inv", "Exp", "Log", "Sqrt", "Sin", "Cos", "Tan", "ArcSin", "ArcCos", "ArcTan", "Square", "Cube"}
)


@dataclass(frozen=True)
class Variable:
    column: int


@dataclass(frozen=True)
class Number:
    """A fitted parameter or a fixed real, at full precision."""

    value: complex
    fitted: bool


@dataclass(frozen=True)
class Constant:
    name: str


@dataclass(frozen=True)
class Operation:
    name: str
    arity: int


Leaf = Union[Variable, Number, Constant]
Token = Union[Leaf, Operation]
T = TypeVar("T")


def tokens_of(result: SearchResult) -> Tuple[Token, ...]:
    """The postfix tokens of `result`'s formula; ValueError for a state this version cannot read."""
    reduced: Any = result.__reduce__()
    version, _error, tokens = reduced[1][0]
    if version != STATE_VERSION:
        raise ValueError(f"SearchResult state version {version!r} is not supported (this version reads 1)")
    return tuple(_token(item) for item in tokens)


def _token(item: Sequence[Any]) -> Token:
    kind, name = item[0], item[1]
    if kind == "var":
        return Variable(int(name))
    if kind == "param":
        return Number(complex(float(name), float(item[2])), fitted=True)
    if kind == "real":
        return Number(complex(float(name), 0.0), fitted=False)
    if kind == "const" and name in CONSTANT_VALUES:
        return Constant(name)
    if kind == "op" and name in BINARY_OPERATORS | UNARY_OPERATORS:
        return Operation(name, 2 if name in BINARY_OPERATORS else 1)
    raise ValueError(f"unknown formula token {tuple(item)!r}")


def variable_count(tokens: Sequence[Token]) -> int:
    """One more than the highest column the formula reads; 0 if it reads none."""
    return max((token.column + 1 for token in tokens if isinstance(token, Variable)), default=0)


def fold(tokens: Sequence[Token], leaf: Callable[[Leaf], T], apply: Callable[[str, Sequence[T]], T]) -> T:
    """Evaluates the postfix formula bottom-up: `leaf` gives each leaf's value and
    `apply` an operator's value from those of its operands, in formula order."""
    stack: List[T] = []
    for token in tokens:
        if isinstance(token, Operation):
            if len(stack) < token.arity:
                raise ValueError(f"malformed formula: {token.name} lacks operands")
            operands = stack[len(stack) - token.arity :]
            del stack[len(stack) - token.arity :]
            stack.append(apply(token.name, operands))
        else:
            stack.append(leaf(token))
    if len(stack) != 1:
        raise ValueError("malformed formula: its tokens do not form one expression")
    return stack[0]
