"""Input conversion, observed through the public API.

The variable-leaf results "v_{j}" read element j of whatever they are given,
so eval and eval_batch on them show exactly what a conversion produced.
Conversion errors are observed on the search methods, before any search."""

import math

import numpy as np
import pytest

from conftest import LEAF_COLUMNS, small_searcher

VECTOR_MESSAGE = "Input must be a 1D list or NumPy array of floats"
MATRIX_MESSAGE = "Input must be a 2D list or 2D NumPy array of floats"
NOT_CONTIGUOUS = "The given array is not contiguous"


def vector_seen(leaves, argument, length):
    return [leaves[j].eval(argument) for j in range(length)]


def matrix_seen(leaves, argument):
    """The converted rows, each padded with NaN to LEAF_COLUMNS values."""
    columns = [leaf.eval_batch(argument) for leaf in leaves]
    return [[column[i] for column in columns] for i in range(len(columns[0]))]


def padded(rows):
    return [[float(v) for v in row] + [math.nan] * (LEAF_COLUMNS - len(row)) for row in rows]


def same(actual, expected):
    return np.array_equal(np.array(actual, dtype=float), np.array(expected, dtype=float), equal_nan=True)


class Floaty:
    def __float__(self):
        return 4.5


class Indexy:
    def __index__(self):
        return 7


@pytest.mark.parametrize(
    "argument, expected",
    [
        ([1, 2.5, True], [1.0, 2.5, 1.0]),
        ((1.5, -2.0), [1.5, -2.0]),
        (range(3), [0.0, 1.0, 2.0]),
        (b"\x01\x02", [1.0, 2.0]),
        ([np.float32(0.5), np.int64(3), Floaty(), Indexy()], [0.5, 3.0, 4.5, 7.0]),
        ([math.nan, math.inf, -0.0], [math.nan, math.inf, -0.0]),
        (np.array([1.0, 2.0, 3.0]), [1.0, 2.0, 3.0]),
        (np.array([1, 2, 3], dtype=np.int32), [1.0, 2.0, 3.0]),
        (np.array([True, False]), [1.0, 0.0]),
        (np.arange(6, dtype=np.float32)[::2], [0.0, 2.0, 4.0]),
        (np.arange(3, dtype=np.float32)[::-1], [2.0, 1.0, 0.0]),
        (np.array([1.5, 2.5], dtype=">f8"), [1.5, 2.5]),
        (np.ma.masked_array([1.0, 2.0], mask=[True, False]), [1.0, 2.0]),
        (np.asfortranarray(np.array([4.0, 5.0])), [4.0, 5.0]),
        (np.arange(10.0)[2:5], [2.0, 3.0, 4.0]),
    ],
    ids=["mixed list", "tuple", "range", "bytes", "number protocols", "non-finite", "float64", "int32", "bool",
         "strided float32", "reversed float32", "big-endian float64", "masked float64", "fortran float64",
         "sliced float64"],
)
def test_vector_values(variable_leaves, argument, expected):
    assert same(vector_seen(variable_leaves, argument, len(expected)), expected)


def test_vector_values_are_copied_bit_for_bit(variable_leaves):
    values = np.array([0.1, -0.0, 5e-324, 1.7976931348623157e308])
    seen = vector_seen(variable_leaves, values, 4)
    assert np.array_equal(np.array(seen).view(np.int64), values.view(np.int64))


@pytest.mark.parametrize("argument", [np.arange(6.0)[::2], np.arange(4.0)[::-1], np.zeros((3, 2))[:, 0]])
def test_strided_float64_vectors_are_refused(argument):
    with pytest.raises(TypeError) as caught:
        small_searcher().find_function(argument, [1.0] * len(argument))
    assert str(caught.value) == NOT_CONTIGUOUS


