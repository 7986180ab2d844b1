"""Searches on transformed targets, for laws whose parts fit y badly.

The beam keeps, at each size, the formulas that fit y best, so a law such as
y = x0^x1 = Exp(Times(v_{1}, Log(v_{0}))) is lost when Times(v_{1}, Log(v_{0}))
fits y badly and is cut before its exponential is built. On log y that part
is an exact fit. Searching T(y) for the transforms T defined on the data and
undoing T on the formulas found (g -> Exp(g) for the logarithm) reaches such
laws; every formula is refitted on y itself and all of them meet in one
Pareto front.
"""

from __future__ import annotations

import functools
import math
import time
import warnings
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from kiv_sr import KivComplexityError, Searcher, SearchResult

from . import _native
from ._optional import require
from .search import Outcome, check_budget, run, settings_of, stop_note

Values = npt.NDArray[np.float64]
Tokens = Tuple[Tuple[Any, ...], ...]
# The arguments of search_job: settings, X, the target, the deadline.
Job = Tuple[Tuple[Any, ...], npt.ArrayLike, npt.ArrayLike, Optional[float]]

EXP, NEG, INV, SQRT, SQUARE, LOG, DIVIDE = (
    ("op", name) for name in ("Exp", "Neg", "Inv", "Sqrt", "Square", "Log", "Divide")
)


def _everywhere(_: Values) -> bool:
    return True


@dataclass(frozen=True)
class Transform:
    """A target y -> T(y) and the tokens that, appended to a formula g of T(y), make it a formula of y.

    Defined on targets where `where` holds and every T(y) is finite.
    """

    name: str
    label: str
    forward: Callable[[Values], Values]
    back: Tokens
    where: Callable[[Values], bool] = _everywhere

    def defined_on(self, y: Values) -> bool:
        with np.errstate(all="ignore"):
            return y.size > 0 and self.where(y) and bool(np.all(np.isfinite(self.forward(y))))


# The real cube root is no engine operator; Exp(Divide(Log(g), 3)) is it where g > 0 only,
# and the square root gives back |y|, so each is offered only where the targets' sign makes it exact.
TRANSFORMS = (
    Transform("log", "log(y)", np.log, (EXP,)),
    Transform("log_neg", "log(-y)", lambda y: np.log(-y), (EXP, NEG)),
    Transform("inverse", "1/y", lambda y: 1.0 / y, (INV,)),
    Transform("square", "y^2", np.square, (SQRT,), lambda y: bool(np.all(y >= 0))),
    Transform("square", "y^2", np.square, (SQRT, NEG), lambda y: bool(np.all(y <= 0))),
    Transform("sqrt", "sqrt(y)", np.sqrt, (SQUARE,)),
    Transform("cube", "y^3", lambda y: y**3, (LOG, ("real", 3.0), DIVIDE, EXP), lambda y: bool(np.all(y > 0))),
    Transform("exp", "exp(y)", np.exp, (LOG,)),
)
TRANSFORM_NAMES = tuple(dict.fromkeys(transform.name for transform in TRANSFORMS))
PLAIN = Transform("plain", "y", lambda y: y, ())  # the search on y itself


