"""A found formula as a NumPy function that evaluates whole arrays at once."""

from __future__ import annotations

from typing import Callable

import numpy as np
import numpy.typing as npt

from kiv_sr import SearchResult

from . import _native


def to_function(result: SearchResult) -> Callable[[npt.ArrayLike], npt.NDArray[np.float64]]:
    """`f(X)`: the formula's value on each row of X (shape (n, n_vars), or (n,) for one variable).

    Evaluates in complex arithmetic with the engine's rules and returns the
    real parts as float64, NaN where the formula has no value: a column
    beyond X's, or a non-finite value or one of magnitude >= 1e15 at any
    operator. Agrees with `result.eval_batch(X)`.
    """
    if not isinstance(result, SearchResult):
        raise TypeError(f"result must be a kiv_sr.SearchResult, not {type(result).__name__}")

    def evaluate(inputs: npt.ArrayLike) -> npt.NDArray[np.float64]:
        values: npt.NDArray[np.float64] = _native.evaluate(result, _columns(inputs)).real.copy()
        return values

    return evaluate


def _columns(inputs: npt.ArrayLike) -> npt.NDArray[np.float64]:
    array = np.asarray(inputs, dtype=np.float64)
    if array.ndim == 1:
        return array.reshape(-1, 1)
    if array.ndim != 2:
        raise ValueError(f"inputs must be 1-D (one variable) or 2-D (one row per sample), not {array.ndim}-D")
    return array
