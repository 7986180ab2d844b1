"""Searches that end on time: a Searcher's Pareto front under a time budget,
and Ctrl-C that keeps what was found.

The search is kiv_sr's own, run through the package's private engine module;
when it stops early it returns the front of the levels it completed, with a
RuntimeWarning that says how far it got.
"""

from __future__ import annotations

import contextlib
import math
import warnings
from typing import Any, Dict, Iterator, List, NamedTuple, Optional, Tuple, Type

import numpy.typing as npt

from kiv_sr import KivComplexityError, KivDimensionError, Searcher, SearchResult

from . import _native

_FAILURES: Dict[str, Type[Exception]] = {"complexity": KivComplexityError, "dimension": KivDimensionError}

_STOPPED_BY = {"time": "at its time budget of {budget:g} s", "interrupt": "by Ctrl-C"}


class Outcome(NamedTuple):
    """What a budgeted search returns: the front's states, lowest error first, the
    levels it completed and why it stopped early (None, "time" or "interrupt")."""

    states: List[Any]
    levels: int
    stopped_by: Optional[str]


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
    check_budget(max_time)
    outcome = run(settings_of(searcher, alpha, l1_ratio), X, y, max_time)
    warn_if_stopped(outcome.stopped_by, outcome.levels, max_time, searcher.max_complexity)
    return [SearchResult._from_state(state) for state in outcome.states]


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


def settings_of(searcher: Searcher, alpha: Optional[float], l1_ratio: Optional[float]) -> Tuple[Any, ...]:
    """The searcher's five settings, with the penalty overridden where given."""
    settings = list(searcher.__reduce__()[1])
    if alpha is not None:
        settings[3] = alpha
    if l1_ratio is not None:
        settings[4] = l1_ratio
    return tuple(settings)


def run(settings: Tuple[Any, ...], X: npt.ArrayLike, y: npt.ArrayLike, max_time: Optional[float]) -> Outcome:
    """The budgeted search with these settings; the engine's refusals as kiv_sr's exceptions."""
    with translated_failures():
        return Outcome(*_native.find_candidates_until(settings, X, y, max_time))


@contextlib.contextmanager
def translated_failures() -> Iterator[None]:
    """The engine's refusals inside the block raised as kiv_sr's exceptions."""
    try:
        yield
    except _native.SearchFailed as failure:
        kind, message = failure.args
        raise _FAILURES[kind](message) from None


def stop_note(stopped_by: str, levels: int, budget: Optional[float], max_complexity: int) -> str:
    """How a search that stopped early got there, as the predicate of a sentence."""
    how = _STOPPED_BY[stopped_by].format(budget=budget)
    return f"stopped {how} after completing level {levels} of {max_complexity}"