def find_transformed(
    searcher: Searcher,
    X: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    transforms: Optional[Union[str, Iterable[str]]] = None,
    max_time: Optional[float] = None,
    client: Any = None,
    alpha: Optional[float] = None,
    l1_ratio: Optional[float] = None,
) -> List[SearchResult]:
    """The Pareto front of the search on y and of the searches on transformed targets.

    `transforms` names the transforms to try (None: all of TRANSFORM_NAMES);
    each runs where it is defined on y, that is where every transformed value
    is finite and undoing it is exact for y's sign: "log" (log y, y > 0; a
    formula g found becomes Exp(g)), "log_neg" (log(-y), y < 0; Neg(Exp(g))),
    "inverse" (1/y; Inv(g)), "square" (y^2, y >= 0 or y <= 0; Sqrt(g) or
    Neg(Sqrt(g))), "sqrt" (sqrt y, y >= 0; Square(g)), "cube" (y^3, y > 0;
    Exp(Divide(Log(g), 3))), "exp" (exp y; Log(g)). The search on T(y) runs
    with max_complexity lowered by the tokens that undo T, so every formula
    returned stays within the searcher's max_complexity; each undone formula
    is refitted on y as the search refits its answers.

    The result is one strict Pareto front, lowest error first: each formula's
    error is below that of every simpler one. The searches share one deadline
    `max_time` seconds away (None: no limit), the search on y first: each may
    take what the ones before it left, keeps the levels it completed when it
    stops, and one RuntimeWarning names every search that stopped early.
    Ctrl-C stops the running search and skips the rest. Each search prints
    its progress as a search does, on y first, then on each T(y) in the order
    above.

    With a Dask `distributed.Client` as `client`, the searches run side by
    side, one task each, and print on the workers; the refits and the merge
    run here. The deadline is then wall-clock time, so the clocks of the
    machines should agree.
    """
    check_budget(max_time)
    settings = settings_of(searcher, alpha, l1_ratio)
    values = _float_targets(y)
    targets = [PLAIN, *(t for t in _defined(_chosen(transforms), values) if len(t.back) < settings[0])]
    deadline = None if max_time is None else time.time() + max_time
    # y goes to its search as given, for the engine to read or refuse as it does in every search.
    jobs = [(_lowered(settings, len(t.back)), X, y if t is PLAIN else t.forward(values), deadline) for t in targets]
    outcomes = _outcomes_here(jobs) if client is None else _outcomes_on(client, jobs)

    found: List[SearchResult] = []
    stops: List[str] = []
    for target, job, outcome_of in zip(targets, jobs, outcomes):
        try:
            outcome = outcome_of()
        except KivComplexityError:
            if target is PLAIN:
                raise
            continue  # no formula of T(y) has a value on every row
        found.extend(_undone(state, target.back, settings, X, values) for state in outcome.states)
        if outcome.stopped_by is not None:
            note = stop_note(outcome.stopped_by, outcome.levels, max_time, job[0][0])
            stops.append(f"the search on {target.label} {note}")
        if outcome.stopped_by == "interrupt":
            break
    if stops:
        warnings.warn(f"{'; '.join(stops)}. The front holds what they found.", RuntimeWarning, stacklevel=2)
    return pareto_front(found)


def search_job(
    settings: Tuple[Any, ...], X: npt.ArrayLike, target: npt.ArrayLike, deadline: Optional[float]
) -> Outcome:
    """One search of the batch, with the time left before `deadline` (time.time() seconds)."""
    left = None if deadline is None else deadline - time.time()
    if left is not None and left <= 0:
        return Outcome([], 0, "time")
    return run(settings, X, target, left)


def pareto_front(results: Iterable[SearchResult]) -> List[SearchResult]:
    """The strict Pareto front of `results`, lowest error first; of equal
    complexity and error, the one listed first; non-finite errors dropped."""
    ordered = sorted((r for r in results if math.isfinite(r.error)), key=lambda r: (r.complexity, r.error))
    front: List[SearchResult] = []
    for result in ordered:
        if not front or result.error < front[-1].error:
            front.append(result)
    return front[::-1]


def _outcomes_here(jobs: Sequence[Job]) -> Iterator[Callable[[], Outcome]]:
    # Lazy, so that a search skipped after Ctrl-C never starts.
    return (functools.partial(search_job, *job) for job in jobs)


def _outcomes_on(client: Any, jobs: Sequence[Job]) -> List[Callable[[], Outcome]]:
    require("distributed", "find_transformed(client=...)", "Dask distributed", "dask")
    # Not pure: Dask would hash the data to name each task.
    return [client.submit(search_job, *job, pure=False).result for job in jobs]


def _chosen(transforms: Optional[Union[str, Iterable[str]]]) -> List[Transform]:
    if transforms is None:
        return list(TRANSFORMS)
    names = [transforms] if isinstance(transforms, str) else list(transforms)
    for name in names:
        if name not in TRANSFORM_NAMES:
            raise ValueError(f"unknown transform {name!r}; the transforms are {', '.join(TRANSFORM_NAMES)}")
    return [transform for transform in TRANSFORMS if transform.name in names]


def _defined(chosen: Sequence[Transform], y: Values) -> List[Transform]:
    """The first of each name defined on y."""
    defined: Dict[str, Transform] = {}
    for transform in chosen:
        if transform.name not in defined and transform.defined_on(y):
            defined[transform.name] = transform
    return list(defined.values())


def _float_targets(y: npt.ArrayLike) -> Values:
    """y as a 1-D float array; empty where NumPy cannot read it so, leaving it to the search on y."""
    try:
        values = np.asarray(y, dtype=np.float64)
    except (TypeError, ValueError):
        return np.empty(0)
    return values if values.ndim == 1 else np.empty(0)


def _lowered(settings: Tuple[Any, ...], tokens: int) -> Tuple[Any, ...]:
    return (settings[0] - tokens, *settings[1:])


def _undone(state: Any, back: Tokens, settings: Tuple[Any, ...], X: npt.ArrayLike, y: Values) -> SearchResult:
    """The formula of `state` with `back` applied, refitted on y; `state` as it is without `back`."""
    if not back:
        return SearchResult._from_state(state)
    version, error, tokens = state
    return SearchResult._from_state(_native.refit(settings, (version, error, (*tokens, *back)), X, y))
