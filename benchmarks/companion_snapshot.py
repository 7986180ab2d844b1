"""Prints the results of kiv_sr_tools on fixed cases as exact text, to compare two builds with diff.

Each line is a case label, then a result's complexity, its error as
float.hex, its formula and its to_source text (constants in full), or the
exact values a case derives from results (to_function sums, to_sympy text,
KivRegressor tables). The data come from fixed seeds and the searches have
no time limit that binds, so two runs of one build print the same text, and
a refactoring of the companion package that keeps its results keeps the
text. Uses the public API only. Run from outside the checkout so that the
installed package is imported:
    python benchmarks/companion_snapshot.py > before.txt
"""

import contextlib
import math

import numpy as np

import kiv_sr_tools
from kiv_sr import Searcher


def show(label, result):
    print(f"{label} | {result.complexity} | {float.hex(result.error)} | {result.formula} | "
          f"{kiv_sr_tools.to_source(result)}")


def quiet(search, *args, **kwargs):
    """The search's results, its progress lines silenced (the engine writes nothing to a None stdout)."""
    with contextlib.redirect_stdout(None):
        return search(*args, **kwargs)


def data_sets():
    rng = np.random.default_rng(1)
    X2 = rng.uniform(0.5, 2.0, (60, 2))
    x = rng.uniform(-2.0, 2.0, 80)
    cubic = x**3 + x**2 + x
    t = rng.uniform(0.1, 3.0, 40)
    return {
        "x0*exp(x1)": (X2, X2[:, 0] * np.exp(X2[:, 1])),
        "cubic+1%noise": (x[:, None], cubic * (1.0 + 0.01 * rng.standard_normal(80))),
        "sqrt(t)+sin(t)": (t[:, None], np.sqrt(t) + np.sin(t)),
    }


def main():
    rng = np.random.default_rng(2)
    fronts = {}
    for (name, (X, y)), (max_complexity, beam_width) in zip(data_sets().items(), ((5, 200), (7, 500), (6, 300))):
        searcher = Searcher(max_complexity=max_complexity, beam_width=beam_width)
        fronts[name] = quiet(kiv_sr_tools.find_candidates, searcher, X, y)
        for result in fronts[name]:
            show(f"candidates {name}", result)
        for result in quiet(kiv_sr_tools.find_candidates, searcher, X, y, max_time=1e6):
            show(f"candidates {name} max_time", result)

    positive = rng.uniform(0.5, 2.5, (50, 2))
    z = rng.uniform(-2.5, 2.5, (60, 1))
    for name, X, y, max_complexity in (("x0**x1", positive, positive[:, 0] ** positive[:, 1], 5),
                                       ("exp(-z^2/2)", z, np.exp(-z[:, 0]**2 / 2), 6)):
        searcher = Searcher(max_complexity=max_complexity, beam_width=300)
        fronts[f"transformed {name}"] = quiet(kiv_sr_tools.find_transformed, searcher, X, y)
        for result in fronts[f"transformed {name}"]:
            show(f"transformed {name}", result)

    values = {"pi^2/6": math.pi**2 / 6, "sqrt(2)+1": math.sqrt(2) + 1, "ln 3": math.log(3), "2pi": 2 * math.pi,
              "euler gamma": 0.5772156649015329, "1.2345": 1.2345}
    cases = [(name, k) for name in values for k in (5, 7)] + [("sqrt(2)+1", 8)]
    for name, k in cases:
        found = kiv_sr_tools.identify_constant(values[name], max_complexity=k)
        print(f"constant {name} k={k} | {len(found)} found")
        for result in found:
            show(f"constant {name} k={k}", result)

    X = rng.uniform(0.5, 3.0, (40, 1))
    x = X[:, 0]
    laws = {"3.14159265*x": 3.14159265 * x + 1e-9 * rng.standard_normal(40), "x/(2pi)": x / (2 * math.pi)}
    for name, y in laws.items():
        best = quiet(kiv_sr_tools.find_candidates, Searcher(max_complexity=5, beam_width=200), X, y)[0]
        show(f"snap {name} before", best)
        show(f"snap {name} after", kiv_sr_tools.snap_constants(best, X, y))

    grid = np.linspace(-3.0, 3.0, 25)
    inputs = np.column_stack([grid, grid[::-1]])  # negative values and zero in both columns
    for name, front in fronts.items():
        for result in front[:3]:
            values_at = kiv_sr_tools.to_function(result)(inputs)
            finite = values_at[np.isfinite(values_at)]
            print(f"function {name} | {result.formula} | {float.hex(float(finite.sum()))} | "
                  f"nan {int(np.isnan(values_at).sum())}")
            print(f"sympy {name} | {result.formula} | {kiv_sr_tools.to_sympy(result)}")

    for name, (X, y) in data_sets().items():
        model = kiv_sr_tools.KivRegressor(max_complexity=5, beam_width=200, verbose=False)
        model.fit(X, y)
        print(f"regressor {name} best | {model.best_.formula} | {float.hex(model.best_.error)}")
        for row in model.equations_.itertuples():
            print(f"regressor {name} row | {row.complexity} | {float.hex(row.error)} | {row.formula}")


if __name__ == "__main__":
    main()
