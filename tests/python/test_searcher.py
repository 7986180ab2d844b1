"""Searcher: construction, read-only properties, argument validation order
and search behaviour through the public API."""

import math
import re
import threading

import numpy as np
import pytest

import kiv_sr
from conftest import small_searcher

PROPERTIES = ("max_complexity", "beam_width", "complexity_penalty", "alpha", "l1_ratio")


def config_of(searcher):
    return {name: getattr(searcher, name) for name in PROPERTIES}


class Index:
    """An integer-like object: only __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Real:
    """A float-like object: only __float__."""

    def __float__(self):
        return 0.25


# --- construction and properties ------------------------------------------------


def test_defaults():
    searcher = kiv_sr.Searcher()
    assert config_of(searcher) == {
        "max_complexity": 10,
        "beam_width": 1000,
        "complexity_penalty": 0.1,
        "alpha": 0.0,
        "l1_ratio": 0.5,
    }
    assert type(searcher.max_complexity) is int
    assert type(searcher.alpha) is float


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((3, 0.0, 50), {}, {"max_complexity": 3, "complexity_penalty": 0.0, "beam_width": 50}),
        ((), {"l1_ratio": 0.9, "beam_width": 7}, {"l1_ratio": 0.9, "beam_width": 7}),
        ((5, 1, 6, 2, True), {}, {"max_complexity": 5, "complexity_penalty": 1.0, "beam_width": 6, "alpha": 2.0,
                                  "l1_ratio": 1.0}),
        ((Index(4),), {"alpha": Real(), "beam_width": Index(2**64 - 1)},
         {"max_complexity": 4, "alpha": 0.25, "beam_width": 2**64 - 1}),
        ((0, -1.5, 0, math.inf, math.nan), {}, {"max_complexity": 0, "complexity_penalty": -1.5, "beam_width": 0,
                                                "alpha": math.inf}),
    ],
)
def test_positional_and_keyword_arguments_are_stored_unchanged(args, kwargs, expected):
    searcher = kiv_sr.Searcher(*args, **kwargs)
    for name, value in expected.items():
        assert getattr(searcher, name) == value
        assert type(getattr(searcher, name)) is type(kiv_sr.Searcher().__getattribute__(name))


@pytest.mark.parametrize(
    "kwargs, parameter",
    [
        ({"max_complexity": 2.5}, "max_complexity"),
        ({"max_complexity": "10"}, "max_complexity"),
        ({"max_complexity": None}, "max_complexity"),
        ({"complexity_penalty": "x"}, "complexity_penalty"),
        ({"beam_width": 1.0}, "beam_width"),
        ({"alpha": None}, "alpha"),
        ({"l1_ratio": [0.5]}, "l1_ratio"),
    ],
)
def test_unconvertible_argument_raises_type_error_naming_it(kwargs, parameter):
    with pytest.raises(TypeError, match=rf"^argument '{parameter}': "):
        kiv_sr.Searcher(**kwargs)


def test_first_failing_parameter_is_reported():
    with pytest.raises(TypeError, match="^argument 'complexity_penalty'"):
        kiv_sr.Searcher(1, "bad", "also bad", None, None)


@pytest.mark.parametrize("kwargs", [{"max_complexity": -1}, {"beam_width": -1}, {"beam_width": 2**64}])
def test_out_of_range_counts_raise_overflow_error(kwargs):
    with pytest.raises(OverflowError):
        kiv_sr.Searcher(**kwargs)


def test_too_large_integer_for_a_float_raises_overflow_error():
    with pytest.raises(OverflowError):
        kiv_sr.Searcher(alpha=10**400)


@pytest.mark.parametrize(
    "args, kwargs",
    [((1, 2, 3, 4, 5, 6), {}), ((), {"unknown": 1}), ((3,), {"max_complexity": 3})],
)
def test_wrong_binding_raises_type_error(args, kwargs):
    with pytest.raises(TypeError):
        kiv_sr.Searcher(*args, **kwargs)


@pytest.mark.parametrize("name", PROPERTIES)
def test_properties_are_read_only(name):
    searcher = kiv_sr.Searcher()
    with pytest.raises(AttributeError):
        setattr(searcher, name, 1)
    with pytest.raises(AttributeError):
        delattr(searcher, name)
    assert config_of(searcher) == config_of(kiv_sr.Searcher())


def test_searcher_is_not_subclassable_and_has_no_instance_dict():
    with pytest.raises(TypeError):
        type("Sub", (kiv_sr.Searcher,), {})
    with pytest.raises(AttributeError):
        kiv_sr.Searcher().extra = 1


# --- validation order -----------------------------------------------------------

XS = [1.0, 2.0, 3.0]
YS = [2.0, 3.0, 4.0]


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda s: s.find_function("abc", YS), ValueError, "^Input must be a 1D list or NumPy array of floats$"),
        (lambda s: s.find_function(XS, YS, "x"), TypeError, "^argument 'alpha': "),
        (lambda s: s.find_function("abc", "abc", alpha="x"), TypeError, "^argument 'alpha': "),
        (lambda s: s.find_function("abc", YS, None, "x"), TypeError, "^argument 'l1_ratio': "),
        (lambda s: s.find_function("abc", YS, "x", "y"), TypeError, "^argument 'alpha': "),
        (lambda s: s.find_function(XS, "abc"), ValueError, "^Input must be a 1D list or NumPy array of floats$"),
        (lambda s: s.find_multivariate([1.0], "abc"), ValueError, "^Input must be a 2D list or 2D NumPy array"),
        (lambda s: s.find_multivariate([[1.0]], "abc"), ValueError, "^Input must be a 1D list or NumPy array"),
        (lambda s: s.fit([1.0], YS, l1_ratio="x"), TypeError, "^argument 'l1_ratio': "),
        (lambda s: s.find_candidates(None, None, alpha=[]), TypeError, "^argument 'alpha': "),
        (lambda s: s.find_candidates([[1.0], [2.0]], [1.0]), kiv_sr.KivDimensionError, "^Inputs and target vector"),
        (lambda s: s.recognize_constant("pi"), TypeError, "^argument 'value': "),
        (lambda s: s.recognize_constant("pi", alpha="x"), TypeError, "^argument 'value': "),
        (lambda s: s.recognize_constant(1.0, alpha="x"), TypeError, "^argument 'alpha': "),
        (lambda s: s.find_function(XS), TypeError, "ys"),
        (lambda s: s.find_function(XS, YS, bogus=1), TypeError, "bogus"),
        (lambda s: s.find_function(XS, YS, 0.1, 0.2, 0.3), TypeError, "at most 4 arguments"),
    ],
)
def test_arguments_are_checked_in_order_before_any_search(call, error, message, capfd):
    with pytest.raises(error, match=message):
        call(small_searcher())
    assert capfd.readouterr().out == ""


# --- search behaviour ------------------------------------------------------------


def test_find_function_recovers_a_line_exactly():
    xs = [0.5 * i for i in range(10)]
    result = small_searcher().find_function(xs, [x + 2.5 for x in xs])
    assert result.complexity == 3
    assert result.error <= 1e-10
    assert result.eval(10.0) == pytest.approx(12.5)


def test_find_multivariate_and_fit_search_two_variables(sum_result):
    searcher = small_searcher()
    inputs, ys = [[1.0, 2.0], [3.0, 4.0]], [3.0, 7.0]
    for method in (searcher.find_multivariate, searcher.fit):
        result = method(inputs, ys)
        assert (result.formula, result.error, result.complexity) == ("Plus(v_{0}, v_{1})", 0.0, 3)


def test_lists_and_arrays_give_the_same_search():
    xs = np.linspace(0.5, 2.0, 12)
    ys = np.sqrt(xs) * 1.5
    searcher = small_searcher(max_complexity=4)
    from_arrays = searcher.find_function(xs, ys)
    from_lists = searcher.find_function(xs.tolist(), ys.tolist())
    from_matrix = searcher.find_multivariate(xs.reshape(-1, 1), ys)
    for other in (from_lists, from_matrix):
        assert repr(other) == repr(from_arrays)


def test_find_candidates_is_a_strict_pareto_front():
    rng = np.random.default_rng(3)
    inputs = rng.uniform(0.5, 2.0, size=(30, 2))
    ys = inputs[:, 0] * np.exp(inputs[:, 1]) + 0.3 * rng.standard_normal(30)
    searcher = small_searcher(max_complexity=5)
    candidates = searcher.find_candidates(inputs, ys)
    assert type(candidates) is list and candidates
    assert all(type(c) is kiv_sr.SearchResult for c in candidates)
    complexities = [c.complexity for c in candidates]
    errors = [c.error for c in candidates]
    assert all(a > b for a, b in zip(complexities, complexities[1:]))
    assert all(a < b for a, b in zip(errors, errors[1:]))
    assert errors[0] == min(errors)
    assert repr(candidates[0]) == repr(searcher.find_multivariate(inputs, ys))


def test_recognize_constant_fits_one_sample_at_zero():
    result = small_searcher().recognize_constant(3.14159)
    assert result.error <= 1e-10
    assert result.eval(0.0) == pytest.approx(3.14159, abs=1e-9)
    assert repr(result) == repr(small_searcher().find_multivariate([[0.0]], [3.14159]))


def test_per_call_overrides_act_like_configuration_and_leave_properties_alone():
    xs = [1.0, 2.0, 3.0, 4.0]
    ys = [4.0, 5.5, 7.0, 8.5]
    searcher = small_searcher(max_complexity=5)
    before = config_of(searcher)
    overridden = searcher.find_function(xs, ys, 0.01, 0.9)
    assert config_of(searcher) == before
    configured = small_searcher(max_complexity=5, alpha=0.01, l1_ratio=0.9).find_function(xs, ys)
    assert repr(overridden) == repr(configured)
    assert repr(searcher.find_function(xs, ys, alpha=None, l1_ratio=None)) == repr(searcher.find_function(xs, ys))
    # The penalty on the fitted constants is part of the error only with alpha.
    assert searcher.find_function(xs, ys).error < overridden.error


def test_unsupported_configurations_are_refused_before_searching(capfd):
    with pytest.raises(kiv_sr.KivDimensionError, match="max_complexity must be at least 1"):
        small_searcher(max_complexity=0).find_function([1.0], [1.0])
    with pytest.raises(kiv_sr.KivDimensionError, match="at most 255 input variables"):
        small_searcher().find_multivariate([[1.0] * 256], [1.0])
    assert capfd.readouterr().out == ""


def test_searcher_can_be_shared_between_threads():
    searcher = small_searcher()
    results = [None] * 4

    def run(slot):
        results[slot] = repr(searcher.find_multivariate([[1.0, 2.0], [3.0, 4.0]], [3.0, 7.0]))

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(results))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [results[0]] * len(results)
    assert "Plus(v_{0}, v_{1})" in results[0]


# --- progress output ---------------------------------------------------------------

SUMMARY = re.compile(r"^\[KIV-SR\]   -> Level (\d+) processed in \d+(\.\d+)?(s|ms|µs|ns)\. Retaining top (\d+) candidates\.$")
PROGRESS = re.compile(r"^  \[KIV\] L(\d+) Progress: \[[█░]{10}\] (\d+)% \((\d+)/(\d+)\) \| \d+\.\ds \(Est: -?\d+\.\ds\)   $")


def test_progress_output_banner_levels_and_progress_lines(capfd):
    rng = np.random.default_rng(5)
    xs = rng.uniform(-1.0, 1.0, 25)
    small_searcher(max_complexity=4, beam_width=30).find_function(xs, rng.standard_normal(25))
    out = capfd.readouterr().out
    lines = out.split("\n")
    assert lines[0] == "[KIV-SR] Started search space exploration. Level 1 seeded with 2 primary nodes."
    summaries = [SUMMARY.match(line) for line in lines if line.startswith("[KIV-SR]   ->")]
    assert [int(m.group(1)) for m in summaries] == [2, 3, 4]
    assert all(int(m.group(4)) <= 30 for m in summaries)
    progress = [part for line in lines for part in line.split("\r") if part.startswith("  [KIV]")]
    assert progress and all(PROGRESS.match(part) for part in progress)
    for level in (2, 3, 4):
        percentages = [int(PROGRESS.match(p).group(2)) for p in progress if PROGRESS.match(p).group(1) == str(level)]
        assert percentages and max(percentages) == 100
        assert len(set(percentages)) == len(percentages)


def test_nothing_is_printed_when_level_one_already_fits(capfd):
    xs = [1.0, 2.0, 3.0]
    result = small_searcher().find_function(xs, xs)
    assert result.formula == "v_{0}"
    assert capfd.readouterr().out == ""
