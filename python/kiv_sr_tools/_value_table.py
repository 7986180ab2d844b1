"""Every value a formula without variables reaches in a few tokens, each kept once.

Level n holds the formulas of exactly n tokens built from the leaves 1, 2,
..., 10, Pi and E with the engine's operators, and their complex values. The
engine builds them (_native.enumerate_formulas) as its search builds
candidates: of formulas with the same fingerprint (values equal once
rounded to multiples of 1e-10) only the shortest is kept, the first
generated among equally short ones. A formula's tokens are rebuilt on demand.

Levels are immutable once built; a table is safe to share between threads.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, List, Tuple

import numpy as np
import numpy.typing as npt

from . import _native

Floats = npt.NDArray[np.float64]
Complexes = npt.NDArray[np.complex128]
Indices = npt.NDArray[np.intp]
StateToken = Tuple[Any, ...]

LEAVES: Tuple[StateToken, ...] = (
    ("const", "1"),
    *(("real", float(k)) for k in range(2, 11)),
    ("const", "Pi"),
    ("const", "E"),
)
# One data row without columns: the formulas read no variable.
_NO_VARIABLES = np.zeros((1, 0))


@dataclass(frozen=True)
class Level:
    """The values of the formulas of one size, and their indices in ascending order of real part."""

    value: Complexes
    order: Indices
    sorted_re: Floats

    def __len__(self) -> int:
        return len(self.value)


class ValueTable:
    """The levels of formulas of 1 to `depth` tokens."""

    def __init__(self, depth: int) -> None:
        self._table = _native.enumerate_formulas(LEAVES, depth, _NO_VARIABLES)
        self.levels: List[Level] = []
        for size in range(1, depth + 1):
            value = _native.table_values(self._table, size)[:, 0]
            order = np.argsort(value.real, kind="stable")
            self.levels.append(Level(value, order, value.real[order]))

    @property
    def depth(self) -> int:
        return len(self.levels)

    def level(self, size: int) -> Level:
        return self.levels[size - 1]

    def lookup(self, keys: Floats, size: int, slack: float) -> Tuple[Indices, Indices]:
        """Pairs (key index, formula index in level `size`) where the formula's real
        part is within slack * |key| of the key, in key order, then real part order."""
        level = self.level(size)
        tolerance = slack * np.abs(keys)
        first = np.searchsorted(level.sorted_re, keys - tolerance, side="left")
        counts = np.maximum(np.searchsorted(level.sorted_re, keys + tolerance, side="right") - first, 0)
        key_index = np.repeat(np.arange(len(keys)), counts)
        offsets = np.arange(len(key_index)) - np.repeat(np.cumsum(counts) - counts, counts)
        return key_index, level.order[np.repeat(first, counts) + offsets]

    def tokens(self, size: int, index: int) -> Tuple[StateToken, ...]:
        """The postfix state tokens of formula `index` of level `size`."""
        tokens: Tuple[StateToken, ...] = _native.table_tokens(self._table, size, index)
        return tokens
