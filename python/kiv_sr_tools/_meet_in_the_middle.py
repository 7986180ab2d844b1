"""Formulas of a given size whose value's real part is a given target, found by
meeting in the middle.

A formula no longer than the value table's depth is looked up in it. A
longer one has an operator at its root: for a unary operator, the operand
values that give the target (_preimages) are searched one token shorter;
for a binary one, one operand is taken from the table (every value of its
size in turn) and the value the other must have is searched, down to the
table again. Operand values found this way are approximate, so every
formula put together is evaluated exactly by the engine (_native.apply),
from its operands' exact values, and kept only if it still meets its target.
The operators and which of them commute are the engine's.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Callable, Dict, List, Optional, Sequence, Tuple, overload

import numpy as np

from . import _native
from ._preimages import LEFT_OPERAND, OPERAND_OF_UNARY, RIGHT_OPERAND, Floats
from ._value_table import Complexes, Indices, StateToken, ValueTable

Tokens = Tuple[StateToken, ...]
_OPERATORS = _native.operators()
UNARY = tuple(name for name, arity, _ in _OPERATORS if arity == 1)
BINARY = tuple(name for name, arity, _ in _OPERATORS if arity == 2)
COMMUTATIVE = frozenset(name for name, _, commutative in _OPERATORS if commutative)


@dataclass(frozen=True)
class Found:
    """Formulas found, one per entry: the index of the target each meets, its exact value and tokens."""

    targets: Indices
    value: Complexes
    tokens: Sequence[Tokens]

    @staticmethod
    def joined(pieces: Sequence[Found]) -> Found:
        if not pieces:
            return Found(np.zeros(0, dtype=np.intp), np.zeros(0, dtype=np.complex128), [])
        return Found(np.concatenate([p.targets for p in pieces]), np.concatenate([p.value for p in pieces]),
                     [tokens for p in pieces for tokens in p.tokens])


@dataclass(frozen=True)
class _Operand:
    """Searches for the unknown operand of operator `name`: one key (the value it
    must have) per pair of a target (`targets`) and, for a binary operator, a
    known operand of `known_size` tokens (`known`, indices into that level of
    the table) on side `known_side`."""

    name: str
    keys: Floats
    targets: Indices
    known: Optional[Indices] = None
    known_size: int = 0
    known_side: str = "left"

    def finite(self) -> _Operand:
        """Without the keys that are not finite or are 0. An operand whose real part
        must be 0 comes of an underflow or of a longer form of a formula found
        shorter, and would match every imaginary value in the table."""
        keep = np.isfinite(self.keys) & (self.keys != 0.0)
        known = None if self.known is None else self.known[keep]
        return _Operand(self.name, self.keys[keep], self.targets[keep], known, self.known_size, self.known_side)


class ClosedFormSolver:
    """Searches formulas in `table`, a formula meeting target t when the real
    part of its value is within slack * |t| of t."""

    def __init__(self, table: ValueTable, slack: float) -> None:
        self.table = table
        self.slack = slack

    def solve(self, targets: Floats, size: int) -> Found:
        """The formulas of exactly `size` tokens that meet some target, in a fixed order."""
        if size <= self.table.depth:
            matched, entries = self.table.lookup(targets, size, self.slack)
            return Found(matched, self.table.level(size).value[entries], _TableTokens(self.table, size, entries))
        pieces = []
        with np.errstate(all="ignore"):
            for unknown_size, operands in self._operands(targets, size).items():
                offsets = np.cumsum([0] + [len(o.keys) for o in operands])
                found = self.solve(np.concatenate([o.keys for o in operands]), unknown_size)
                group = np.searchsorted(offsets, found.targets, side="right") - 1
                for number, operand in enumerate(operands):
                    chosen = np.flatnonzero(group == number)
                    pairs = found.targets[chosen] - offsets[number]
                    pieces.append(self._compose(operand, pairs, found, chosen, targets))
        return Found.joined(pieces)

    def _operands(self, targets: Floats, size: int) -> Dict[int, List[_Operand]]:
        """The searches for the unknown operand of every operator at the root of a
        formula of `size` tokens, by the unknown operand's size."""
        by_size: Dict[int, List[_Operand]] = {}
        every = np.arange(len(targets))
        for name in UNARY:
            if name not in OPERAND_OF_UNARY:
                continue  # an operator without a preimage rule is not inverted
            for keys in OPERAND_OF_UNARY[name](targets):
                by_size.setdefault(size - 1, []).append(_Operand(name, keys, every).finite())
        for left_size in range(1, size - 1):
            for operand in self._binary(targets, left_size, size - 1 - left_size):
                by_size.setdefault(size - 1 - operand.known_size, []).append(operand.finite())
        return by_size

    def _binary(self, targets: Floats, left_size: int, right_size: int) -> List[_Operand]:
        """Searches for one operand of each binary operator whose other operand,
        the one whose level holds fewer values, is taken from the table."""
        depth, level = self.table.depth, self.table.level
        operands = []
        for name in BINARY:
            if name in COMMUTATIVE:
                if left_size > right_size:
                    continue
                known_side = "left"
            elif left_size <= depth and (right_size > depth or len(level(left_size)) <= len(level(right_size))):
                known_side = "left"
            else:
                known_side = "right"
            rules = RIGHT_OPERAND if known_side == "left" else LEFT_OPERAND
            if name not in rules:
                continue  # an operator without a preimage rule is not inverted
            rule: Callable[[Floats, Complexes], List[Floats]] = rules[name]
            known_size = left_size if known_side == "left" else right_size
            known = level(known_size)
            # Known operands in ascending order of real part give keys in nearly monotone
            # runs, which the table lookup's binary searches take several times as fast.
            pairs_target = np.repeat(np.arange(len(targets)), len(known))
            pairs_known = np.tile(known.order, len(targets))
            for keys in rule(targets[pairs_target], known.value[pairs_known]):
                operands.append(_Operand(name, keys, pairs_target, pairs_known, known_size, known_side))
        return operands

    def _compose(self, operand: _Operand, pairs: Indices, found: Found, chosen: Indices, targets: Floats) -> Found:
        """The formulas that `operand.name` makes of the unknown operands found[chosen],
        each meeting the key of pair `pairs` of `operand`, that still meet their targets."""
        which = operand.targets[pairs]
        unknown = found.value[chosen]
        if operand.known is None:
            value = _native.apply(operand.name, unknown)
        else:
            known = self.table.level(operand.known_size).value[operand.known[pairs]]
            operands = (known, unknown) if operand.known_side == "left" else (unknown, known)
            value = _native.apply(operand.name, *operands)
        want = targets[which]
        # An absent value (NaN: undefined, not finite or of magnitude >= 1e15) meets no target.
        meets = np.flatnonzero(np.abs(value.real - want) <= self.slack * np.abs(want))
        kept, tokens = [], []
        for m in meets:
            formula = self._tokens(operand, int(pairs[m]), found.tokens[chosen[m]])
            if formula is not None:
                kept.append(m)
                tokens.append(formula)
        index = np.array(kept, dtype=np.intp)
        return Found(which[index], value[index], tokens)

    def _tokens(self, operand: _Operand, pair: int, unknown: Tokens) -> Optional[Tokens]:
        if operand.known is None:
            return (*unknown, ("op", operand.name))
        known = self.table.tokens(operand.known_size, int(operand.known[pair]))
        left, right = (known, unknown) if operand.known_side == "left" else (unknown, known)
        # Both orders of a commutative operator on equally long operands are found; one is kept.
        if operand.name in COMMUTATIVE and len(left) == len(right) and repr(left) > repr(right):
            return None
        return (*left, *right, ("op", operand.name))


class _TableTokens(Sequence[Tokens]):
    """The tokens of formulas `entries` of a level, rebuilt when asked for: most
    formulas looked up are dropped for not meeting their targets once composed."""

    def __init__(self, table: ValueTable, size: int, entries: Indices) -> None:
        self.table, self.size, self.entries = table, size, entries

    def __len__(self) -> int:
        return len(self.entries)

    @overload
    def __getitem__(self, index: int) -> Tokens: ...

    @overload
    def __getitem__(self, index: slice) -> Sequence[Tokens]: ...

    def __getitem__(self, index: int | slice) -> Tokens | Sequence[Tokens]:
        if isinstance(index, slice):
            return [self[i] for i in range(len(self))[index]]
        return self.table.tokens(self.size, int(self.entries[index]))
