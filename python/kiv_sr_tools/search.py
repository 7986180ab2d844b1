"""Searches that end on time: a Searcher's Pareto front under a time budget,
and Ctrl-C that keeps what was found.

The search is kiv_sr's own, run through the package's private engine module;
when it stops early it returns the front of the levels it completed, with a
RuntimeWarning that says how far it got.
"""

from __future__ import annotations

import math
import warnings
from typing import Dict, List, Optional, Type

import numpy.typing as npt

from kiv_sr import KivComplexityError, KivDimensionError, Searcher, SearchResult

from . import _native

_FAILURES: Dict[str, Type[Exception]] = {"complexity": KivComplexityError, "dimension": KivDimensionError}

_STOPPED_BY = {"time": "at its time budget of {budget:g} s", "interrupt": "by Ctrl-C"}


def find_candidates(
    searcher: Searcher,
    X: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    max_time: Optional[float] = None,
    alpha: Optional[float] = None,
    l1_ratio: Optional[float] = None,
) -> List[SearchResult]:
    """`searcher.find_candidates(X, y, alpha, l1_ratio)`, the Pareto front lowest
    error first, that stops after `max_time` seconds (None: no limit) or at
    Ctrl-C and then returns the front of the levels completed so far."""
    if max_time is not None and not (isinstance(max_time, (int, float)) and max_time > 0 and not math.isnan(max_time)):
        raise ValueError(f"max_time must be a positive number of seconds or None; got {max_time!r}")
    settings = list(searcher.__reduce__()[1])
    if alpha is not None:
        settings[3] = alpha
    if l1_ratio is not None:
        settings[4] = l1_ratio
    try:
        states, levels, stopped_by = _native.find_candidates_until(tuple(settings), X, y, max_time)
    except _native.SearchFailed as failure:
        kind, message = failure.args
        raise _FAILURES[kind](message) from None
    if stopped_by is not None:
        how = _STOPPED_BY[stopped_by].format(budget=max_time)
        warnings.warn(
            f"The search stopped {how} after completing level {levels} of {searcher.max_complexity}; "
            f"the front holds the formulas of complexity up to {levels}.",
            RuntimeWarning,
            stacklevel=2,
        )
    return [SearchResult._from_state(state) for state in states]
