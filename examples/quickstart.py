"""kiv_sr quickstart: recover a known formula from generated data.

Generates samples of y = 2.5 * x0 * x1, searches for the formula, and prints
what was found in every notation, then the Pareto front of candidates
(error against complexity). Run: `make demo`, or `python examples/quickstart.py`
with kiv_sr installed.
"""

import numpy as np

import kiv_sr


def main():
    rng = np.random.default_rng(42)
    inputs = rng.uniform(0.5, 3.0, size=(100, 2))  # one row per sample: x0, x1
    ys = 2.5 * inputs[:, 0] * inputs[:, 1]

    # Formulas of up to 6 tokens, the best 300 candidates kept per size.
    searcher = kiv_sr.Searcher(max_complexity=6, beam_width=300)

    print("Searching for y = 2.5 * x0 * x1 ...", flush=True)
    best = searcher.find_multivariate(inputs, ys)

    print()
    print("Found:     ", best.formula)
    print("Error:     ", best.error)
    print("Complexity:", best.complexity)
    print("LaTeX:     ", best.to_latex())
    print("Python:    ", best.to_python())
    print("f(2, 3) =  ", best.eval([2.0, 3.0]), "(expected 15.0)")

    print()
    print("Pareto front (lowest error first):", flush=True)
    front = searcher.find_candidates(inputs, ys)
    print()
    for candidate in front:
        print(f"  complexity {candidate.complexity:2d}  error {candidate.error:12.6g}  {candidate.formula}")


if __name__ == "__main__":
    main()
