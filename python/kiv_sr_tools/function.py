"""A found formula as a NumPy function that evaluates whole arrays at once."""

from __future__ import annotations

from typing import Callable, Sequence

import numpy as np
import numpy.typing as npt

from kiv_sr import SearchResult

from . import _complex_rules as rules
from ._tokens import CONSTANT_VALUES, Constant, Leaf, Number, Variable, fold, tokens_of

# An operator's result must stay strictly inside this magnitude, as in the engine.
MAGNITUDE_BOUND = 1e15


def to_function(result: SearchResult) -> Callable[[npt.ArrayLike], npt.NDArray[np.float64]]:
    """`f(X)`: the formula's value on each row of X (shape (n, n_vars), or (n,) for one variable).

    Evaluates in complex arithmetic with the engine's rules and returns the
    real parts as float64, NaN where the formula has no value: a column
    beyond X's, or a non-finite value or one of magnitude >= 1e15 at any
    operator. Agrees with `result.eval_batch(X)`.
    """
    tokens = tokens_of(result)

    def evaluate(inputs: npt.ArrayLike) -> npt.NDArray[np.float64]:
        columns = _columns(inputs)
        rows = columns.shape[0]

        def leaf(token: Leaf) -> rules.Complex:
            if isinstance(token, Variable):
                real = columns[:, token.column] if token.column < columns.shape[1] else np.full(rows, np.nan)
                return rules.Complex(real.copy(), np.zeros(rows))
            value = token.value if isinstance(token, Number) else CONSTANT_VALUES[token.name]
            return rules.Complex(np.full(rows, value.real), np.full(rows, value.imag))

        with np.errstate(all="ignore"):
            return np.asarray(fold(tokens, leaf, _apply).re, dtype=np.float64)

    return evaluate


def _columns(inputs: npt.ArrayLike) -> npt.NDArray[np.float64]:
    array = np.asarray(inputs, dtype=np.float64)
    if array.ndim == 1:
        return array.reshape(-1, 1)
    if array.ndim != 2:
        raise ValueError(f"inputs must be 1-D (one variable) or 2-D (one row per sample), not {array.ndim}-D")
    return array


def _apply(name: str, operands: Sequence[rules.Complex]) -> rules.Complex:
    value = rules.BINARY[name](*operands) if len(operands) == 2 else rules.UNARY[name](operands[0])
    inside = (np.abs(value.re) < MAGNITUDE_BOUND) & (np.abs(value.im) < MAGNITUDE_BOUND)
    return rules.Complex(np.where(inside, value.re, np.nan), np.where(inside, value.im, np.nan))
