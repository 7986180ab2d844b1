"""How failures reach Python: each refusal raises exactly its class with its
message, before anything is printed; memory exhaustion and internal errors."""

import math
import re

import numpy as np
import pytest

import kiv_sr
from conftest import UNDER_ADDRESS_SANITIZER, small_searcher

XS = [1.0, 2.0, 3.0]
VECTOR = "^Input must be a 1D list or NumPy array of floats$"
MATRIX = "^Input must be a 2D list or 2D NumPy array of floats$"
NOT_FLOAT_OR_VECTOR = "^Input must be a float or a 1D list/array$"
LENGTHS = "^Inputs and target vector must be non-empty and equal length\\.$"
Searcher = kiv_sr.Searcher
Dimension, Complexity = kiv_sr.KivDimensionError, kiv_sr.KivComplexityError


def columns(n):
    return f"^Inputs have {n} columns; at most 255 input variables are supported\\.$"


# (call on a searcher s and the result r = "Plus(v_{0}, v_{1})", class, message pattern)
REFUSALS = {
    # search requests the engine refuses, or that find nothing
    "lengths": (lambda s, r: s.find_function([1.0, 2.0], [1.0]), Dimension, LENGTHS),
    "rows and targets": (lambda s, r: s.find_multivariate([[1.0], [2.0], [3.0]], [1.0, 2.0]), Dimension, LENGTHS),
    "empty lists": (lambda s, r: s.find_function([], []), Dimension, LENGTHS),
    "empty arrays": (lambda s, r: s.find_candidates(np.empty((0, 2)), np.empty(0)), Dimension, LENGTHS),
    "empty vector": (lambda s, r: s.find_function(np.array([]), []), Dimension, LENGTHS),
    "256 columns": (lambda s, r: s.fit([[1.0] * 256], [1.0]), Dimension, columns(256)),
    "first row decides": (lambda s, r: s.find_multivariate([[1.0] * 300, [2.0]], [1.0, 2.0]), Dimension, columns(300)),
    "max_complexity 0": (lambda s, r: Searcher(max_complexity=0).find_function(XS, XS), Dimension,
                         "^max_complexity must be at least 1\\.$"),
    "no formula": (lambda s, r: Searcher(max_complexity=1).find_function([1.0, 2.0], [math.nan, 1.0]), Complexity,
                   "^No formula found up to complexity 1$"),
    "no constant": (lambda s, r: s.recognize_constant(math.inf), Complexity, "^No formula found up to complexity 3$"),
    # conversions
    "strided float64": (lambda s, r: s.find_function(np.arange(6.0)[::2], XS), TypeError,
                        "^The given array is not contiguous$"),
    "xs not a vector": (lambda s, r: s.find_function("abc", XS), ValueError, VECTOR),
    "ys not a vector": (lambda s, r: s.find_function(XS, "abc"), ValueError, VECTOR),
    "inputs not a matrix": (lambda s, r: s.find_multivariate([1.0], "abc"), ValueError, MATRIX),
    "ys of rows": (lambda s, r: s.find_candidates([[1.0]], "abc"), ValueError, VECTOR),
    "eval of text": (lambda s, r: r.eval("1.5"), ValueError, NOT_FLOAT_OR_VECTOR),
    "eval of rows": (lambda s, r: r.eval([[1.0, 2.0]]), ValueError, NOT_FLOAT_OR_VECTOR),
    "eval of strided": (lambda s, r: r.eval(np.arange(6.0)[::2]), ValueError, NOT_FLOAT_OR_VECTOR),
    "eval_batch of a vector": (lambda s, r: r.eval_batch([1.0, 2.0]), ValueError, MATRIX),
    "predict of None": (lambda s, r: r.predict(None), ValueError, MATRIX),
    # scalar arguments, converted before the data, in parameter order
    "alpha before data": (lambda s, r: s.find_function("abc", "abc", alpha="x"), TypeError, "^argument 'alpha': "),
    "l1_ratio": (lambda s, r: s.fit([1.0], XS, l1_ratio="x"), TypeError, "^argument 'l1_ratio': "),
    "alpha before l1_ratio": (lambda s, r: s.find_function("abc", XS, "x", "y"), TypeError, "^argument 'alpha': "),
    "list alpha": (lambda s, r: s.find_candidates(None, None, alpha=[]), TypeError, "^argument 'alpha': "),
    "value first": (lambda s, r: s.recognize_constant("pi", alpha="x"), TypeError, "^argument 'value': "),
    "alpha of a constant": (lambda s, r: s.recognize_constant(1.0, alpha="x"), TypeError, "^argument 'alpha': "),
    "float max_complexity": (lambda s, r: Searcher(max_complexity=2.5), TypeError, "^argument 'max_complexity': "),
    "None max_complexity": (lambda s, r: Searcher(None), TypeError, "^argument 'max_complexity': "),
    "first bad parameter": (lambda s, r: Searcher(1, "bad", "also bad", None, None), TypeError,
                            "^argument 'complexity_penalty': "),
    "float beam_width": (lambda s, r: Searcher(beam_width=1.0), TypeError, "^argument 'beam_width': "),
    "None alpha": (lambda s, r: Searcher(alpha=None), TypeError, "^argument 'alpha': "),
    "list l1_ratio": (lambda s, r: Searcher(l1_ratio=[0.5]), TypeError, "^argument 'l1_ratio': "),
    "negative count": (lambda s, r: Searcher(max_complexity=-1), OverflowError, ""),
    "count of 2**64": (lambda s, r: Searcher(beam_width=2**64), OverflowError, ""),
    "int beyond float": (lambda s, r: Searcher(alpha=10**400), OverflowError, ""),
    # binding of arguments
    "missing ys": (lambda s, r: s.find_function(XS), TypeError, "ys"),
    "unknown keyword": (lambda s, r: s.find_function(XS, XS, bogus=1), TypeError, "bogus"),
    "too many": (lambda s, r: s.find_function(XS, XS, 0.1, 0.2, 0.3), TypeError, "at most 4 arguments"),
    "twice": (lambda s, r: Searcher(3, max_complexity=3), TypeError, "max_complexity"),
    "constructor": (lambda s, r: kiv_sr.SearchResult(), TypeError, "^No constructor defined for SearchResult$"),
    "read-only": (lambda s, r: setattr(r, "error", 1.0), AttributeError, ""),
}


