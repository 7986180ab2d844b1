"""Shared fixtures: small searchers and results whose formulas are known.

Searches are deterministic, so a search on data that a formula fits exactly
returns that formula; the results below are computed once per session.
"""

import math
import os

import pytest

import kiv_sr

# Columns of the data the variable leaves are found on.
LEAF_COLUMNS = 5

# True under `make sanitize`, whose AddressSanitizer aborts the process on a
# failed allocation where the plain build raises MemoryError.
UNDER_ADDRESS_SANITIZER = "libasan" in os.environ.get("LD_PRELOAD", "")


def small_searcher(max_complexity=3, beam_width=50, **config):
    """A searcher whose searches finish within a few quick levels."""
    return kiv_sr.Searcher(max_complexity=max_complexity, beam_width=beam_width, **config)


def found(formulas, result):
    assert result.formula in formulas
    return result


@pytest.fixture(scope="session")
def known():
    """Results by name: "leaves", whose element j has formula "v_{j}" (it reads input
    element j, j < LEAF_COLUMNS); "sum", "Plus(v_{0}, v_{1})" with error 0; "C", the
    parameter leaf at its initial value 0.1; "offset", a sum of v_{0} and a parameter
    fitted to 0.1; "sine" and "log", one operator applied to v_{0}."""
    rows = [[float(10 * i + j + 1) for j in range(LEAF_COLUMNS)] for i in range(4)]
    xs, positive = [0.0, 1.0, 2.0, 3.0], [0.5 * i for i in range(1, 20)]
    offset = small_searcher().find_function(xs, [x + 0.1 for x in xs])
    leaf, two = small_searcher(max_complexity=1), small_searcher(max_complexity=2)
    return {
        "leaves": [found([f"v_{{{j}}}"], leaf.find_multivariate(rows, [row[j] for row in rows]))
                   for j in range(LEAF_COLUMNS)],
        "sum": found(["Plus(v_{0}, v_{1})"], small_searcher().find_multivariate([[1, 2], [3, 4], [5, 7]], [3, 7, 12])),
        "C": found(["C"], leaf.recognize_constant(0.1)),
        "offset": found(["Plus(C, v_{0})", "Plus(v_{0}, C)"], offset),
        "sine": found(["Sin(v_{0})"], two.find_function(positive, [math.sin(x) for x in positive])),
        "log": found(["Log(v_{0})"], two.find_function(positive, [math.log(x) for x in positive])),
    }
