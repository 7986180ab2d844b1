"""Searches that end on time: a Searcher's Pareto front under a time budget,
and Ctrl-C that keeps what was found.

The search is kiv_sr's own, run through the package's private engine module
without the interpreter lock, so the process's other threads go on meanwhile;
when it stops early it returns the front of the levels it completed, with a
RuntimeWarning that says how far it got.
"""

from __future__ import annotations

import math
import warnings
from typing import List, NamedTuple, Optional, Sequence

import numpy.typing as npt

from kiv_sr import Searcher, SearchResult

from . import _native

_STOPPED_BY = {"time": "at its time budget of {budget:g} s", "interrupt": "by Ctrl-C"}


class Outcome(NamedTuple):
    """What a budgeted search returns: the front, lowest error first, the levels it
    completed and how it ended ("exact_fit", "all_levels", "time" or "interrupt")."""

    front: List[SearchResult]
    levels: int
    end: str

    @property
    def stopped_by(self) -> Optional[str]:
        """Why the search stopped before its end ("time" or "interrupt"), or None."""
        return self.end if self.end in _STOPPED_BY else None


def find_candidates(
    searcher: Searcher,
    X: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    max_time: Optional[float] = None,
    alpha: Optional[float] = None,
    l1_ratio: Optional[float] = None,
    verbose: bool = True,
    operators: Optional[Sequence[str]] = None,
) -> List[SearchResult]:
    """`searcher.find_candidates(X, y, alpha, l1_ratio)`, the Pareto front lowest
    error first, that stops after `max_time` seconds (None: no limit) or at
    Ctrl-C and then returns the front of the levels completed so far.
    `verbose=False` prints no progress. `operators` names, in any order, the
    operators the search builds formulas with, such as ["Plus", "Times",
    "Divide", "Sqrt"] (None: all eighteen); a name that is no operator, a
    named constant, a name given twice or no name at all raises ValueError,
    which lists the operators."""
    check_budget(max_time)
    outcome = run(searcher, X, y, max_time, alpha, l1_ratio, verbose, operators)
    warn_if_stopped(outcome.stopped_by, outcome.levels, max_time, searcher.max_complexity)
    return outcome.front


def run(
    searcher: Searcher,
    X: npt.ArrayLike,
    y: npt.ArrayLike,
    max_time: Optional[float],
    alpha: Optional[float] = None,
    l1_ratio: Optional[float] = None,
    verbose: bool = True,
    operators: Optional[Sequence[str]] = None,
) -> Outcome:
    """The budgeted search; the engine's refusals raise kiv_sr's exceptions, and of
    the operator names ValueError."""
    return Outcome(*_native.search(searcher, X, y, alpha, l1_ratio, max_time, verbose, operators))


def warn_if_stopped(stopped_by: Optional[str], levels: int, budget: Optional[float], max_complexity: int) -> None:
    """The RuntimeWarning of a search that stopped early, addressed to the caller's caller."""
    if stopped_by is not None:
        warnings.warn(
            f"The search {stop_note(stopped_by, levels, budget, max_complexity)}; "
            f"the front holds the formulas of complexity up to {levels}.",
            RuntimeWarning,
            stacklevel=3,
        )


def check_budget(max_time: Optional[float]) -> None:
    if max_time is not None and not (isinstance(max_time, (int, float)) and max_time > 0 and not math.isnan(max_time)):
        raise ValueError(f"max_time must be a positive number of seconds or None; got {max_time!r}")


def stop_note(stopped_by: str, levels: int, budget: Optional[float], max_complexity: int) -> str:
    """How a search that stopped early got there, as the predicate of a sentence."""
    how = _STOPPED_BY[stopped_by].format(budget=budget)
    return f"stopped {how} after completing level {levels} of {max_complexity}"
