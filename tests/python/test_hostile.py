"""Hostile configurations and data: absurd settings, non-finite numbers and
extreme shapes. Each ends in a result with finite errors or in a clear
exception, never in a crash, a hang or unbounded memory, and the module
stays usable afterwards."""

import math
import os
import re
import resource
import subprocess
import sys

import numpy as np
import pytest

import kiv_sr
from conftest import UNDER_ADDRESS_SANITIZER, small_searcher

XS = np.linspace(0.5, 3.0, 20)
SQUARE_PLUS_ONE = XS**2 + 1.0  # needs four tokens: no exact fit below complexity 4
NO_FORMULA = "No formula found up to complexity {}"
LEVEL_LINE = re.compile(r"Level (\d+) processed in \S+\. Retaining top (\d+) candidates\.")


def retained_per_level(output):
    return {int(level): int(kept) for level, kept in LEVEL_LINE.findall(output)}


def assert_finite_strict_front(candidates):
    complexities = [c.complexity for c in candidates]
    errors = [c.error for c in candidates]
    assert candidates and all(math.isfinite(e) for e in errors)
    assert all(a > b for a, b in zip(complexities, complexities[1:]))
    assert all(a < b for a, b in zip(errors, errors[1:]))


def mean_squared_error(result, xs, ys):
    predictions = np.array(result.eval_batch(np.asarray(xs).reshape(-1, 1)))
    return float(np.mean((predictions - ys) ** 2))


# --- beam width ------------------------------------------------------------------


@pytest.mark.parametrize("beam_width", [0, 1])
def test_narrowest_beams_still_feed_the_front(beam_width, capfd):
    candidates = small_searcher(max_complexity=3, beam_width=beam_width).find_candidates(
        XS.reshape(-1, 1), SQUARE_PLUS_ONE
    )
    assert retained_per_level(capfd.readouterr().out) == {2: beam_width, 3: beam_width}
    assert_finite_strict_front(candidates)
    # Level 2 is built from level 1 alone and reaches the front before the cut.
    assert "Square(v_{0})" in [c.formula for c in candidates]


def test_beam_of_ten_to_the_fifteen_keeps_every_candidate_without_reserving_for_them(capfd):
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    huge = small_searcher(max_complexity=3, beam_width=10**15).find_candidates(XS.reshape(-1, 1), SQUARE_PLUS_ONE)
    huge_output = capfd.readouterr().out
    growth_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
    wide = small_searcher(max_complexity=3, beam_width=10**6).find_candidates(XS.reshape(-1, 1), SQUARE_PLUS_ONE)
    assert [repr(c) for c in huge] == [repr(c) for c in wide]
    assert retained_per_level(huge_output) == retained_per_level(capfd.readouterr().out)
    assert growth_kib < 200 * 1024


# --- max_complexity ------------------------------------------------------------------


def test_max_complexity_zero_is_refused_before_searching(capfd):
    with pytest.raises(kiv_sr.KivDimensionError, match=r"^max_complexity must be at least 1\.$"):
        small_searcher(max_complexity=0).find_function(XS, XS)
    assert capfd.readouterr().out == ""


def test_max_complexity_one_returns_the_better_leaf(capfd):
    result = small_searcher(max_complexity=1).find_function(XS, SQUARE_PLUS_ONE)
    out = capfd.readouterr().out
    assert out == "[KIV-SR] Started search space exploration. Level 1 seeded with 2 primary nodes.\n"
    assert (result.formula, result.complexity) == ("v_{0}", 1)


@pytest.mark.parametrize(
    "ys, formula, last_level",
    [(XS, "v_{0}", None), (2.0 * XS, "Plus(v_{0}, v_{0})", 3)],
    ids=["exact leaf", "exact at level 3"],
)
def test_largest_max_complexity_stops_at_the_first_exact_level(ys, formula, last_level, capfd):
    searcher = small_searcher(max_complexity=2**64 - 1)
    result = searcher.find_function(XS, ys)
    assert (result.formula, result.error) == (formula, 0.0)
    levels = retained_per_level(capfd.readouterr().out)
    assert max(levels, default=None) == last_level
    assert searcher.max_complexity == 2**64 - 1


