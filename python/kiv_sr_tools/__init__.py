"""Companions of the kiv_sr engine: exact formulas as SymPy expressions, NumPy
functions and source text, closed forms for numbers and fitted constants, a
scikit-learn estimator, searches with a time budget, searches on transformed
targets (log y, 1/y, y^2, ...), searches that respect units and a plot of the Pareto front.

Importing this package needs NumPy only; each feature imports its optional
dependency on first use and names the extra that installs it when missing.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from ._optional import require
from .constants import identify_constant
from .function import to_function
from .plot import plot_front
from .search import find_candidates
from .snapping import snap_constants
from .source import to_source
from .sum_of_terms import find_sum_of_terms
from .sympy_expression import to_sympy
from .transformed import find_transformed
from .dimensional_analysis import dimensional_analysis
from .unit_search import find_with_units

if TYPE_CHECKING:
    from .regressor import KivRegressor

__all__ = [
    "KivRegressor",
    "dimensional_analysis",
    "find_candidates",
    "find_sum_of_terms",
    "find_transformed",
    "find_with_units",
    "identify_constant",
    "plot_front",
    "snap_constants",
    "to_function",
    "to_source",
    "to_sympy",
]


def __getattr__(name: str) -> Any:
    # The estimator's base classes come from scikit-learn, so its module is imported on first use.
    if name == "KivRegressor":
        require("sklearn", "KivRegressor", "scikit-learn", "sklearn")
        from .regressor import KivRegressor

        return KivRegressor
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
