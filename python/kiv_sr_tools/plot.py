"""The Pareto front drawn as error against complexity."""

from __future__ import annotations

from typing import Any, Optional, Sequence

from kiv_sr import SearchResult

from ._names import with_names
from ._optional import require


def plot_front(front: Sequence[SearchResult], ax: Any = None, names: Optional[Sequence[str]] = None) -> Any:
    """Plots each result's error against its complexity on a log-scale error axis, labelled
    with its formula (variables named by `names`), on `ax` or new axes; returns the Axes.

    An exact fit's error of 0 has no place on a log axis, so it is drawn a
    decade below the smallest positive error (at 0.1 if there is none).
    """
    pyplot = require("matplotlib.pyplot", "plot_front", "Matplotlib", "plot")
    if ax is None:
        _, ax = pyplot.subplots()
    floor = 0.1 * min((result.error for result in front if result.error > 0.0), default=1.0)
    complexities = [result.complexity for result in front]
    errors = [max(result.error, floor) for result in front]
    ax.plot(complexities, errors, marker="o")
    for result, complexity, error in zip(front, complexities, errors):
        label = with_names(result.formula, names)
        ax.annotate(label, (complexity, error), textcoords="offset points", xytext=(4, 4), fontsize="small")
    ax.set_yscale("log")
    ax.set_xlabel("complexity (tokens)")
    ax.set_ylabel("error")
    return ax