# --- complexity_penalty -----------------------------------------------------------


@pytest.mark.parametrize("penalty", [math.nan, math.inf, -math.inf], ids=["nan", "inf", "-inf"])
def test_non_finite_complexity_penalty_keeps_the_level_one_result(penalty):
    # Scores of larger formulas are not ordered numbers: none is ranked or
    # offered to the front, so the best leaf is the answer.
    candidates = small_searcher(complexity_penalty=penalty).find_candidates(XS.reshape(-1, 1), SQUARE_PLUS_ONE)
    assert [c.formula for c in candidates] == ["v_{0}"]
    assert candidates[0].error == pytest.approx(mean_squared_error(candidates[0], XS, SQUARE_PLUS_ONE))


@pytest.mark.parametrize("penalty", [-0.5, -1.0, -1e300], ids=["zero factor at level 2", "-1", "-1e300"])
def test_negative_complexity_penalty_reports_true_errors(penalty):
    candidates = small_searcher(complexity_penalty=penalty).find_candidates(XS.reshape(-1, 1), SQUARE_PLUS_ONE)
    assert_finite_strict_front(candidates)
    for candidate in candidates:
        assert candidate.error == pytest.approx(mean_squared_error(candidate, XS, SQUARE_PLUS_ONE), rel=1e-9)


# --- alpha and l1_ratio ------------------------------------------------------------


@pytest.mark.parametrize("value", [math.nan, math.inf, -math.inf], ids=["nan", "inf", "-inf"])
@pytest.mark.parametrize("name", ["alpha", "l1_ratio"])
def test_non_finite_penalty_weights_leave_no_formula(name, value, capfd):
    # The penalty is then NaN or infinite for every formula, even one
    # without constants (0 times infinity), so no error is finite.
    configured = small_searcher(max_complexity=2, **{name: value})
    with pytest.raises(kiv_sr.KivComplexityError, match=f"^{NO_FORMULA.format(2)}$"):
        configured.find_function(XS, SQUARE_PLUS_ONE)
    with pytest.raises(kiv_sr.KivComplexityError, match=f"^{NO_FORMULA.format(2)}$"):
        small_searcher(max_complexity=2).find_function(XS, SQUARE_PLUS_ONE, **{name: value})
    capfd.readouterr()
    assert math.isnan(getattr(configured, name)) == math.isnan(value)


@pytest.mark.parametrize(
    "alpha, l1_ratio",
    [(-1.0, 0.5), (-1e308, 0.5), (-1e308, 0.0), (1.0, -1.0), (1.0, 2.0), (-1e300, 2.0)],
)
def test_negative_or_out_of_range_penalty_weights_give_finite_errors(alpha, l1_ratio):
    # A negative penalty rewards large constants without bound; the fit of
    # the final front may run off to -inf, which a result never reports.
    searcher = small_searcher(alpha=alpha, l1_ratio=l1_ratio)
    assert_finite_strict_front(searcher.find_candidates(XS.reshape(-1, 1), SQUARE_PLUS_ONE))
    assert math.isfinite(searcher.recognize_constant(2.0).error)


# --- worker count ------------------------------------------------------------------


@pytest.mark.parametrize("setting", ["100000", "99999999999999999999999", "0", "many"])
def test_absurd_worker_counts_in_the_environment(setting):
    # At most 1024 workers; settings that are not positive integers mean one per processor.
    script = (
        "import kiv_sr\n"
        "result = kiv_sr.Searcher(max_complexity=3).find_function([1.0, 2.0], [2.0, 4.0])\n"
        "print(round(result.eval(3.0), 9))\n"
    )
    environment = dict(os.environ, KIV_SR_NUM_THREADS=setting)
    completed = subprocess.run(
        [sys.executable, "-c", script], env=environment, capture_output=True, text=True, timeout=300, check=False
    )
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.split("\n")[-2] == "6.0"


# --- shapes ----------------------------------------------------------------------


@pytest.mark.parametrize("columns", [256, 1000])
def test_more_than_255_columns_are_refused_before_searching(columns, capfd):
    inputs = np.random.default_rng(columns).random((10, columns))
    with pytest.raises(kiv_sr.KivDimensionError, match=f"^Inputs have {columns} columns; at most 255"):
        small_searcher().find_multivariate(inputs, np.arange(10.0))
    assert capfd.readouterr().out == ""


