"""A found formula's postfix tokens as the engine gives them, and a fold over them.

Each token is a tuple: ("var", column), ("param", re, im) for a fitted
constant, ("real", value), ("const", name) for a registry constant and
("op", name) for a registry operator. Unlike the formula text, which writes
every constant as C, the tokens carry each constant's full value.
"""

from __future__ import annotations

import functools
from typing import Any, Callable, Dict, List, Sequence, Tuple, TypeVar

from . import _native

Token = Tuple[Any, ...]
T = TypeVar("T")


@functools.lru_cache(maxsize=None)
def arities() -> Dict[str, int]:
    """The engine's operators and named constants (arity 0) by name."""
    return {name: arity for name, arity, _commutative in _native.operators()}


def variable_count(tokens: Sequence[Token]) -> int:
    """One more than the highest column the formula reads; 0 if it reads none."""
    return max((int(token[1]) + 1 for token in tokens if token[0] == "var"), default=0)


def fold(tokens: Sequence[Token], leaf: Callable[[Token], T], apply: Callable[[str, Sequence[T]], T]) -> T:
    """Evaluates the postfix formula bottom-up: `leaf` gives each leaf's value and
    `apply` an operator's value from those of its operands, in formula order."""
    stack: List[T] = []
    for token in tokens:
        if token[0] == "op":
            first = len(stack) - arities()[token[1]]
            operands = stack[first:]
            del stack[first:]
            stack.append(apply(token[1], operands))
        else:
            stack.append(leaf(token))
    return stack[0]