@pytest.mark.parametrize("name", REFUSALS)
def test_refusals(name, sum_result, capfd):
    call, cls, message = REFUSALS[name]
    with pytest.raises(BaseException) as caught:
        call(small_searcher(), sum_result)
    assert type(caught.value) is cls
    assert re.search(message, str(caught.value))
    if cls is not Complexity:
        assert capfd.readouterr().out == ""  # refused before any search


@pytest.mark.skipif(UNDER_ADDRESS_SANITIZER, reason="AddressSanitizer aborts on a failed allocation")
def test_allocation_failure_raises_memory_error():
    # 2**40 rows without columns: no NumPy memory, but terabytes of row vectors.
    with pytest.raises(MemoryError):
        small_searcher().find_multivariate(np.empty((2**40, 0)), [1.0])


def test_internal_errors_derive_from_base_exception_only():
    # More rows than a C++ vector can ever hold: a container limit, not an
    # allocation failure, escapes the bindings as a C++ exception.
    with pytest.raises(BaseException) as caught:
        small_searcher().find_multivariate(np.empty((2**59, 0)), [1.0])
    cls = type(caught.value)
    assert (cls.__bases__, cls.__module__, cls.__name__) == ((BaseException,), "kiv_sr", "KivInternalError")
    assert cls.__doc__ == "A broken internal invariant of kiv_sr: a bug, not a problem with the input."
    assert re.match("^An internal error occurred in kiv_sr: .*max_size", str(caught.value))
    assert small_searcher().find_function([1.0, 2.0], [1.0, 2.0]).formula == "v_{0}"  # still usable
