"""Saving a found formula and loading it again.

A SearchResult pickles with its exact structure and every constant in full,
so the loaded result evaluates to the same bits. Run:
`python examples/save_and_load.py` with kiv_sr installed.
"""

import pickle
import tempfile
from pathlib import Path

import numpy as np

import kiv_sr


def main():
    xs = np.linspace(0.5, 4.0, 40)
    result = kiv_sr.Searcher(max_complexity=6, beam_width=100).find_function(xs, 1.7 * np.sin(xs) + 0.3)
    print()
    print("Found: ", result.formula, "  f(2) =", repr(result.eval(2.0)))

    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "formula.pickle"
        path.write_bytes(pickle.dumps(result))
        loaded = pickle.loads(path.read_bytes())

    print("Loaded:", loaded.formula, "  f(2) =", repr(loaded.eval(2.0)))
    print("Same value:", loaded.eval(2.0) == result.eval(2.0))


if __name__ == "__main__":
    main()