NON_VECTORS = {
    "float": 2.5, "str": "1 2 3", "None": None, "None item": [1.0, None], "str item": [1.0, "2"],
    "list of lists": [[1.0], [2.0]], "dict": {1.0: 1.0}, "set": {1.0}, "generator": (x for x in [1.0]),
    "0-d array": np.array(1.0), "2-d array": np.zeros((1, 1)), "iterator": iter([1.0]),
}
NON_MATRICES = {
    "flat list": [1.0, 2.0], "str": "ab", "str row": ["ab"], "None row": [[1.0], None],
    "None item": [[1.0], [None]], "float": 2.5, "None": None, "1-d array": np.zeros(3),
    "0-d array": np.array(1.0), "3-d array": np.zeros((1, 1, 1)), "generator": (row for row in [[1.0]]),
    "set": {(1.0,)},
}


@pytest.mark.parametrize(
    "method, argument, message",
    [pytest.param("find_function", a, VECTOR_MESSAGE, id="vector: " + k) for k, a in NON_VECTORS.items()]
    + [pytest.param("find_multivariate", a, MATRIX_MESSAGE, id="matrix: " + k) for k, a in NON_MATRICES.items()],
)
def test_wrong_shapes_are_refused(method, argument, message):
    with pytest.raises(ValueError) as caught:
        getattr(small_searcher(), method)(argument, [1.0])
    assert str(caught.value) == message


@pytest.mark.parametrize(
    "argument, expected",
    [
        ([[1.0, 2.0], [3.0]], [[1.0, 2.0], [3.0]]),
        (((1, True), (2, 3)), [[1.0, 1.0], [2.0, 3.0]]),
        ([np.array([1, 2], dtype=np.int8), range(3), b"\x05"], [[1.0, 2.0], [0.0, 1.0, 2.0], [5.0]]),
        ([], []),
        ([[], [1.0]], [[], [1.0]]),
        (np.array([[1, 2], [3, 4]]), [[1.0, 2.0], [3.0, 4.0]]),
        (np.arange(6.0).reshape(2, 3), [[0.0, 1.0, 2.0], [3.0, 4.0, 5.0]]),
        (np.asfortranarray(np.arange(6.0).reshape(2, 3)), [[0.0, 1.0, 2.0], [3.0, 4.0, 5.0]]),
        (np.arange(6.0).reshape(3, 2).T, [[0.0, 2.0, 4.0], [1.0, 3.0, 5.0]]),
        (np.arange(6.0).reshape(3, 2)[::-1], [[4.0, 5.0], [2.0, 3.0], [0.0, 1.0]]),
        (np.arange(12.0).reshape(3, 4)[::2, ::-2], [[3.0, 1.0], [11.0, 9.0]]),
        (np.zeros((0, 3)), []),
        (np.zeros((2, 0)), [[], []]),
        (np.ma.masked_array([[1.0, 2.0]], mask=[[True, False]]), [[1.0, 2.0]]),
        (np.arange(4, dtype=np.float32).reshape(2, 2)[:, ::-1], [[1.0, 0.0], [3.0, 2.0]]),
    ],
    ids=["ragged lists", "tuples", "mixed rows", "empty", "empty row", "int array", "float64", "fortran",
         "transposed", "reversed rows", "strided both ways", "no rows", "no columns", "masked", "float32 view"],
)
def test_matrix_rows(variable_leaves, argument, expected):
    assert same(matrix_seen(variable_leaves, argument), padded(expected))


def test_empty_inputs_convert_and_are_refused_by_the_search():
    import kiv_sr

    with pytest.raises(kiv_sr.KivDimensionError):
        small_searcher().find_multivariate([], [])
    with pytest.raises(kiv_sr.KivDimensionError):
        small_searcher().find_function(np.array([]), [])


def test_conversion_leaves_inputs_untouched(variable_leaves):
    rows = [[1.0, 2.0], [3.0, 4.0]]
    array = np.arange(6.0).reshape(3, 2)
    snapshot = [list(r) for r in rows], array.copy()
    variable_leaves[0].eval_batch(rows)
    variable_leaves[0].eval_batch(array)
    assert rows == snapshot[0]
    assert np.array_equal(array, snapshot[1])
