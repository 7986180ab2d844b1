"""What searching transformed targets costs: seconds of kiv_sr_tools.find_transformed
against the plain search (kiv_sr_tools.find_candidates) at the same settings, best of
--repeat runs each, on three problems. Run by hand: python benchmarks/transformed_cost.py
"""

import argparse
import contextlib
import time

import numpy as np

import kiv_sr
from kiv_sr_tools import find_candidates, find_transformed


def problems():
    """name, X, y, max_complexity, beam_width."""
    rng = np.random.default_rng(0)
    X = rng.uniform(0.5, 3.0, size=(40, 2))
    yield "x0^x1, 40 rows", X, X[:, 0] ** X[:, 1], 5, 50
    x = np.linspace(-3.0, 3.0, 40).reshape(-1, 1)
    yield "exp(-x^2/2)/sqrt(2 pi), 40 rows", x, np.exp(-x[:, 0] ** 2 / 2) / np.sqrt(2 * np.pi), 7, 50
    # The problem of bfs_benchmark: no exact formula, so every level of every search runs.
    x = rng.uniform(-3.0, 3.0, size=(100, 1))
    y = x[:, 0] ** 3 - 0.5 * x[:, 0] + 0.3 * np.sin(3 * x[:, 0]) + rng.normal(0.0, 0.05, 100)
    yield "x^3 - 0.5x + 0.3 sin 3x + noise, 100 rows", x, y, 7, 1000


def best_of(repeat, search, *args):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        with contextlib.redirect_stdout(None):
            front = search(*args)
        times.append(time.perf_counter() - start)
    return min(times), front[0]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--repeat", type=int, default=3)
    repeat = parser.parse_args().repeat
    print("| problem | max_complexity | beam | plain s | transformed s | factor | plain best | transformed best |")
    print("|---|---:|---:|---:|---:|---:|---|---|")
    for name, X, y, max_complexity, beam in problems():
        searcher = kiv_sr.Searcher(max_complexity, 0.1, beam)
        plain, plain_best = best_of(repeat, find_candidates, searcher, X, y)
        both, best = best_of(repeat, find_transformed, searcher, X, y)
        print(
            f"| {name} | {max_complexity} | {beam} | {plain:.2f} | {both:.2f} | {both / plain:.1f} "
            f"| `{plain_best.formula}` {plain_best.error:.2e} | `{best.formula}` {best.error:.2e} |"
        )


if __name__ == "__main__":
    main()
