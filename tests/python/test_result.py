"""SearchResult: properties, printed form, evaluation and rendering."""

import gc
import math
import re

import numpy as np
import pytest

import kiv_sr
from conftest import small_searcher

FLOAT_OR_LIST_MESSAGE = "Input must be a float or a 1D list/array"
MATRIX_MESSAGE = "Input must be a 2D list or 2D NumPy array of floats"


def test_cannot_be_constructed_from_python():
    for args in ((), ("Plus(v_{0}, C)",), ()):
        with pytest.raises(TypeError) as caught:
            kiv_sr.SearchResult(*args)
        assert str(caught.value) == "No constructor defined for SearchResult"


def test_properties(sum_result):
    assert (sum_result.formula, sum_result.error, sum_result.complexity) == ("Plus(v_{0}, v_{1})", 0.0, 3)
    assert type(sum_result.error) is float
    assert type(sum_result.complexity) is int
    for name in ("formula", "error", "complexity"):
        with pytest.raises(AttributeError):
            setattr(sum_result, name, None)


def test_printed_form_of_an_exact_result(sum_result):
    assert repr(sum_result) == "SearchResult(formula='Plus(v_{0}, v_{1})', error=0.000000e0, complexity=3)"
    assert str(sum_result) == repr(sum_result)


def test_printed_error_is_the_error_in_six_digit_exponent_notation():
    xs = [0.5 * i for i in range(12)]
    ys = [math.sin(3 * x) + 0.01 * (-1) ** i for i, x in enumerate(xs)]
    result = small_searcher(max_complexity=3).find_function(xs, ys)
    match = re.fullmatch(r"SearchResult\(formula='(.*)', error=(-?\d\.\d{6}e-?[1-9]\d*|0\.000000e0), complexity=(\d+)\)",
                         repr(result))
    assert match, repr(result)
    assert match.group(1) == result.formula
    assert int(match.group(3)) == result.complexity
    mantissa, exponent = match.group(2).split("e")
    assert float(match.group(2)) == pytest.approx(result.error, rel=1e-6)
    assert f"{result.error:.6e}" == f"{mantissa}e{int(exponent):+03d}"


def test_eval_of_a_number_is_a_one_variable_point(offset_result):
    assert offset_result.eval(2) == pytest.approx(2.1)
    assert offset_result.eval(-1.0) == pytest.approx(-0.9)
    assert offset_result.eval(True) == pytest.approx(1.1)
    assert offset_result.eval(np.float32(2.0)) == pytest.approx(2.1)
    assert offset_result.eval(np.array(2.0)) == pytest.approx(2.1)
    assert type(offset_result.eval(2)) is float


def test_eval_of_a_sequence_is_one_point(sum_result, sine_result):
    assert sum_result.eval([1.0, 2.0]) == 3.0
    assert sum_result.eval((1, 2)) == 3.0
    assert sum_result.eval(np.array([1.0, 2.0])) == 3.0
    assert sum_result.eval(np.array([1, 2], dtype=np.int8)) == 3.0
    assert sine_result.eval([1.0, 2.0, 3.0]) == math.sin(1.0)


def test_eval_is_nan_where_the_formula_has_no_value(sum_result, sine_result, log_result):
    assert math.isnan(sine_result.eval([]))
    assert math.isnan(sum_result.eval([1.0]))
    assert math.isnan(log_result.eval(0.0))
    assert log_result.eval(-1.0) == 0.0  # real part of the complex logarithm
    assert math.isnan(sine_result.eval(math.inf))


@pytest.mark.parametrize(
    "argument",
    ["abc", "1.5", None, [[1.0, 2.0]], [1.0, None], {1.0: 2.0}, np.arange(6.0)[::2], object()],
    ids=["str", "numeric str", "None", "list of lists", "None item", "dict", "strided float64", "object"],
)
def test_eval_refuses_what_is_neither_number_nor_vector(sum_result, argument):
    with pytest.raises(ValueError) as caught:
        sum_result.eval(argument)
    assert str(caught.value) == FLOAT_OR_LIST_MESSAGE


def test_eval_batch_evaluates_each_row(sum_result):
    assert sum_result.eval_batch([[1.0, 2.0], [3.0, 4.0]]) == [3.0, 7.0]
    assert sum_result.predict([[1.0, 2.0], [3.0, 4.0]]) == [3.0, 7.0]
    ragged = sum_result.eval_batch([[1.0, 2.0], [3.0]])
    assert ragged[0] == 3.0 and math.isnan(ragged[1])
    assert sum_result.eval_batch([]) == []
    from_array = sum_result.eval_batch(np.array([[1.0, 2.0], [3.0, 4.0]]))
    assert type(from_array) is list and from_array == [3.0, 7.0]


@pytest.mark.parametrize("method", ["eval_batch", "predict"])
@pytest.mark.parametrize("argument", [[1.0, 2.0], "ab", None, 2.5, [[1.0], "ab"], np.zeros(3)])
def test_eval_batch_refuses_non_matrices(sum_result, method, argument):
    with pytest.raises(ValueError) as caught:
        getattr(sum_result, method)(argument)
    assert str(caught.value) == MATRIX_MESSAGE


def test_eval_batch_row_equals_eval_of_the_row(log_result, sum_result):
    rng = np.random.default_rng(11)
    rows = [list(rng.uniform(-2.0, 2.0, size=rng.integers(0, 4))) for _ in range(40)] + [[0.0, 1.0]]
    for result in (log_result, sum_result):
        batch = result.eval_batch(rows)
        assert len(batch) == len(rows)
        for row, value in zip(rows, batch):
            single = result.eval(row)
            assert value == single or (math.isnan(value) and math.isnan(single))


def test_rendering_of_the_parameter_leaf(parameter_result):
    assert parameter_result.formula == "C"
    assert parameter_result.to_latex() == "0.1000"
    assert parameter_result.to_python() == "0.1000"


def test_rendering_of_found_formulas(sum_result, sine_result):
    assert sum_result.to_latex() == "v_{0} + v_{1}"
    assert sum_result.to_python() == "(v_{0})+(v_{1})"
    assert sine_result.to_latex() == "\\sin(v_{0})"
    assert sine_result.to_python() == "np.sin(v_{0})"


def test_results_outlive_their_searcher():
    searcher = small_searcher()
    candidates = searcher.find_candidates([[1.0, 2.0], [3.0, 4.0], [5.0, 7.0]], [3.0, 7.0, 12.0])
    del searcher
    gc.collect()
    best = candidates[0]
    del candidates
    gc.collect()
    assert best.eval([2.0, 3.0]) == 5.0
    assert best.to_latex() == "v_{0} + v_{1}"