def test_255_columns_are_searched():
    inputs = np.random.default_rng(7).random((10, 255))
    result = small_searcher(max_complexity=2).find_multivariate(inputs, inputs[:, 254].copy() ** 2)
    assert (result.formula, result.error) == ("Square(v_{254})", 0.0)


def test_first_row_sets_the_number_of_variables():
    # Later rows may be longer (the surplus is never read) or shorter (formulas
    # reading a missing column are dropped).
    wide_later = small_searcher(max_complexity=1).find_multivariate([[1.0], [2.0] * 300, [3.0]], [1.0, 2.0, 3.0])
    assert wide_later.formula == "v_{0}"
    with pytest.raises(kiv_sr.KivDimensionError, match="^Inputs have 300 columns"):
        small_searcher().find_multivariate([[1.0] * 300, [2.0]], [1.0, 2.0])
    no_columns = small_searcher(max_complexity=2).find_multivariate([[], [1.0, 2.0]], [4.0, 4.0])
    assert no_columns.error <= 1e-10
    assert no_columns.eval([]) == pytest.approx(4.0)


def test_a_million_rows(capfd):
    xs = np.linspace(0.5, 3.0, 10**6)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    result = small_searcher(max_complexity=2).find_function(xs, np.sin(xs))
    growth_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
    assert (result.formula, result.error) == ("Sin(v_{0})", 0.0)
    assert "Level 2 processed" in capfd.readouterr().out
    # Rows, complex columns and a few per-worker buffers; nothing per candidate.
    if not UNDER_ADDRESS_SANITIZER:
        assert growth_kib < 600 * 1024


def test_a_single_sample():
    result = small_searcher().find_function([2.0], [5.0])
    assert result.error <= 1e-10
    assert result.eval(2.0) == pytest.approx(5.0)
    assert small_searcher().find_multivariate([[1.0, 2.0, 3.0]], [6.0]).error <= 1e-10


@pytest.mark.parametrize("value", [0.0, 3.0, -250.0])
def test_constant_targets(value):
    result = small_searcher().find_function(XS, np.full(XS.shape, value))
    assert result.error <= 1e-10
    assert result.eval(1.234) == pytest.approx(value)


def test_identical_rows_with_different_targets_fit_their_mean():
    result = small_searcher().find_function([1.0, 1.0, 1.0], [1.0, 2.0, 6.0])
    assert result.eval(1.0) == pytest.approx(3.0)
    assert result.error == pytest.approx(14.0 / 3.0)


# --- non-finite data ------------------------------------------------------------------


@pytest.mark.parametrize("bad", [math.nan, math.inf, -math.inf, 1e300], ids=["nan", "inf", "-inf", "1e300"])
def test_non_finite_input_leaves_formulas_without_that_variable(bad):
    xs = XS.copy()
    xs[7] = bad
    result = small_searcher().find_function(xs, SQUARE_PLUS_ONE)
    # Any formula reading v_0 has no value on row 7: the answer is a constant.
    assert math.isfinite(result.error)
    assert result.eval(1.0) == result.eval(2.0)
    assert result.eval(1.0) == pytest.approx(np.mean(SQUARE_PLUS_ONE), rel=1e-6)


@pytest.mark.parametrize("bad", [math.nan, math.inf, -math.inf], ids=["nan", "inf", "-inf"])
def test_non_finite_target_leaves_no_formula(bad, capfd):
    ys = SQUARE_PLUS_ONE.copy()
    ys[3] = bad
    with pytest.raises(kiv_sr.KivComplexityError, match=f"^{NO_FORMULA.format(3)}$"):
        small_searcher().find_function(XS, ys)
    with pytest.raises(kiv_sr.KivComplexityError, match=f"^{NO_FORMULA.format(3)}$"):
        small_searcher().recognize_constant(bad)
    capfd.readouterr()


def test_all_nan_data_leaves_no_formula(capfd):
    with pytest.raises(kiv_sr.KivComplexityError):
        small_searcher().find_candidates(np.full((5, 3), math.nan), np.full(5, math.nan))
    capfd.readouterr()
