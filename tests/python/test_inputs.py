"""Input conversion, observed through the public API.

The variable-leaf results "v_{j}" read element j of whatever they are given,
so eval and eval_batch on them show exactly what a conversion produced."""

import math

import numpy as np
import pandas as pd
import pytest

from conftest import LEAF_COLUMNS, small_searcher


def vector_seen(leaves, argument, length):
    return [leaves[j].eval(argument) for j in range(length)]


def matrix_seen(leaves, argument):
    """The converted rows, each padded with NaN to LEAF_COLUMNS values."""
    columns = [leaf.eval_batch(argument) for leaf in leaves]
    return [[column[i] for column in columns] for i in range(len(columns[0]))]


def same(actual, expected):
    """Equal bit for bit (so -0.0 differs from 0.0, and NaN equals NaN)."""
    return np.array_equal(np.array(actual, dtype=float).view(np.int64), np.array(expected, dtype=float).view(np.int64))


Floaty = type("Floaty", (), {"__float__": lambda self: 4.5})
# Converted by NumPy, as pandas and other array libraries are.
ArrayLike = type("ArrayLike", (), {"__init__": lambda self, a: setattr(self, "a", a),
                                   "__array__": lambda self, dtype=None, copy=None: np.asarray(self.a)})
Refusing = type("Refusing", (), {"__array__": lambda self, dtype=None, copy=None: 1 / 0})
Indexy = type("Indexy", (), {"__index__": lambda self: 7})


@pytest.mark.parametrize(
    "argument, expected",
    [
        ([1, 2.5, True], [1.0, 2.5, 1.0]),
        ((1.5, -1.0), [1.5, -1.0]),  # -1.0 is also the C API's failure value
        (range(3), [0.0, 1.0, 2.0]),
        (b"\x01\x02", [1.0, 2.0]),
        ([np.float32(0.5), np.int64(3), Floaty(), Indexy()], [0.5, 3.0, 4.5, 7.0]),
        ([math.nan, math.inf, -0.0], [math.nan, math.inf, -0.0]),
        (np.array([0.1, -0.0, 5e-324, 1.7976931348623157e308]), [0.1, -0.0, 5e-324, 1.7976931348623157e308]),
        (np.array([1.5, 2.5], dtype=">f8"), [1.5, 2.5]),
        (np.ma.masked_array([1.0, 2.0], mask=[True, False]), [1.0, 2.0]),
        (ArrayLike([1.5, -0.0]), [1.5, -0.0]),
        (ArrayLike(np.array([3, 4], dtype=np.int16)), [3.0, 4.0]),
        (pd.Series([0.5, 2.0], index=[7, 3]), [0.5, 2.0]),
    ],
)
def test_vector_values(known, argument, expected):
    assert same(vector_seen(known["leaves"], argument, len(expected)), expected)


@pytest.mark.parametrize(
    "argument, expected",
    [
        ([[1.0, 2.0], [3.0]], [[1.0, 2.0], [3.0]]),  # ragged
        (((1, True), (2, 3)), [[1.0, 1.0], [2.0, 3.0]]),
        ([np.array([1, 2], dtype=np.int8), range(3), b"\x05"], [[1.0, 2.0], [0.0, 1.0, 2.0], [5.0]]),
        ([[], [1.0]], [[], [1.0]]),
        (np.arange(6.0).reshape(2, 3), [[0.0, 1.0, 2.0], [3.0, 4.0, 5.0]]),
        (np.asfortranarray(np.arange(6.0).reshape(2, 3)), [[0.0, 1.0, 2.0], [3.0, 4.0, 5.0]]),
        (np.arange(6.0).reshape(3, 2).T, [[0.0, 2.0, 4.0], [1.0, 3.0, 5.0]]),
        (np.arange(6.0).reshape(3, 2)[::-1], [[4.0, 5.0], [2.0, 3.0], [0.0, 1.0]]),
        (np.arange(12.0).reshape(3, 4)[::2, ::-2], [[3.0, 1.0], [11.0, 9.0]]),
        (np.arange(8.0).reshape(4, 2)[:, :1], [[0.0], [2.0], [4.0], [6.0]]),
        (np.zeros((0, 3)), []),  # empty arrays may have no data pointer at all
        (np.zeros((2, 0)), [[], []]),
        ([], []),
        (ArrayLike(np.arange(6.0).reshape(3, 2).T), [[0.0, 2.0, 4.0], [1.0, 3.0, 5.0]]),
        (pd.DataFrame({"p": [1.0, 2.0], "t": [3, 4]}), [[1.0, 3.0], [2.0, 4.0]]),
    ],
)
def test_matrix_rows(known, argument, expected):
    padded = [[float(v) for v in row] + [math.nan] * (LEAF_COLUMNS - len(row)) for row in expected]
    assert same(matrix_seen(known["leaves"], argument), padded)


NON_VECTORS = [2.5, "1 2 3", None, [1.0, None], [1.0, "2"], [[1.0], [2.0]], {1.0: 1.0}, {1.0},
               (x for x in [1.0]), iter([1.0]), np.array(1.0), np.zeros((1, 1)), pd.DataFrame({"a": [1.0]}),
               Refusing(), ArrayLike(2.0)]
NON_MATRICES = [[1.0, 2.0], "ab", ["ab"], [[1.0], None], [[1.0], [None]], 2.5, None, np.zeros(3), np.array(1.0),
                np.zeros((1, 1, 1)), (row for row in [[1.0]]), {(1.0,)}, pd.Series([1.0]), ArrayLike(np.zeros((1, 1, 1)))]


@pytest.mark.parametrize("method, argument", [("find_function", a) for a in NON_VECTORS]
                         + [("find_multivariate", a) for a in NON_MATRICES])
def test_wrong_shapes_are_refused(method, argument):
    with pytest.raises(ValueError, match=f"^Input must be a {1 if method == 'find_function' else 2}D list or "):
        getattr(small_searcher(), method)(argument, [1.0])


def test_conversion_leaves_inputs_untouched(known):
    rows, array = [[1.0, 2.0], [3.0, 4.0]], np.arange(6.0).reshape(3, 2)
    known["sum"].eval_batch(rows)
    known["sum"].eval_batch(array)
    assert rows == [[1.0, 2.0], [3.0, 4.0]] and np.array_equal(array, np.arange(6.0).reshape(3, 2))
