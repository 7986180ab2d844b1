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


def found(formulas, search):
    """The result of `search`, which must have one of `formulas`."""
    result = search()
    assert result.formula in formulas
    return result


@pytest.fixture(scope="session")
def variable_leaves():
    """Results with formula "v_{j}" for j < LEAF_COLUMNS: they read input element j."""
    rows = [[float(10 * i + j + 1) for j in range(LEAF_COLUMNS)] for i in range(4)]
    searcher = small_searcher(max_complexity=1)
    return [found([f"v_{{{j}}}"], lambda: searcher.find_multivariate(rows, [r[j] for r in rows]))
            for j in range(LEAF_COLUMNS)]


@pytest.fixture(scope="session")
def sum_result():
    """The result "Plus(v_{0}, v_{1})", found with error 0."""
    rows, ys = [[1.0, 2.0], [3.0, 4.0], [5.0, 7.0]], [3.0, 7.0, 12.0]
    return found(["Plus(v_{0}, v_{1})"], lambda: small_searcher().find_multivariate(rows, ys))


@pytest.fixture(scope="session")
def parameter_result():
    """The parameter leaf "C" at its initial value 0.1 (one sample of 0.1)."""
    return found(["C"], lambda: small_searcher(max_complexity=1).recognize_constant(0.1))


@pytest.fixture(scope="session")
def offset_result():
    """A sum of v_{0} and a parameter fitted to 0.1."""
    xs = [0.0, 1.0, 2.0, 3.0]
    ys = [x + 0.1 for x in xs]
    return found(["Plus(C, v_{0})", "Plus(v_{0}, C)"], lambda: small_searcher().find_function(xs, ys))


def one_operator_result(function, xs, formula):
    """The search result for y = function(x), which must be `formula`."""
    return found([formula], lambda: small_searcher(max_complexity=2).find_function(xs, [function(x) for x in xs]))


@pytest.fixture(scope="session")
def sine_result():
    return one_operator_result(math.sin, [0.1 * i for i in range(1, 20)], "Sin(v_{0})")


@pytest.fixture(scope="session")
def log_result():
    return one_operator_result(math.log, [0.5 * i for i in range(1, 20)], "Log(v_{0})")
