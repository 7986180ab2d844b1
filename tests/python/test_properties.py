"""Generated inputs (nested sequences, arrays of every dtype, memory layout and
shape, junk) into every entry point: each returns its documented type or raises
a documented exception; an array and the equal list give the same results."""

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import kiv_sr

# NumPy's complex scalars convert to float by dropping the imaginary part, with a warning.
pytestmark = pytest.mark.filterwarnings("ignore::numpy.exceptions.ComplexWarning")

# Tiny searches: two levels, a few candidates kept, on at most six rows.
SEARCHER = kiv_sr.Searcher(max_complexity=2, beam_width=8)
DOCUMENTED = (TypeError, ValueError, OverflowError, kiv_sr.KivDimensionError, kiv_sr.KivComplexityError)
SETTINGS = settings(max_examples=100, deadline=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


@pytest.fixture(scope="module", autouse=True)
def one_worker():
    """Tiny searches run faster on the calling thread alone than handed to a pool."""
    with pytest.MonkeyPatch.context() as patch:
        patch.setenv("KIV_SR_NUM_THREADS", "1")
        yield


def refuse(self):
    raise ZeroDivisionError("no value")


# A number-like object whose conversion fails with an unrelated error.
Refusing = type("Refusing", (), {"__float__": refuse, "__index__": refuse})


FLOATS = st.floats(allow_nan=True, allow_infinity=True)
NUMBERS = st.one_of(FLOATS, st.integers(-(2**70), 2**70), st.booleans())
JUNK = st.one_of(st.none(), st.text(max_size=3), st.binary(max_size=3), st.complex_numbers(max_magnitude=10.0),
                 st.builds(Refusing), st.builds(object), st.dictionaries(st.integers(0, 3), FLOATS, max_size=2))
SCALARS = st.one_of(NUMBERS, NUMBERS, JUNK)
NESTED = st.recursive(SCALARS, lambda inner: st.one_of(st.lists(inner, max_size=5), st.tuples(inner, inner)),
                      max_leaves=16)
NUMERIC_DTYPES = ["?", "i1", "u1", "i2", "u2", "i4", "u4", "i8", "u8", "f2", "f4", "f8", ">f8", "<f8", ">f4", ">i8"]
OTHER_DTYPES = ["c8", "c16", "U3", "S3", "M8[D]", "m8[s]"]


def filled(view, array):
    view[...] = array
    return view


# The same shape and dtype in another memory layout (values may move).
LAYOUTS = {
    "C": lambda a: a,
    "F": np.asfortranarray,
    "reversed": lambda a: a[(slice(None, None, -1),) * a.ndim],
    "transposed": lambda a: a.T,
    "strided": lambda a: filled(np.empty(tuple(2 * n for n in a.shape), a.dtype)[(slice(None, None, 2),) * a.ndim], a),
    "unaligned": lambda a: filled(np.zeros(a.nbytes + 1, np.uint8)[1:].view(a.dtype).reshape(a.shape), a),
}


@st.composite
def arrays(draw, dtypes, min_dims=0, max_dims=3, max_side=4):
    shape = draw(hnp.array_shapes(min_dims=min_dims, max_dims=max_dims, min_side=0, max_side=max_side))
    array = draw(hnp.arrays(np.dtype(draw(st.sampled_from(dtypes))), shape))
    # Indexing a 0-d array with () gives a scalar.
    return LAYOUTS[draw(st.sampled_from(sorted(LAYOUTS)))](array) if array.ndim else array


ANY_ARRAY = arrays(NUMERIC_DTYPES + OTHER_DTYPES)
OBJECT_ARRAY = hnp.arrays(np.dtype("O"), hnp.array_shapes(min_dims=1, max_dims=2, max_side=3), elements=SCALARS)
ANYTHING = st.one_of(NESTED, ANY_ARRAY, OBJECT_ARRAY)
# Convertible inputs: ragged lists of numbers, or numeric arrays.
MATRICES = st.one_of(st.lists(st.lists(NUMBERS, max_size=4), max_size=6),
                     arrays(NUMERIC_DTYPES, min_dims=2, max_dims=2, max_side=6))
VECTORS = st.one_of(st.lists(NUMBERS, max_size=6), arrays(NUMERIC_DTYPES, min_dims=1, max_dims=1, max_side=6))


def same_floats(a, b):
    return np.array_equal(np.array(a, dtype=float), np.array(b, dtype=float), equal_nan=True)


def strided_float64_vector(value):
    return isinstance(value, np.ndarray) and value.ndim == 1 and value.dtype == np.float64 and not (
        value.flags.c_contiguous or value.flags.f_contiguous)


def outcome(call):
    """What the call produced: ("value", its printable form) or ("error", class, message)."""
    try:
        value = call()
    except DOCUMENTED as error:
        return ("error", type(error), str(error))
    return ("value", [repr(v) for v in value] if isinstance(value, list) else repr(value))


@pytest.fixture(scope="module")
def results(known):
    return [known["sum"], known["offset"], known["log"], known["leaves"][3]]


@SETTINGS
@given(first=ANYTHING, second=ANYTHING, scalar=st.one_of(SCALARS, ANYTHING))
def test_every_entry_point_returns_or_raises_a_documented_error(results, first, second, scalar):
    calls = [
        (lambda: SEARCHER.find_function(first, second), kiv_sr.SearchResult),
        (lambda: SEARCHER.find_multivariate(first, second), kiv_sr.SearchResult),
        (lambda: SEARCHER.fit(first, second), kiv_sr.SearchResult),
        (lambda: SEARCHER.find_candidates(first, second), list),
        (lambda: SEARCHER.find_function([1.0, 2.0], [2.0, 3.0], alpha=scalar), kiv_sr.SearchResult),
        (lambda: SEARCHER.find_function([1.0, 2.0], [2.0, 3.0], l1_ratio=scalar), kiv_sr.SearchResult),
        (lambda: SEARCHER.recognize_constant(scalar), kiv_sr.SearchResult),
        (lambda: kiv_sr.Searcher(scalar), kiv_sr.Searcher),
        (lambda: kiv_sr.Searcher(2, scalar, scalar, scalar, scalar), kiv_sr.Searcher),
    ]
    for result in results:
        calls += [(lambda r=result: r.eval(first), float), (lambda r=result: r.eval(scalar), float)]
        calls += [(lambda r=result: r.eval_batch(first), list), (lambda r=result: r.predict(second), list)]
    for call, returned in calls:
        try:
            value = call()
        except (*DOCUMENTED, ZeroDivisionError):  # Refusing's own error passes through scalar arguments
            continue
        assert type(value) is returned
        if returned is list and value and type(value[0]) is not kiv_sr.SearchResult:
            assert all(type(v) is float for v in value)


def listed(value):
    return value.tolist() if isinstance(value, np.ndarray) else value


@SETTINGS
@given(matrix=MATRICES, vector=VECTORS, ys=VECTORS)
def test_arrays_and_equal_lists_give_the_same_results(results, matrix, vector, ys):
    calls = [lambda m, v, y: SEARCHER.find_function(v, y), lambda m, v, y: SEARCHER.find_candidates(m, y)]
    calls += [lambda m, v, y, r=r: (r.eval(v), r.eval_batch(m), r.predict(m)) for r in results]
    for call in calls:
        from_arrays = outcome(lambda: call(matrix, vector, ys))
        from_lists = outcome(lambda: call(listed(matrix), listed(vector), listed(ys)))
        if from_arrays != from_lists:  # only strided float64 vectors are refused
            assert strided_float64_vector(vector) or strided_float64_vector(ys)
            assert from_arrays[1:] in [(TypeError, "The given array is not contiguous"),
                                       (ValueError, "Input must be a float or a 1D list/array")]
    for result in results:  # a batch is evaluated row by row
        assert same_floats(result.eval_batch(matrix), [result.eval(list(row)) for row in listed(matrix)])
