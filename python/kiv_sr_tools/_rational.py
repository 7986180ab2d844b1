"""Exact linear algebra over the rationals, for unit matrices: small, so that
exactness matters more than speed, and a unit's exponent 1/2 stays 1/2."""

from __future__ import annotations

import math
from fractions import Fraction
from typing import List, Optional, Sequence, Tuple

Vector = Tuple[Fraction, ...]
Matrix = Sequence[Sequence[Fraction]]


def echelon(matrix: Matrix) -> Tuple[List[List[Fraction]], List[int]]:
    """The reduced row echelon form of `matrix` (its non-zero rows) and its pivot columns."""
    rows = [list(row) for row in matrix]
    columns = len(rows[0]) if rows else 0
    pivots: List[int] = []
    for column in range(columns):
        top = len(pivots)
        pivot = next((r for r in range(top, len(rows)) if rows[r][column] != 0), None)
        if pivot is None:
            continue
        rows[top], rows[pivot] = rows[pivot], rows[top]
        lead = rows[top][column]
        rows[top] = [value / lead for value in rows[top]]
        for r, row in enumerate(rows):
            if r != top and row[column] != 0:
                factor = row[column]
                rows[r] = [value - factor * base for value, base in zip(row, rows[top])]
        pivots.append(column)
    return rows[: len(pivots)], pivots


def rank(matrix: Matrix) -> int:
    return len(echelon(matrix)[1])


def solve(matrix: Matrix, rhs: Sequence[Fraction]) -> Optional[Vector]:
    """The solution x of matrix x = rhs with every free unknown 0; None when there is none."""
    columns = len(matrix[0]) if matrix else 0
    reduced, pivots = echelon([[*row, value] for row, value in zip(matrix, rhs)])
    if columns in pivots:
        return None  # a row 0 = non-zero
    solution = [Fraction(0)] * columns
    for row, column in zip(reduced, pivots):
        solution[column] = row[-1]
    return tuple(solution)


def null_space(matrix: Matrix, columns: int) -> List[Vector]:
    """A basis of the vectors x with matrix x = 0, one per free column."""
    reduced, pivots = echelon(matrix)
    basis = []
    for free in (c for c in range(columns) if c not in pivots):
        vector = [Fraction(0)] * columns
        vector[free] = Fraction(1)
        for row, column in zip(reduced, pivots):
            vector[column] = -row[free]
        basis.append(tuple(vector))
    return basis


def smallest_integers(vector: Vector) -> Tuple[int, ...]:
    """The integer multiple of `vector` with coprime entries whose first non-zero entry is positive."""
    scale = math.lcm(*(value.denominator for value in vector))
    integers = [int(value * scale) for value in vector]
    divisor = math.gcd(*integers) or 1
    sign = -1 if next((v for v in integers if v != 0), 0) < 0 else 1
    return tuple(sign * value // divisor for value in integers)
