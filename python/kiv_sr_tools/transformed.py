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
from .search import Outcome, check_budget, run, stop_note

Values = npt.NDArray[np.float64]
Tokens = Tuple[Tuple[Any, ...], ...]
# The arguments of search_job: the searcher, X, the target, the deadline, alpha, l1_ratio, verbose, operators.
Job = Tuple[
    Searcher,
    npt.ArrayLike,
    npt.ArrayLike,
    Optional[float],
    Optional[float],
    Optional[float],
    bool,
    Optional[Sequence[str]],
]

EXP, NEG, INV, SQRT, SQUARE, LOG, TIMES, DIVIDE = (
    ("op", name) for name in ("Exp", "Neg", "Inv", "Sqrt", "Square", "Log", "Times", "Divide")
)


def _everywhere(_: Values) -> bool:
    return True


@dataclass(frozen=True)
class Transform:
    """A target y -> T(y) and the tokens that, put around a formula g of T(y) (`front` before
    its tokens, `back` after them), make it a formula of y.

    Defined on targets where `where` holds and every T(y) is finite.
    """

    name: str
    label: str
    forward: Callable[[Values], Values]
    back: Tokens
    where: Callable[[Values], bool] = _everywhere
    front: Tokens = ()

    def undo(self, tokens: Tokens) -> Tokens:
        """The postfix tokens of the formula of y that the formula `tokens` of T(y) stands for."""
        return (*self.front, *tokens, *self.back)

    def undoes(self, tokens: Tokens) -> bool:
        """Whether `tokens`, a formula of y, has the form that undoing T gives."""
        inner = tuple(tokens[len(self.front) : len(tokens) - len(self.back)])
        return bool(inner) and self.undo(inner) == tuple(tokens)

    def undone_with(self, operators: Optional[Sequence[str]]) -> bool:
        """Whether undoing T takes only operators named in `operators` (None: every operator)."""
        applied = [token[1] for token in (*self.front, *self.back) if token[0] == "op"]
        return operators is None or all(name in operators for name in applied)

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
# Laws that are a product or quotient with one input, y = x_i g, y = g / x_i or
# y = x_i / g, are searched as g = y / x_i, g = y x_i or g = x_i / y: two tokens
# shorter, and g fits its target where the other factor alone fits y badly.
# One search each per input column.
INPUT_SCALINGS = ("over_input", "times_input", "input_over")
TRANSFORM_NAMES = (*dict.fromkeys(transform.name for transform in TRANSFORMS), *INPUT_SCALINGS)
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
    verbose: bool = True,
    operators: Optional[Sequence[str]] = None,
) -> List[SearchResult]:
    """The Pareto front of the search on y and of the searches on transformed targets.

    `transforms` names the transforms to try (None: all of TRANSFORM_NAMES);
    each runs where it is defined on y, that is where every transformed value
    is finite and undoing it is exact for y's sign: "log" (log y, y > 0; a
    formula g found becomes Exp(g)), "log_neg" (log(-y), y < 0; Neg(Exp(g))),
    "inverse" (1/y; Inv(g)), "square" (y^2, y >= 0 or y <= 0; Sqrt(g) or
    Neg(Sqrt(g))), "sqrt" (sqrt y, y >= 0; Square(g)), "cube" (y^3, y > 0;
    Exp(Divide(Log(g), 3))), "exp" (exp y; Log(g)), and for each input
    column x_i without zeros "over_input" (y / x_i; Times(g, x_i)) and
    "times_input" (y x_i; Divide(g, x_i)), and where y has no zeros
    "input_over" (x_i / y; Divide(x_i, g)). Every search runs at the
    searcher's max_complexity, so a formula undone from T(y) may exceed it
    by the tokens that undo T (one to four); each undone formula is refitted
    on y as the search refits its answers. When the search on y ends early on
    an exact fit, as a search does, no transformed target is searched.

    `operators` names the operators every search builds formulas with, as for
    `find_candidates` (None: all of them); a transform then runs only where
    the operators that undo it are among them, so that every formula of the
    front is written with the named operators alone.

    The result is one strict Pareto front, lowest error first: each formula's
    error is below that of every simpler one. The searches share one deadline
    `max_time` seconds away (None: no limit), the search on y first: each may
    take what the ones before it left, keeps the levels it completed when it
    stops, and one RuntimeWarning names every search that stopped early.
    Ctrl-C stops the running search and skips the rest. Each search prints
    its progress as a search does (none with `verbose=False`), on y first,
    then on each T(y) in the order above, the input scalings column by column.

    With a Dask `distributed.Client` as `client`, the searches run side by
    side, one task each, and print on the workers; the refits and the merge
    run here. The deadline is then wall-clock time, so the clocks of the
    machines should agree.
    """
    check_budget(max_time)
    values = float_array(y, 1)
    chosen = [t for t in _chosen(transforms, X, values) if t.undone_with(operators)]
    targets = [PLAIN, *_defined(chosen, values)]
    deadline = None if max_time is None else time.time() + max_time
    # y goes to its search as given, for the engine to read or refuse as it does in every search.
    jobs = [
        (searcher, X, y if t is PLAIN else t.forward(values), deadline, alpha, l1_ratio, verbose, operators)
        for t in targets
    ]
    futures = [] if client is None else _submitted(client, jobs)
    outcomes = _outcomes_here(jobs) if client is None else [future.result for future in futures]

    max_complexity = searcher.max_complexity
    found: List[SearchResult] = []
    stops: List[str] = []
    for target, outcome_of in zip(targets, outcomes):
        try:
            outcome = outcome_of()
        except KivComplexityError:
            if target is PLAIN:
                raise
            continue  # no formula of T(y) has a value on every row
        found.extend(_undone(result, target, searcher, X, values, alpha, l1_ratio) for result in outcome.front)
        if outcome.stopped_by is not None:
            note = stop_note(outcome.stopped_by, outcome.levels, max_time, max_complexity)
            stops.append(f"the search on {target.label} {note}")
        # Only a formula that fits y exactly ends its search early, and then no transform is needed.
        if outcome.stopped_by == "interrupt" or (target is PLAIN and outcome.end == "exact_fit"):
            break
    for future in futures:
        future.cancel()  # those skipped
    if stops:
        warnings.warn(f"{'; '.join(stops)}. The front holds what they found.", RuntimeWarning, stacklevel=2)
    return pareto_front(found)


