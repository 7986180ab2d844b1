"""Which formula of a Pareto front to answer with.

On noisy data the lowest-error formula is the one that also fits the noise:
the longest the search reached. A formula whose error drops steeply from the
next simpler one has found structure; one whose error barely moves has found
noise. So each formula's score is the drop of log error per added token, and
the "best" rule takes, among the formulas whose error is within a factor of
the lowest, the one of the highest score.
"""

from __future__ import annotations

import math
from typing import List, Sequence

from kiv_sr import SearchResult

RULES = ("accuracy", "best", "validation")
# Errors below this count as this, so that exact fits (errors near 1e-32, or 0) score finitely.
_ERROR_FLOOR = 1e-300


def scores(front: Sequence[SearchResult]) -> List[float]:
    """For each formula of `front` (in its order), the drop of the log of its error per token
    from the next simpler formula of the front; 0 for the simplest."""
    by_complexity = sorted(range(len(front)), key=lambda i: front[i].complexity)
    result = [0.0] * len(front)
    for simpler, i in zip(by_complexity, by_complexity[1:]):
        tokens = front[i].complexity - front[simpler].complexity
        result[i] = (_log_error(front[simpler]) - _log_error(front[i])) / tokens
    return result


def best_choice(front: Sequence[SearchResult], factor: float) -> int:
    """The position in `front` of the formula of the highest score among those whose error is
    at most `factor` times the lowest; of equal scores, the simpler."""
    lowest = min(result.error for result in front)
    score = scores(front)
    near = [i for i, result in enumerate(front) if result.error <= factor * lowest or result.error == lowest]
    return max(near, key=lambda i: (score[i], -front[i].complexity))


def check_rule(rule: str, factor: float, share: float) -> None:
    """ValueError naming what is wrong with the estimator's selection settings."""
    if rule not in RULES:
        raise ValueError(f"model_selection must be one of {', '.join(map(repr, RULES))}; got {rule!r}")
    if not (isinstance(factor, (int, float)) and factor >= 1):
        raise ValueError(f"selection_factor must be a number of at least 1; got {factor!r}")
    if not (isinstance(share, (int, float)) and 0 < share < 1):
        raise ValueError(f"validation_share must be a number between 0 and 1; got {share!r}")


def _log_error(result: SearchResult) -> float:
    return math.log(max(result.error, _ERROR_FLOOR))
