"""Dimensional analysis: y as a product of powers of the inputs times a function
of dimensionless groups.

A law between quantities with units holds in every system of units, so
y = P(x) f(g_1(x), ..., g_k(x)) where P is a product of powers of the inputs
that carries y's units and each g_i is a dimensionless product of powers of
them (a basis of the integer null space of the unit matrix). f is usually
short even where the law is long: q1 q2 / (4 pi eps r^2) is
(q1^2 / (eps r^2)) C g with g = q2 / q1.
"""

from __future__ import annotations

import itertools
from dataclasses import dataclass
from fractions import Fraction
from typing import Callable, Iterator, List, Optional, Sequence, Tuple

from . import _rational
from .units import BASE_UNITS, Dimension, Unit, dimension_of, power_text, unit_list, unit_text

Exponents = Tuple[Fraction, ...]


@dataclass(frozen=True)
class DimensionalAnalysis:
    """y = (prod_j x_j ** scale[j]) * f(g_1, ..., g_k), g_i = prod_j x_j ** groups[i][j]."""

    scale: Exponents
    groups: Tuple[Tuple[int, ...], ...]

    def describe(self, names: Optional[Sequence[str]] = None) -> str:
        """The analysis as text, such as "y = q1**2/(eps*r**2) * f(q2/q1)"."""
        chosen = list(names) if names is not None else [f"x{j}" for j in range(len(self.scale))]
        groups = ", ".join(power_text(group, chosen) for group in self.groups)
        return f"y = {power_text(self.scale, chosen)} * f({groups})"


def dimensional_analysis(
    X_units: Sequence[Unit], y_units: Unit, usable: Callable[[Exponents], bool] = lambda _: True
) -> DimensionalAnalysis:
    """The product of powers that carries y's units (of the usable ones, the one of integer
    exponents if any, then of the fewest inputs and the smallest exponents) and a basis of dimensionless groups (of
    as few inputs and as small integer exponents as can be). ValueError when y's units
    are no product of powers of the inputs' units, naming what is missing."""
    inputs = [dimension_of(unit, f"input column {j}") for j, unit in enumerate(unit_list(X_units))]
    target = dimension_of(y_units, "y")
    matrix = [[dimension[base] for dimension in inputs] for base in range(len(BASE_UNITS))]
    scale = next((s for s in _scales(matrix, target, len(inputs)) if usable(s)), None)
    if scale is None:
        raise ValueError(_refusal(inputs, target, any(True for _ in _scales(matrix, target, len(inputs)))))
    return DimensionalAnalysis(scale, _groups(matrix, len(inputs)))


def _scales(matrix: _rational.Matrix, target: Dimension, count: int) -> Iterator[Exponents]:
    """Every product of powers of independent inputs that carries `target`, the preferred first."""
    found: List[Tuple[Tuple[object, ...], Exponents]] = []
    # Independent inputs are at most as many as the matrix's rank: larger subsets are never tried.
    for size in range(_rational.rank(matrix) + 1):
        for subset in itertools.combinations(range(count), size):
            columns = [[row[j] for j in subset] for row in matrix]
            if _rational.rank(columns) < size:
                continue  # a smaller subset carries the same units
            solution = _rational.solve(columns, target) if size else (None if any(target) else ())
            if solution is None or any(value == 0 for value in solution):
                continue
            exponents = [Fraction(0)] * count
            for j, value in zip(subset, solution):
                exponents[j] = value
            found.append((_preference(subset, solution), tuple(exponents)))
    return (exponents for _key, exponents in sorted(found))


def _preference(subset: Sequence[int], exponents: Sequence[Fraction]) -> Tuple[object, ...]:
    # Integer powers where they reach y's units, else square roots, else any; then few
    # inputs, small exponents and the first columns.
    fractional = sum(value.denominator > 1 for value in exponents)
    beyond_roots = sum(value.denominator > 2 for value in exponents)
    size = sum(abs(v) for v in exponents)
    return (beyond_roots, fractional, len(subset), size, max(map(abs, exponents), default=0), subset)


def _groups(matrix: _rational.Matrix, count: int) -> Tuple[Tuple[int, ...], ...]:
    """A basis of the dimensionless groups: of the groups of fewest inputs (one per set of
    inputs whose only group it is), the simplest that are independent of those taken.
    Sets are tried by size, the smallest first, until the basis is complete; a group never
    has more inputs than the matrix's rank plus one."""
    wanted = count - _rational.rank(matrix)
    basis: List[Tuple[int, ...]] = []
    for size in range(1, min(count, _rational.rank(matrix) + 1) + 1):
        if len(basis) == wanted:
            break
        for circuit in sorted(_circuits(matrix, count, size), key=_simplicity):
            taken = [[Fraction(e) for e in group] for group in (*basis, circuit)]
            if len(basis) < wanted and _rational.rank(taken) > len(basis):
                basis.append(circuit)
    return tuple(basis)


def _circuits(matrix: _rational.Matrix, count: int, size: int) -> Iterator[Tuple[int, ...]]:
    """The groups of exactly `size` inputs that are the only group of their inputs."""
    for subset in itertools.combinations(range(count), size):
        space = _rational.null_space([[row[j] for j in subset] for row in matrix], size)
        if len(space) == 1 and all(value != 0 for value in space[0]):
            exponents = [0] * count
            for j, value in zip(subset, _rational.smallest_integers(space[0])):
                exponents[j] = value
            yield tuple(exponents)


def _simplicity(group: Tuple[int, ...]) -> Tuple[object, ...]:
    # Small exponents, then the first columns.
    return (sum(map(abs, group)), max(map(abs, group)), [e == 0 for e in group])


def _refusal(inputs: Sequence[Dimension], target: Dimension, reachable_with_dependent_powers: bool) -> str:
    given = ", ".join(unit_text(d) for d in inputs) or "none"
    missing = [name for base, name in enumerate(BASE_UNITS) if target[base] != 0 and all(d[base] == 0 for d in inputs)]
    if missing:
        return (
            f"the units of y ({unit_text(target)}) hold {', '.join(missing)}, which no input's units hold; "
            f"the inputs' units are {given}"
        )
    reason = "no product of powers of the inputs' units" if not reachable_with_dependent_powers else (
        "no product of powers of the inputs' units that the data allow (real, finite and non-zero on every row)"
    )
    return f"{reason} has the units of y ({unit_text(target)}); the inputs' units are {given}"

