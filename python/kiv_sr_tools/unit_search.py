"""The search with units: y over a product of powers that carries its units,
searched as a function of dimensionless groups, and the formulas found
written back as formulas of the inputs."""

from __future__ import annotations

from typing import Any, Iterable, List, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

from kiv_sr import Searcher, SearchResult

from . import _native
from ._powers import TIMES, Tokens, product_of_powers
from .dimensional_analysis import Exponents, dimensional_analysis
from .search import check_budget, find_candidates
from .sum_of_terms import find_sum_of_terms
from .transformed import float_array, find_transformed, pareto_front
from .units import Unit, unit_list


def find_with_units(
    searcher: Searcher,
    X: npt.ArrayLike,
    y: npt.ArrayLike,
    X_units: Sequence[Unit],
    y_units: Unit,
    *,
    transforms: Union[bool, str, Iterable[str]] = False,
    max_time: Optional[float] = None,
    alpha: Optional[float] = None,
    l1_ratio: Optional[float] = None,
    verbose: bool = True,
    operators: Optional[Sequence[str]] = None,
    sums_of_terms: bool = False,
) -> List[SearchResult]:
    """The Pareto front of formulas y = P(X) f(g_1(X), ..., g_k(X)) that respect units.

    `X_units` gives the unit of each input column and `y_units` that of y:
    strings that pint parses, such as "kg*m/s**2" or "1" for a dimensionless
    quantity, or mappings of SI base units to exponents, such as
    {"kg": 1, "m": 1, "s": -2}. P is the product of powers of the inputs
    that carries y's units (integer exponents where they do, then the
    fewest inputs and smallest exponents; real, finite and non-zero on
    every row) and the g_i a basis of dimensionless groups
    (`dimensional_analysis` tells which). f is searched with `searcher` on
    y / P over the columns g_i, as `find_candidates` does, or with
    `transforms` (True or names) as `find_transformed` does; `max_time`,
    `alpha`, `l1_ratio`, `verbose` and `operators` go to that search, and
    `operators` names the operators of f alone: P and the g_i are written
    with Times, Divide, Inv, Square, Cube and Sqrt (Exp and Log for powers
    other than halves). With no group, f is a constant and nothing is
    searched. With `sums_of_terms`, the sums and products of terms of the
    groups that `find_sum_of_terms` finds for y / P join the search's
    formulas (y = m (v^2 + u^2 + w^2) / 2 is m v^2 (C + C g1^2 + C g2^2)).

    Each formula found becomes the formula P f(g) of the input columns,
    refitted on y as the search refits its answers, and the result is one
    strict Pareto front, lowest error first. Units that no product of powers
    of the inputs' units can match raise ValueError, naming what is missing.
    """
    check_budget(max_time)
    table = float_array(X, 2)
    if table.size and len(unit_list(X_units)) != table.shape[1]:
        raise ValueError(f"X_units gives {len(X_units)} units for {table.shape[1]} input columns")
    analysis = dimensional_analysis(X_units, y_units, usable=lambda scale: _usable(scale, X))
    scale = product_of_powers(analysis.scale)
    if not analysis.groups:
        return [_native.refit(searcher, _scaled((("param", 1.0, 0.0),), scale), X, y, alpha, l1_ratio)]
    groups = [product_of_powers(group) for group in analysis.groups]
    group_columns = np.column_stack([_native.evaluate(group, X).real for group in groups])
    values = float_array(y, 1)
    # y that is no vector of one value per row goes to the search as given, to be refused as every search does.
    target = values / _native.evaluate(scale, X).real if scale and values.shape == table.shape[:1] else y
    front = _search_groups(
        searcher, group_columns, target, transforms, max_time, alpha, l1_ratio, verbose, operators
    )
    if sums_of_terms:
        front += find_sum_of_terms(searcher, group_columns, target, operators=operators, alpha=alpha, l1_ratio=l1_ratio)
    written = (_scaled(_in_inputs(_native.tokens(result), groups), scale) for result in front)
    return pareto_front(_native.refit(searcher, tokens, X, y, alpha, l1_ratio) for tokens in written)


def _search_groups(
    searcher: Searcher,
    groups: npt.NDArray[np.float64],
    target: npt.ArrayLike,
    transforms: Union[bool, str, Iterable[str]],
    max_time: Optional[float],
    alpha: Optional[float],
    l1_ratio: Optional[float],
    verbose: bool,
    operators: Optional[Sequence[str]],
) -> List[SearchResult]:
    settings: Any = dict(max_time=max_time, alpha=alpha, l1_ratio=l1_ratio, verbose=verbose, operators=operators)
    if transforms is False:
        return find_candidates(searcher, groups, target, **settings)
    chosen = None if transforms is True else transforms
    return find_transformed(searcher, groups, target, transforms=chosen, **settings)


def _usable(scale: Exponents, X: npt.ArrayLike) -> bool:
    """Whether the product of powers is real, finite and non-zero on every row, so that y may be divided by it."""
    tokens = product_of_powers(scale)
    if not tokens:
        return True
    with np.errstate(invalid="ignore"):
        values = _native.evaluate(tokens, X)
    return bool(np.all(np.isfinite(values)) and np.all(values.imag == 0) and np.all(values.real != 0))


def _in_inputs(tokens: Tokens, groups: Sequence[Tokens]) -> Tokens:
    """The formula of the group columns as one of the input columns."""
    return tuple(part for token in tokens for part in (groups[token[1]] if token[0] == "var" else (token,)))


def _scaled(tokens: Tokens, scale: Tokens) -> Tokens:
    return (*tokens, *scale, TIMES) if scale else tokens