def search_job(
    searcher: Searcher,
    X: npt.ArrayLike,
    target: npt.ArrayLike,
    deadline: Optional[float],
    alpha: Optional[float],
    l1_ratio: Optional[float],
    verbose: bool,
    operators: Optional[Sequence[str]],
) -> Outcome:
    """One search of the batch, with the time left before `deadline` (time.time() seconds)."""
    left = None if deadline is None else deadline - time.time()
    if left is not None and left <= 0:
        return Outcome([], 0, "time")
    return run(searcher, X, target, left, alpha, l1_ratio, verbose, operators)


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


def _submitted(client: Any, jobs: Sequence[Job]) -> List[Any]:
    require("distributed", "find_transformed(client=...)", "Dask distributed", "dask")
    # Not pure: Dask would hash the data to name each task.
    return [client.submit(search_job, *job, pure=False) for job in jobs]


def _chosen(transforms: Optional[Union[str, Iterable[str]]], X: npt.ArrayLike, y: Values) -> List[Transform]:
    names = TRANSFORM_NAMES if transforms is None else [transforms] if isinstance(transforms, str) else list(transforms)
    for name in names:
        if name not in TRANSFORM_NAMES:
            raise ValueError(f"unknown transform {name!r}; the transforms are {', '.join(TRANSFORM_NAMES)}")
    return [transform for transform in (*TRANSFORMS, *input_scalings(X, y)) if transform.name in names]


def input_scalings(X: npt.ArrayLike, y: Values) -> Iterator[Transform]:
    """y / x_i, y x_i and x_i / y for each input column i without zeros (where the product undoes
    them exactly); none when X has not one row per target, which the search on y then refuses."""
    for column, values in enumerate(float_array(X, 2).T):
        if values.shape == y.shape and np.all(np.isfinite(values)) and np.all(values != 0):
            variable = ("var", column)
            yield Transform("over_input", f"y/x{column}", _divided_by(values), (variable, TIMES))
            yield Transform("times_input", f"y*x{column}", _multiplied_by(values), (variable, DIVIDE))
            yield Transform("input_over", f"x{column}/y", _dividing(values), (DIVIDE,), front=(variable,))


def _divided_by(x: Values) -> Callable[[Values], Values]:
    return lambda y: y / x


def _multiplied_by(x: Values) -> Callable[[Values], Values]:
    return lambda y: y * x


def _dividing(x: Values) -> Callable[[Values], Values]:
    return lambda y: x / y


def _defined(chosen: Sequence[Transform], y: Values) -> List[Transform]:
    """Of the transforms of each label, the first defined on y."""
    defined: Dict[str, Transform] = {}
    for transform in chosen:
        if transform.label not in defined and transform.defined_on(y):
            defined[transform.label] = transform
    return list(defined.values())


def float_array(values: npt.ArrayLike, ndim: int) -> Values:
    """`values` as a float array of `ndim` dimensions; empty where NumPy cannot read it so,
    leaving the data to the search on y, which refuses it as every search does."""
    try:
        array = np.asarray(values, dtype=np.float64)
    except (TypeError, ValueError):
        return np.empty((0,) * ndim)
    return array if array.ndim == ndim else np.empty((0,) * ndim)


def _undone(
    result: SearchResult,
    target: Transform,
    searcher: Searcher,
    X: npt.ArrayLike,
    y: Values,
    alpha: Optional[float],
    l1_ratio: Optional[float],
) -> SearchResult:
    """The formula of `result` with `target` undone, refitted on y; `result` itself for y."""
    if target is PLAIN:
        return result
    return _native.refit(searcher, target.undo(_native.tokens(result)), X, y, alpha, l1_ratio)
