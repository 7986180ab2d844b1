"""Searcher and SearchResult through their Python methods: construction and
read-only configuration, the requests as composed from one search, printed
form, evaluation of points and batches, rendering, and hostile settings and
sizes, which end in finite errors rather than a crash or a hang."""

import math
import re
import warnings

import numpy as np
import pytest

import kiv_sr
from conftest import small_searcher

PROPERTIES = ("max_complexity", "complexity_penalty", "beam_width", "alpha", "l1_ratio")


def config_of(searcher):
    return tuple(getattr(searcher, name) for name in PROPERTIES)


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((), {}, (10, 0.1, 1000, 0.0, 0.5)),
        ((3, 0.0, 50), {}, (3, 0.0, 50, 0.0, 0.5)),
        ((), {"l1_ratio": 0.9, "beam_width": 7}, (10, 0.1, 7, 0.0, 0.9)),
        ((5, 1, 6, 2, True), {}, (5, 1.0, 6, 2.0, 1.0)),
        ((np.int8(4),), {"alpha": np.float32(0.25), "beam_width": 2**64 - 1}, (4, 0.1, 2**64 - 1, 0.25, 0.5)),
        ((0, -1.0, 0, math.inf, -math.inf), {}, (0, -1.0, 0, math.inf, -math.inf)),  # -1.0: the failure value
    ],
)
def test_arguments_are_stored_unchanged_and_read_only(args, kwargs, expected):
    searcher = kiv_sr.Searcher(*args, **kwargs)
    assert config_of(searcher) == expected
    assert [type(v) for v in config_of(searcher)] == [int, float, int, float, float]
    for name in PROPERTIES:
        for change in (lambda: setattr(searcher, name, 1), lambda: delattr(searcher, name)):
            with pytest.raises(AttributeError):
                change()
    assert config_of(searcher) == expected
    assert repr(searcher) == "Searcher(max_complexity={}, complexity_penalty={!r}, beam_width={}, alpha={!r}, " \
                             "l1_ratio={!r})".format(*expected)
    assert math.isnan(kiv_sr.Searcher(l1_ratio=math.nan).l1_ratio)


NON_FINITE_INPUTS = ("The inputs hold 2 NaN or infinite values, the first at row 1, column 1: on row 1, formulas "
                     "using column 1 are dropped unless they turn it into a finite value.")
ONE_NON_FINITE_INPUT = NON_FINITE_INPUTS.replace("2 NaN or infinite values", "1 NaN or infinite value")
NON_FINITE_TARGETS = ("The targets hold 1 NaN or infinite value, the first at row 2: every error is NaN or infinite, "
                      "so no formula can be found.")


@pytest.mark.parametrize("inputs, ys, expected", [
    ([[1.0, 2.0], [2.0, math.nan], [3.0, 1.0], [-math.inf, 0.5]], [3.0, 2.0, 4.0, 1.0], [NON_FINITE_INPUTS]),
    ([[1.0, 2.0], [2.0, math.inf], [3.0, 1.0]], [3.0, 2.0, math.nan], [ONE_NON_FINITE_INPUT, NON_FINITE_TARGETS]),
    ([[1.0, 2.0], [2.0, 1.0]], [3.0, 3.0], []),
    ([[1.0, 2.0], [2.0, math.nan]], [3.0], []),  # refused data: only the refusal
])
def test_non_finite_data_is_warned_about_before_the_search(inputs, ys, expected):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            small_searcher().fit(inputs, ys)
        except (kiv_sr.KivComplexityError, kiv_sr.KivDimensionError):
            pass
    assert [(w.category, str(w.message)) for w in caught] == [(RuntimeWarning, text) for text in expected]
    if expected:  # where warnings are errors, the first one stops the call
        with warnings.catch_warnings(), pytest.raises(RuntimeWarning, match=re.escape(expected[0])):
            warnings.simplefilter("error")
            small_searcher().find_candidates(inputs, ys)


def test_every_request_is_the_best_of_one_front():
    xs = np.linspace(0.5, 2.0, 12)
    ys = np.sqrt(xs) * 1.5 + 0.02 * np.cos(7 * xs)
    searcher = small_searcher()
    front = searcher.find_candidates(xs.reshape(-1, 1), ys)
    assert type(front) is list and len(front) > 1
    assert [c.complexity for c in front] == sorted((c.complexity for c in front), reverse=True)
    best = repr(front[0])
    assert best == repr(searcher.find_function(xs, ys)) == repr(searcher.find_function(xs.tolist(), ys.tolist()))
    assert best == repr(searcher.find_multivariate(xs.reshape(-1, 1), ys)) == repr(searcher.fit(xs[:, None], ys))
    constant = small_searcher().recognize_constant(3.14159)  # one sample whose input is 0
    assert constant.eval(0.0) == pytest.approx(3.14159, abs=1e-9)
    assert repr(constant) == repr(small_searcher().find_multivariate([[0.0]], [3.14159]))


