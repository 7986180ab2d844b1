"""Shared fixtures: small searchers and results whose formulas are known.

Searches are deterministic, so a search on data that a formula fits exactly
returns that formula; the fixtures below are computed once per session.
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


@pytest.fixture(scope="session")
def variable_leaves():
    """Results with formula "v_{j}" for j < LEAF_COLUMNS: they read input element j."""
    rows = [[float(10 * i + j + 1) for j in range(LEAF_COLUMNS)] for i in range(4)]
    leaves = []
    for j in range(LEAF_COLUMNS):
        result = small_searcher(max_complexity=1).find_multivariate(rows, [row[j] for row in rows])
        assert result.formula == f"v_{{{j}}}"
        leaves.append(result)
    return leaves


@pytest.fixture(scope="session")
def sum_result():
    """The result "Plus(v_{0}, v_{1})", found with error 0."""
    result = small_searcher().find_multivariate([[1.0, 2.0], [3.0, 4.0], [5.0, 7.0]], [3.0, 7.0, 12.0])
    assert result.formula == "Plus(v_{0}, v_{1})"
    return result


@pytest.fixture(scope="session")
def parameter_result():
    """The parameter leaf "C" at its initial value 0.1 (one sample of 0.1)."""
    result = small_searcher(max_complexity=1).recognize_constant(0.1)
    assert result.formula == "C"
    return result


@pytest.fixture(scope="session")
def offset_result():
    """A sum of v_{0} and a parameter fitted to 0.1."""
    xs = [0.0, 1.0, 2.0, 3.0]
    result = small_searcher().find_function(xs, [x + 0.1 for x in xs])
    assert result.formula in ("Plus(C, v_{0})", "Plus(v_{0}, C)")
    return result


def one_operator_result(function, xs, formula):
    """The search result for y = function(x), which must be `formula`."""
    result = small_searcher(max_complexity=2).find_function(xs, [function(x) for x in xs])
    assert result.formula == formula
    return result


@pytest.fixture(scope="session")
def sine_result():
    return one_operator_result(math.sin, [0.1 * i for i in range(1, 20)], "Sin(v_{0})")


@pytest.fixture(scope="session")
def log_result():
    return one_operator_result(math.log, [0.5 * i for i in range(1, 20)], "Log(v_{0})")
