#!/usr/bin/env python3
"""Recovery and accuracy on noisy data, per rule of model selection.

The laws of `recovery.py`, sampled as there (50 rows, seeded by the name),
with Gaussian noise of sd `noise` x std(y) added to the targets (the noise
seeded too). Per law and noise level, `KivRegressor` fits the noisy rows
with each rule of `model_selection`: "accuracy" and "best" choose from the
front of one search; "validation" runs its own search on the rows it keeps.
Alongside, two reference models of scikit-learn that predict without a
formula, fitted on the same noisy rows: a Gaussian process (a scaled RBF
kernel with a length per input, plus white noise, its hyperparameters fitted
by maximum likelihood) and a ridge regression on the monomials of degree up
to three (its penalty chosen by cross-validation). For each:

  recovered  the chosen formula, its constants refitted on the noise-free
             targets and snapped, is the law (recovery.py's judge): the
             rule chose the law's form;
  R^2        of the chosen formula, as fitted, on 200 fresh points from the
             sampling ranges widened by a quarter of their width on each
             side (only upwards where a range starts at 0 or above, whose
             laws may need non-negative inputs) where the law has a real
             value, against the noise-free law; a formula without a value
             at some point scores -inf.

The estimator searches sums of terms too, as it does by default; --no-sums
fits without them. --many-inputs runs the laws of four to six inputs of
`many_inputs.py` instead, where short exact formulas are rare.

    python benchmarks/noise.py [--noise 0 0.001 0.01 0.1] [--max-complexity 10] [--only Nguyen-1 ...]
                               [--no-sums] [--many-inputs]

Needs kiv_sr with its companion package, scikit-learn, SymPy and pint
(`pip install '.[all]'`). Progress on standard error, tables on standard output.
"""

from __future__ import annotations

import argparse
import sys
import time
import warnings
import zlib
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Optional, Sequence

import numpy as np
from sklearn.gaussian_process import GaussianProcessRegressor
from sklearn.gaussian_process.kernels import RBF, ConstantKernel, WhiteKernel
from sklearn.linear_model import RidgeCV
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import PolynomialFeatures, StandardScaler

from kiv_sr import Searcher, SearchResult
from kiv_sr_tools import KivRegressor, _native
from kiv_sr_tools.model_selection import best_choice

import many_inputs
import recovery
from recovery import NUMPY, Data, Problem, data_for, judge, machine_line

RULES = ("accuracy", "best", "validation")
NOISE = (0.0, 0.001, 0.01, 0.1)
TEST_ROWS = 200
WIDENING = 0.25


@dataclass(frozen=True)
class Choice:
    recovered: Optional[bool]  # None for the reference models, which write no formula
    r2: float


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


def r2(predicted: np.ndarray, truth: np.ndarray) -> float:
    if not np.all(np.isfinite(predicted)):
        return float("-inf")
    return float(1.0 - np.sum((predicted - truth) ** 2) / np.sum((truth - truth.mean()) ** 2))


def choice(result: SearchResult, searcher: Searcher, data: Data, test: np.ndarray, truth: np.ndarray) -> Choice:
    """The chosen formula judged: its form recovered (constants refitted on the clean targets) and its R^2."""
    clean = _native.refit(searcher, result, data.X, data.y)
    with np.errstate(all="ignore"):
        predicted = np.asarray(result.eval_batch(test), dtype=float)
    return Choice(judge([clean], data).recovered, r2(predicted, truth))


def gaussian_process(inputs: int) -> Any:
    kernel = ConstantKernel() * RBF(np.ones(inputs)) + WhiteKernel()
    return make_pipeline(
        StandardScaler(), GaussianProcessRegressor(kernel, normalize_y=True, n_restarts_optimizer=4, random_state=0)
    )


def cubic_ridge(inputs: int) -> Any:
    return make_pipeline(StandardScaler(), PolynomialFeatures(3), RidgeCV(alphas=np.logspace(-8, 2, 21)))


REFERENCES: Dict[str, Callable[[int], Any]] = {"gaussian process": gaussian_process, "cubic ridge": cubic_ridge}


def reference(name: str, data: Data, y: np.ndarray, test: np.ndarray, truth: np.ndarray) -> Choice:
    with warnings.catch_warnings():
        # Hyperparameters at their bounds are the fit's business, not this table's.
        warnings.simplefilter("ignore")
        model = REFERENCES[name](data.X.shape[1]).fit(data.X, y)
    return Choice(None, r2(model.predict(test), truth))


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
    judged = {rule: choice(result, searcher, data, test, truth) for rule, result in chosen.items()}
    return {**judged, **{name: reference(name, data, y, test, truth) for name in REFERENCES}}


def report(results: Dict[float, Dict[str, List[Choice]]], count: int) -> None:
    print("\n| noise | rule | recovered | median R² | R² ≥ 0.999 |")
    print("|---:|---|---:|---:|---:|")
    for level, by_rule in results.items():
        for rule, choices in by_rule.items():
            recovered = "—" if choices[0].recovered is None else f"{sum(bool(c.recovered) for c in choices)} of {count}"
            scores = [c.r2 for c in choices]
            print(
                f"| {level:g} | {rule} | {recovered} | {np.median(scores):.4f} | "
                f"{sum(s >= 0.999 for s in scores)} of {count} |"
            )


def summary(chosen: Dict[str, Choice]) -> str:
    return ", ".join(
        f"{rule} {'' if c.recovered is None else ('yes ' if c.recovered else 'no ')}{c.r2:.3f}"
        for rule, c in chosen.items()
    )


def main(argv: Optional[Sequence[str]] = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--noise", type=float, nargs="+", default=list(NOISE))
    parser.add_argument("--max-complexity", type=int, default=10, help="default: the estimator's, %(default)s")
    parser.add_argument("--beam-width", type=int, default=1000, help="default: the estimator's, %(default)s")
    parser.add_argument("--max-time", type=float, default=60.0, help="seconds per search (default: %(default)g)")
    parser.add_argument("--only", nargs="+", metavar="NAME", help="these laws only")
    parser.add_argument("--no-sums", action="store_true", help="fit with KivRegressor(sums_of_terms=False)")
    parser.add_argument("--many-inputs", action="store_true", help="the laws of many_inputs.py")
    options = parser.parse_args(argv)
    known = many_inputs.LAWS_BY_NAME if options.many_inputs else recovery.PROBLEMS
    recovery.refuse_unknown(parser, options.only, known)
    laws = [known[name] for name in options.only or known]
    print(
        f"Noisy recovery: {len(laws)} laws, noise {options.noise}, max_complexity {options.max_complexity}, "
        f"beam_width {options.beam_width}, {options.max_time:g} s per search"
        f"{', no sums of terms' if options.no_sums else ''}.\n{machine_line()}"
    )
    results: Dict[float, Dict[str, List[Choice]]] = {
        level: {rule: [] for rule in (*RULES, *REFERENCES)} for level in options.noise
    }
    for p in laws:
        for level in options.noise:
            start = time.perf_counter()
            chosen = run_law(
                p, level, options.max_complexity, options.beam_width, options.max_time, not options.no_sums
            )
            for rule, c in chosen.items():
                results[level][rule].append(c)
            print(f"  {p.name} noise {level:g}: {summary(chosen)} ({time.perf_counter() - start:.1f} s)",
                  file=sys.stderr, flush=True)
    report(results, len(laws))


if __name__ == "__main__":
    main()
