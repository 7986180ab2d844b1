"""The one entry point through which the estimator searches."""

from __future__ import annotations

from typing import List, Optional

import numpy as np
import numpy.typing as npt

from kiv_sr import Searcher, SearchResult


def find_candidates(
    searcher: Searcher,
    X: npt.NDArray[np.float64],
    y: npt.NDArray[np.float64],
    *,
    max_time: Optional[float] = None,
) -> List[SearchResult]:
    """The Pareto front of `searcher`'s search of X against y, lowest error first."""
    if max_time is not None:
        raise NotImplementedError("time budgets arrive with the native search")
    return searcher.find_candidates(X, y)
