"""KivRegressor: the search as a scikit-learn estimator."""

from __future__ import annotations

from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt
from sklearn.base import BaseEstimator, RegressorMixin
from sklearn.utils.validation import check_is_fitted, validate_data

from kiv_sr import Searcher, SearchResult

from . import _native
from ._names import variable_names, with_names
from .model_selection import best_choice, check_rule, scores
from .search import find_candidates
from .sympy_expression import to_sympy
from .sum_of_terms import find_sum_of_terms
from .transformed import find_transformed, pareto_front
from .unit_search import find_with_units
from .units import Unit


class KivRegressor(RegressorMixin, BaseEstimator):  # type: ignore[misc]
    """Finds a closed-form formula y = f(X) and predicts with it.

    Parameters are the `kiv_sr.Searcher` settings, plus `max_time` (seconds
    the search may take; None for no limit), `verbose` (False silences
    the search's progress lines), `transforms` (True, or a list of
    transform names: search transformed targets too, through
    `find_transformed`) and `operators` (the names of the operators formulas
    are built with, as for `find_candidates`; None for all eighteen; checked
    by `fit`) and `sums_of_terms` (True, the default: the sums and products
    of short formulas that `find_sum_of_terms` finds join the front, where
    `operators` hold Plus and Times; with units, those of the dimensionless
    groups). `fit(X, y, X_units, y_units)` searches with units, as
    `find_with_units` does.

    `model_selection` says which formula of the front answers: "best" (of
    the formulas whose error is at most `selection_factor` times the
    lowest, the one whose log error drops most per token from the next
    simpler formula: the law rather than its fit of the noise), "accuracy"
    (the lowest error) or "validation" (the search runs on all rows but a
    share `validation_share` held out, chosen with `random_state`; the
    formula of the lowest error on the rows held out answers, and every
    formula is refitted on all rows).

    Fitted attributes: `best_`, the chosen `SearchResult`, which `predict`
    uses; `chosen_`, its position in `front_`, the Pareto front, lowest
    error first; `equations_`, the front as a table, one row per formula:
    complexity, error, formula (written with the feature names), sympy (its
    SymPy expression, None without SymPy), score (the drop of log error per
    token from the next simpler formula) and chosen (True for `best_`), a
    pandas DataFrame when pandas is installed, else a list of dicts;
    `n_features_in_`; `feature_names_in_` when X has string column names.
    """

    def __init__(
        self,
        max_complexity: int = 10,
        complexity_penalty: float = 0.1,
        beam_width: int = 1000,
        alpha: float = 0.0,
        l1_ratio: float = 0.5,
        max_time: Optional[float] = None,
        verbose: bool = True,
        transforms: Union[bool, Sequence[str]] = False,
        client: Any = None,
        operators: Optional[Sequence[str]] = None,
        sums_of_terms: bool = True,
        model_selection: str = "best",
        selection_factor: float = 1.5,
        validation_share: float = 0.25,
        random_state: int = 0,
    ) -> None:
        self.max_complexity = max_complexity
        self.complexity_penalty = complexity_penalty
        self.beam_width = beam_width
        self.alpha = alpha
        self.l1_ratio = l1_ratio
        self.max_time = max_time
        self.verbose = verbose
        self.transforms = transforms
        self.client = client
        self.operators = operators
        self.sums_of_terms = sums_of_terms
        self.model_selection = model_selection
        self.selection_factor = selection_factor
        self.validation_share = validation_share
        self.random_state = random_state

    def fit(
        self,
        X: npt.ArrayLike,
        y: npt.ArrayLike,
        X_units: Optional[Sequence[Unit]] = None,
        y_units: Optional[Unit] = None,
    ) -> KivRegressor:
        """Searches the formula. With `X_units` (one unit per column) and `y_units`, the
        search respects units, as `find_with_units` does; give both or neither."""
        rows, targets = validate_data(self, X, y, y_numeric=True, dtype=np.float64)
        check_rule(self.model_selection, self.selection_factor, self.validation_share)
        if (X_units is None) != (y_units is None):
            raise ValueError("give the units of both X and y (X_units and y_units), or of neither")
        searcher = Searcher(self.max_complexity, self.complexity_penalty, self.beam_width, self.alpha, self.l1_ratio)

        def search(rows: npt.NDArray[np.float64], targets: npt.NDArray[np.float64]) -> List[SearchResult]:
            if X_units is None or y_units is None:
                return self._search(searcher, rows, targets)
            return self._search_with_units(searcher, rows, targets, X_units, y_units)

        if self.model_selection == "validation":
            self.front_, self.chosen_ = self._validated(search, searcher, rows, targets)
        else:
            self.front_ = search(rows, targets)
            best = self.model_selection == "best"
            self.chosen_ = best_choice(self.front_, self.selection_factor) if best else 0
        self.best_: SearchResult = self.front_[self.chosen_]
        self.equations_ = self._equations()
        return self

    def _validated(
        self,
        search: Callable[[npt.NDArray[np.float64], npt.NDArray[np.float64]], List[SearchResult]],
        searcher: Searcher,
        rows: npt.NDArray[np.float64],
        targets: npt.NDArray[np.float64],
    ) -> Tuple[List[SearchResult], int]:
        """The front of a search on all rows but a seeded share held out, each formula refitted
        on all rows, and the position of the one of the lowest error on the rows held out."""
        order = np.random.default_rng(self.random_state).permutation(len(targets))
        held, kept = np.split(order, [max(1, round(self.validation_share * len(targets)))])
        front = search(rows[kept], targets[kept])
        with np.errstate(invalid="ignore", over="ignore"):
            errors = [np.mean((np.asarray(r.eval_batch(rows[held])) - targets[held]) ** 2) for r in front]
        chosen = int(np.argmin(np.where(np.isnan(errors), np.inf, errors)))
        return [_native.refit(searcher, result, rows, targets) for result in front], chosen

    def _search(
        self, searcher: Searcher, rows: npt.NDArray[np.float64], targets: npt.NDArray[np.float64]
    ) -> List[SearchResult]:
        front = self._search_formulas(searcher, rows, targets)
        if not self._sums_searched():
            return front
        return pareto_front([*front, *find_sum_of_terms(searcher, rows, targets, operators=self.operators)])

    def _search_formulas(
        self, searcher: Searcher, rows: npt.NDArray[np.float64], targets: npt.NDArray[np.float64]
    ) -> List[SearchResult]:
        if self.client is not None:
            return self._search_on_cluster(searcher, rows, targets)
        if self.transforms is False:
            return find_candidates(
                searcher, rows, targets, max_time=self.max_time, verbose=self.verbose, operators=self.operators
            )
        chosen = None if self.transforms is True else self.transforms
        return find_transformed(
            searcher,
            rows,
            targets,
            transforms=chosen,
            max_time=self.max_time,
            verbose=self.verbose,
            operators=self.operators,
        )

    def _search_with_units(
        self,
        searcher: Searcher,
        rows: npt.NDArray[np.float64],
        targets: npt.NDArray[np.float64],
        X_units: Sequence[Unit],
        y_units: Unit,
    ) -> List[SearchResult]:
        if self.client is not None:
            raise ValueError("units are searched on this machine only; use client=None with units")
        return find_with_units(
            searcher,
            rows,
            targets,
            X_units,
            y_units,
            transforms=self.transforms,
            max_time=self.max_time,
            verbose=self.verbose,
            operators=self.operators,
            sums_of_terms=self._sums_searched(),
        )

    def _sums_searched(self) -> bool:
        """Whether sums of terms join the front: asked for, and written with the chosen operators."""
        writable = self.operators is None or {"Plus", "Times"} <= set(self.operators)
        return bool(self.sums_of_terms) and writable

    def _search_on_cluster(
        self, searcher: Searcher, rows: npt.NDArray[np.float64], targets: npt.NDArray[np.float64]
    ) -> List[SearchResult]:
        if self.transforms is not False:
            raise ValueError("transforms are searched on this machine only; use client=None with transforms")
        from . import dask

        def search_on(client: Any) -> List[SearchResult]:
            return dask.find_candidates(
                client, searcher, rows, targets, max_time=self.max_time, verbose=self.verbose, operators=self.operators
            )

        if not isinstance(self.client, str):
            return search_on(self.client)
        with dask.distributed.Client(self.client, set_as_default=False) as client:
            return search_on(client)

    def predict(self, X: npt.ArrayLike) -> npt.NDArray[np.float64]:
        """The chosen formula's value on each row of X; NaN where it has none."""
        check_is_fitted(self)
        rows = validate_data(self, X, reset=False, dtype=np.float64)
        return np.asarray(self.best_.eval_batch(rows), dtype=np.float64)

    def _equations(self) -> Union[Any, List[Dict[str, Any]]]:
        """The fitted front as the table `equations_`."""
        names = list(getattr(self, "feature_names_in_", variable_names(self.n_features_in_)))
        rows = [
            {
                "complexity": result.complexity,
                "error": result.error,
                "formula": with_names(result.formula, names),
                "sympy": _sympy_or_none(result, names),
                "score": score,
                "chosen": position == self.chosen_,
            }
            for position, (result, score) in enumerate(zip(self.front_, scores(self.front_)))
        ]
        try:
            import pandas
        except ImportError:
            return rows
        return pandas.DataFrame(rows)


def _sympy_or_none(result: SearchResult, names: List[str]) -> Any:
    try:
        return to_sympy(result, names)
    except ImportError:
        return None