def test_per_call_overrides_act_like_configuration_and_leave_the_searcher_alone():
    xs, ys = [1.0, 2.0, 3.0, 4.0], [4.0, 5.5, 7.0, 8.5]
    searcher = small_searcher()
    before = config_of(searcher)
    overridden = searcher.find_function(xs, ys, 0.01, 0.9)
    with pytest.raises(TypeError):
        searcher.find_function(xs, ys, alpha=3.0, l1_ratio="x")
    assert config_of(searcher) == before
    assert repr(overridden) == repr(small_searcher(alpha=0.01, l1_ratio=0.9).find_function(xs, ys))
    assert repr(overridden) == repr(searcher.find_function(xs, ys, l1_ratio=0.9, alpha=0.01))
    assert repr(searcher.find_function(xs, ys, alpha=None, l1_ratio=None)) == repr(searcher.find_function(xs, ys))
    # The penalty on the fitted constants is part of the error only with alpha.
    assert searcher.find_function(xs, ys).error < overridden.error
    only_l1 = small_searcher(alpha=0.01)
    assert only_l1.find_function(xs, ys, l1_ratio=0.9).error != only_l1.find_function(xs, ys).error
    # The ends of the ranges are penalties like any other.
    assert only_l1.find_function(xs, ys, l1_ratio=0.0).error != only_l1.find_function(xs, ys, l1_ratio=1.0).error


def test_properties_printed_form_and_rendering(known):
    sum_result = known["sum"]
    assert (sum_result.formula, sum_result.error, sum_result.complexity) == ("Plus(v_{0}, v_{1})", 0.0, 3)
    assert (type(sum_result.error), type(sum_result.complexity)) == (float, int)
    assert repr(sum_result) == str(sum_result) == (
        "SearchResult(formula='Plus(v_{0}, v_{1})', error=0.000000e0, complexity=3)")
    inexact = small_searcher(max_complexity=1).find_function([1.0, 2.0], [1.5, 3.0])
    assert repr(inexact) == "SearchResult(formula='v_{0}', error=6.250000e-1, complexity=1)"  # (0.5² + 1²) / 2
    for name, latex, python in [("sum", "v_{0} + v_{1}", "(v_{0})+(v_{1})"), ("sine", "\\sin(v_{0})", "np.sin(v_{0})"),
                                ("C", "0.1000", "0.1000")]:
        assert (known[name].to_latex(), known[name].to_python()) == (latex, python)


# (known result, argument of eval, value; NaN where the formula has no value)
EVALS = [
    ("offset", 2, 2.1),
    ("offset", True, 1.1),
    ("offset", np.array(2.0), 2.1),
    ("sum", (1, 2), 3.0),
    ("sum", np.array([1.0, 2.0]), 3.0),
    ("sum", [1.0], math.nan),
    ("sine", [0.5, 2.0, 3.0], math.sin(0.5)),
    ("sine", [], math.nan),
    ("sine", math.inf, math.nan),
    ("log", 0.0, math.nan),
    ("log", -1.0, 0.0),  # the real part of the complex logarithm
]


@pytest.mark.parametrize("name, argument, expected", EVALS)
def test_eval(known, name, argument, expected):
    value = known[name].eval(argument)
    assert type(value) is float
    assert value == pytest.approx(expected, rel=1e-12, nan_ok=True)


def test_eval_batch_and_predict_evaluate_each_row(known):
    sum_result, log_result = known["sum"], known["log"]
    for method in (sum_result.eval_batch, sum_result.predict):
        assert method([[1.0, 2.0], [3.0, 4.0]]) == method(np.array([[1.0, 2.0], [3.0, 4.0]])) == [3.0, 7.0]
        assert method([]) == []
    assert np.array_equal(sum_result.eval_batch([[1.0, 2.0], [3.0]]), [3.0, math.nan], equal_nan=True)  # ragged
    assert np.array_equal(log_result.predict([[1.0], [0.0], [-1.0]]), [0.0, math.nan, 0.0], equal_nan=True)


XS = np.linspace(0.5, 3.0, 20)
SQUARE_PLUS_ONE = XS**2 + 1.0  # needs four tokens: no exact fit below complexity 4


@pytest.mark.parametrize(
    "config, overrides",
    [
        ({"beam_width": 0}, {}),
        ({"beam_width": 10**15}, {}),
        ({"complexity_penalty": -0.5}, {}),  # a zero factor at level 2
        ({"complexity_penalty": math.inf}, {}),
        ({"alpha": 1e300, "l1_ratio": 1.0}, {}),  # drowns the squared error
    ],
)
def test_hostile_settings_leave_a_front_of_finite_errors(config, overrides, capfd):
    front = small_searcher(**config).find_candidates(XS.reshape(-1, 1), SQUARE_PLUS_ONE, **overrides)
    complexities, errors = [c.complexity for c in front], [c.error for c in front]
    assert front and all(math.isfinite(e) for e in errors)
    assert all(a > b for a, b in zip(complexities, complexities[1:]))
    assert all(a < b for a, b in zip(errors, errors[1:]))
    capfd.readouterr()


def test_extreme_sizes():
    largest = small_searcher(max_complexity=2**64 - 1)  # stops at the first exact level
    assert (largest.find_function(XS, 2.0 * XS).formula, largest.max_complexity) == ("Plus(v_{0}, v_{0})", 2**64 - 1)
    inputs = np.random.default_rng(7).random((10, 255))
    widest = small_searcher(max_complexity=2).find_multivariate(inputs, inputs[:, 254].copy() ** 2)
    assert (widest.formula, widest.error) == ("Square(v_{254})", 0.0)
    # Columns beyond the first row's are never read; without columns only constants remain.
    assert small_searcher(max_complexity=1).find_multivariate([[1.0], [2.0] * 300, [3.0]], [1, 2, 3]).formula == "v_{0}"
    no_columns = small_searcher(max_complexity=2).find_multivariate([[], [1.0, 2.0]], [4.0, 4.0])
    assert no_columns.error <= 1e-10 and no_columns.eval([]) == pytest.approx(4.0)
