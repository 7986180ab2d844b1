#!/usr/bin/env python3
"""Recovery and accuracy on noisy data, per rule of model selection.

The laws of `recovery.py`, sampled as there (50 rows, seeded by the name),
with Gaussian noise of sd `noise` x std(y) added to the targets (the noise
seeded too). Per law and noise level, `KivRegressor` fits the noisy rows
with each rule of `model_selection`: "accuracy" and "best" choose from the
front of one search; "validation" runs its own search on the rows it keeps.
For each rule:

  recovered  the chosen formula, its constants refitted on the noise-free
             targets and snapped, is the law (recovery.py's judge): the
             rule chose the law's form;
  R^2        of the chosen formula, as fitted, on 200 fresh points from the
             sampling ranges widened by a quarter of their width on each
             side (only upwards where a range starts at 0 or above, whose
             laws may need non-negative inputs) where the law has a real
             value, against the noise-free law; a formula without a value
             at some point scores -inf.

    python benchmarks/noise.py [--noise 0 0.001 0.01 0.1] [--max-complexity 10] [--only Nguyen-1 ...] [--sums]

Needs kiv_sr with its companion package, scikit-learn and SymPy
(`pip install '.[all]'`). Progress on standard error, tables on standard output.
"""

from __future__ import annotations

import argparse
import sys
import time
import zlib
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Sequence

import numpy as np

from kiv_sr import Searcher, SearchResult
from kiv_sr_tools import KivRegressor, _native
from kiv_sr_tools.model_selection import best_choice

import recovery
from recovery import NUMPY, Data, Problem, data_for, judge, machine_line

RULES = ("accuracy", "best", "validation")
NOISE = (0.0, 0.001, 0.01, 0.1)
TEST_ROWS = 200
WIDENING = 0.25


@dataclass(frozen=True)
class Choice:
    recovered: bool
    r2: float
    formula: str


def noisy(data: Data, p: Problem, level: float) -> np.ndarray:
    rng = np.random.default_rng([zlib.crc32(p.name.encode()), 2, int(level * 1e6)])
    return data.y + rng.normal(0.0, level * float(np.std(data.y)), data.y.shape)


def test_points(p: Problem) -> np.ndarray:
    rng = np.random.default_rng([zlib.crc32(p.name.encode()), 3])
    columns = []
    for low, high in p.ranges:
        margin = WIDENING * (high - low)
        columns.append(rng.uniform(low if low >= 0 else low - margin, high + margin, TEST_ROWS))
    return np.column_stack(columns)


def r2(result: SearchResult, X: np.ndarray, truth: np.ndarray) -> float:
    with np.errstate(all="ignore"):
        predicted = np.asarray(result.eval_batch(X), dtype=float)
    if not np.all(np.isfinite(predicted)):
        return float("-inf")
    return float(1.0 - np.sum((predicted - truth) ** 2) / np.sum((truth - truth.mean()) ** 2))


def choice(result: SearchResult, searcher: Searcher, data: Data, test: np.ndarray, truth: np.ndarray) -> Choice:
    """The chosen formula judged: its form recovered (constants refitted on the clean targets) and its R^2."""
    clean = _native.refit(searcher, result, data.X, data.y)
    verdict = judge([clean], data)
    return Choice(verdict.recovered, r2(result, test, truth), result.formula)


def run_law(
    p: Problem, level: float, max_complexity: int, beam_width: int, max_time: float, sums: bool
) -> Dict[str, Choice]:
    data = data_for(p)
    y = noisy(data, p, level)
    test = test_points(p)
    with np.errstate(all="ignore"):
        truth = p.law(NUMPY, test.T)
    # Where the law itself has no real value (arcsin beyond 1, say), there is nothing to predict.
    test, truth = test[np.isfinite(truth)], truth[np.isfinite(truth)]
    searcher = Searcher(max_complexity=max_complexity, beam_width=beam_width)
    settings: Dict[str, Any] = dict(
        max_complexity=max_complexity, beam_width=beam_width, max_time=max_time, verbose=False, sums_of_terms=sums
    )
    shared = KivRegressor(model_selection="accuracy", **settings).fit(data.X, y)
    validated = KivRegressor(model_selection="validation", **settings).fit(data.X, y)
    # One search serves both rules that choose from the front of all rows.
    best = shared.front_[best_choice(shared.front_, shared.selection_factor)]
    chosen = {"accuracy": shared.best_, "best": best, "validation": validated.best_}
    return {rule: choice(result, searcher, data, test, truth) for rule, result in chosen.items()}


def report(results: Dict[float, Dict[str, List[Choice]]], count: int) -> None:
    print("\n| noise | rule | recovered | median R² | R² ≥ 0.999 |")
    print("|---:|---|---:|---:|---:|")
    for level, by_rule in results.items():
        for rule in RULES:
            choices = by_rule[rule]
            recovered = sum(c.recovered for c in choices)
            scores = [c.r2 for c in choices]
            print(
                f"| {level:g} | {rule} | {recovered} of {count} | {np.median(scores):.4f} | "
                f"{sum(s >= 0.999 for s in scores)} of {count} |"
            )


def main(argv: Optional[Sequence[str]] = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--noise", type=float, nargs="+", default=list(NOISE))
    parser.add_argument("--max-complexity", type=int, default=10, help="default: the estimator's, %(default)s")
    parser.add_argument("--beam-width", type=int, default=1000, help="default: the estimator's, %(default)s")
    parser.add_argument("--max-time", type=float, default=60.0, help="seconds per search (default: %(default)g)")
    parser.add_argument("--only", nargs="+", metavar="NAME", help="these laws only")
    parser.add_argument("--sums", action="store_true", help="fit with KivRegressor(sums_of_terms=True)")
    options = parser.parse_args(argv)
    laws = [recovery.PROBLEMS[name] for name in options.only or recovery.PROBLEMS]
    print(
        f"Noisy recovery: {len(laws)} laws, noise {options.noise}, max_complexity {options.max_complexity}, "
        f"beam_width {options.beam_width}, {options.max_time:g} s per search"
        f"{', sums of terms' if options.sums else ''}.\n{machine_line()}"
    )
    results: Dict[float, Dict[str, List[Choice]]] = {level: {rule: [] for rule in RULES} for level in options.noise}
    for p in laws:
        for level in options.noise:
            start = time.perf_counter()
            chosen = run_law(p, level, options.max_complexity, options.beam_width, options.max_time, options.sums)
            for rule, c in chosen.items():
                results[level][rule].append(c)
            summary = ", ".join(f"{rule} {'yes' if c.recovered else 'no'} {c.r2:.3f}" for rule, c in chosen.items())
            print(f"  {p.name} noise {level:g}: {summary} ({time.perf_counter() - start:.1f} s)", file=sys.stderr,
                  flush=True)
    report(results, len(laws))


if __name__ == "__main__":
    main()
