"""Every value a formula without variables reaches in a few tokens, each kept once.

Level n holds the values of the formulas of exactly n tokens built from the
leaves 1, 2, ..., 10, Pi and E with the engine's operators, evaluated by the
engine's complex rules (NumPy's math library may round the last bit of a
logarithm or an arctangent differently), except the values that a shorter
formula already reaches: each value keeps its shortest formula, the first
one generated among equally short ones. Values agreeing to about 12
significant digits count as one. A level stores its formulas as operator
and operand indices into the levels below, so a formula's tokens are
rebuilt on demand.

Levels are immutable once built; a table is safe to share between threads.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, List, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from . import _complex_rules as rules
from .function import MAGNITUDE_BOUND

Floats = npt.NDArray[np.float64]
Indices = npt.NDArray[np.intp]
StateToken = Tuple[Any, ...]

LEAVES: Tuple[StateToken, ...] = (
    ("const", "1"),
    *(("real", float(k)) for k in range(2, 11)),
    ("const", "Pi"),
    ("const", "E"),
)
_LEAF_VALUES = np.array([1.0, *range(2, 11), np.pi, np.e])
UNARY = tuple(rules.UNARY)
BINARY = tuple(rules.BINARY)
OPERATORS = UNARY + BINARY
COMMUTATIVE = frozenset({"Plus", "Times"})
# Values are told apart by their real and imaginary parts rounded to this many bits.
_KEY_BITS = 40


@dataclass(frozen=True)
class Formulas:
    """Formulas of one size: their values and how each is built. `operator`
    indexes OPERATORS (-1 for a leaf, whose index in LEAVES is `left`); operands
    are indices into the levels of sizes `left_size` and size - 1 - left_size."""

    value: rules.Complex
    operator: Indices
    left: Indices
    left_size: Indices
    right: Indices

    @staticmethod
    def built(value: rules.Complex, operator: int, left: Indices, left_size: int, right: Indices) -> Formulas:
        """`value` computed by one operator (-1: leaves) from operands `left` and `right`."""
        return Formulas(value, _same(left, operator), left, _same(left, left_size), right)

    @staticmethod
    def concatenate(parts: Sequence[Formulas]) -> Formulas:
        value = rules.Complex(np.concatenate([p.value.re for p in parts]), np.concatenate([p.value.im for p in parts]))
        return Formulas(value, *(np.concatenate([getattr(p, field) for p in parts])
                                 for field in ("operator", "left", "left_size", "right")))

    def take(self, index: Indices) -> Formulas:
        return Formulas(at(self.value, index), self.operator[index], self.left[index], self.left_size[index],
                        self.right[index])

    def __len__(self) -> int:
        return len(self.operator)


@dataclass(frozen=True)
class Level:
    """The formulas of one size, and the indices of their values in ascending order of real part."""

    formulas: Formulas
    order: Indices
    sorted_re: Floats

    @property
    def value(self) -> rules.Complex:
        return self.formulas.value

    def __len__(self) -> int:
        return len(self.formulas)


class ValueTable:
    """The levels of formulas of 1 to `depth` tokens."""

    def __init__(self, depth: int) -> None:
        every = np.arange(len(LEAVES))
        leaves = Formulas.built(rules.Complex(_LEAF_VALUES.copy(), np.zeros(len(LEAVES))), -1, every, 0, every)
        self._keys = np.zeros(0, dtype=complex)
        self.levels: List[Level] = []
        with np.errstate(all="ignore"):
            for size in range(1, depth + 1):
                self.levels.append(self._keep_new(leaves if size == 1 else self._grow(size)))

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
        formulas = self.level(size).formulas
        operator, left = int(formulas.operator[index]), int(formulas.left[index])
        if operator < 0:
            return (LEAVES[left],)
        name = OPERATORS[operator]
        if name in rules.UNARY:
            return (*self.tokens(size - 1, left), ("op", name))
        left_size = int(formulas.left_size[index])
        right = self.tokens(size - 1 - left_size, int(formulas.right[index]))
        return (*self.tokens(left_size, left), *right, ("op", name))

    def _grow(self, size: int) -> Formulas:
        """Every formula of `size` tokens over the levels below."""
        every = np.arange(len(self.level(size - 1)))
        parts = [Formulas.built(rules.UNARY[name](self.level(size - 1).value), OPERATORS.index(name), every,
                                size - 1, every) for name in UNARY]
        for left_size in range(1, size - 1):
            a, b = self.level(left_size), self.level(size - 1 - left_size)
            left, right = np.repeat(np.arange(len(a)), len(b)), np.tile(np.arange(len(b)), len(a))
            operands = (at(a.value, left), at(b.value, right))
            for name in BINARY:
                # The other order of a commutative operator gives the same bits.
                if name not in COMMUTATIVE or left_size <= size - 1 - left_size:
                    parts.append(Formulas.built(rules.BINARY[name](*operands), OPERATORS.index(name), left, left_size,
                                                right))
        return Formulas.concatenate(parts)

    def _keep_new(self, formulas: Formulas) -> Level:
        """The level of those `formulas` whose values are present and new, the first of equal ones."""
        re, im = formulas.value
        present = (np.abs(re) < MAGNITUDE_BOUND) & (np.abs(im) < MAGNITUDE_BOUND)
        keys = _rounded(re) + 1j * _rounded(im)
        candidates = np.flatnonzero(present & ~np.isin(keys, self._keys))
        _, first = np.unique(keys[candidates], return_index=True)
        kept = candidates[np.sort(first)]
        self._keys = np.concatenate([self._keys, keys[kept]])
        order = np.argsort(re[kept], kind="stable")
        return Level(formulas.take(kept), order, re[kept][order])


def _same(like: Indices, value: int) -> Indices:
    return np.full(len(like), value, dtype=np.intp)


def at(value: rules.Complex, index: Indices) -> rules.Complex:
    """The values at `index`."""
    return rules.Complex(value.re[index], value.im[index])


def _rounded(x: Floats) -> Floats:
    mantissa, exponent = np.frexp(x)
    rounded: Floats = np.ldexp(np.round(np.ldexp(mantissa, _KEY_BITS)), exponent - _KEY_BITS)
    return rounded
