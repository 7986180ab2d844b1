"""kiv_sr_tools with pandas and scikit-learn: a law found in a DataFrame.

The samples carry a column the law does not use; a FunctionTransformer
picks the physical columns by name, so the estimator sees (and writes its
formulas with) the names "mass" and "speed". A scaler would not belong
here: it would change the constants of the law being sought. Run:
`python examples/pandas_pipeline.py` with kiv_sr installed with its
`sklearn`, `pandas` and `sympy` extras.
"""

import numpy as np
import pandas as pd
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import FunctionTransformer

from kiv_sr_tools import KivRegressor


def physical_columns(frame):
    return frame[["mass", "speed"]]


def main():
    rng = np.random.default_rng(7)
    samples = pd.DataFrame({
        "mass": rng.uniform(0.5, 3.0, 60),
        "speed": rng.uniform(0.5, 4.0, 60),
        "colour": rng.integers(0, 5, 60),
    })
    energy = 0.5 * samples["mass"] * samples["speed"] ** 2

    model = make_pipeline(
        FunctionTransformer(physical_columns),
        KivRegressor(max_complexity=6, beam_width=100, verbose=False),
    )
    model.fit(samples, energy)

    regressor = model[-1]
    print("Features:", list(regressor.feature_names_in_))
    print("Best:    ", regressor.best_.formula)
    print("R^2:     ", model.score(samples, energy))
    print()
    with pd.option_context("display.width", 120, "display.max_colwidth", 60):
        print(regressor.equations_.to_string(index=False))


if __name__ == "__main__":
    main()
