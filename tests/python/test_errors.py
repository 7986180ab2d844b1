"""How failures reach Python: each refusal raises exactly its class with its
message, before anything is printed; memory exhaustion and internal errors."""

import re

import numpy as np
import pytest

import kiv_sr
from conftest import UNDER_ADDRESS_SANITIZER, small_searcher

VECTOR = "^Input must be a 1D list or NumPy array of floats$"
MATRIX = "^Input must be a 2D list or 2D NumPy array of floats$"
NOT_FLOAT_OR_VECTOR = "^Input must be a float or a 1D list/array$"
LENGTHS = "^Inputs and target vector must be non-empty and equal length\\.$"
COLUMNS = "^Inputs have {} columns; at most 255 input variables are supported\\.$"
Dimension, Complexity = kiv_sr.KivDimensionError, kiv_sr.KivComplexityError

# (call of s, a small searcher, or r, the result "Plus(v_{0}, v_{1})"; class; message pattern)
REFUSALS = [
    # search requests the engine refuses, or that find nothing
    ("s.find_function([1.0, 2.0], [1.0])", Dimension, LENGTHS),
    ("s.find_function(np.array([]), [])", Dimension, LENGTHS),
    ("s.find_candidates(np.empty((0, 2)), np.empty(0))", Dimension, LENGTHS),
    ("s.fit([[1.0] * 256], [1.0])", Dimension, COLUMNS.format(256)),
    ("s.find_multivariate([[1.0] * 300, [2.0]], [1.0, 2.0])", Dimension, COLUMNS.format(300)),
    ("kiv_sr.Searcher(max_complexity=0).find_function([1.0], [1.0])", Dimension, "^max_complexity must be at least 1"),
    ("kiv_sr.Searcher(max_complexity=1).find_function([1.0, 2.0], [np.nan, 1.0])", Complexity,
     "^No formula found up to complexity 1$"),
    ("s.recognize_constant(np.inf)", Complexity, "^No formula found up to complexity 3$"),
    # settings that would make every error meaningless, stored but refused by a search
    ("kiv_sr.Searcher(3, alpha=np.nan).find_function([1.0, 2.0], [2.0, 5.0])", Dimension,
     r"^alpha must be a finite number of at least 0; got nan\.$"),
    ("s.recognize_constant(2.0, alpha=-1)", Dimension, r"^alpha must be a finite number of at least 0; got -1\.$"),
    ("s.find_candidates([[1.0], [2.0]], [2.0, 5.0], l1_ratio=np.inf)", Dimension,
     r"^l1_ratio must be a number from 0 to 1; got inf\.$"),
    ("s.fit([[1.0], [2.0]], [2.0, 5.0], l1_ratio=-0.5)", Dimension, r"^l1_ratio must be a number from 0 to 1; got -0\.5\.$"),
    ("kiv_sr.Searcher(complexity_penalty=np.nan).fit([[1.0]], [1.0])", Dimension,
     r"^complexity_penalty must be a number; got nan\.$"),
    # conversions
    ("s.find_function(np.arange(6.0)[::2], [1.0] * 3)", TypeError, "^The given array is not contiguous$"),
    ("s.find_function([1.0], 'abc')", ValueError, VECTOR),
    ("s.find_multivariate([1.0], 'abc')", ValueError, MATRIX),
    ("s.find_candidates([[1.0]], 'abc')", ValueError, VECTOR),
    ("r.eval('1.5')", ValueError, NOT_FLOAT_OR_VECTOR),
    ("r.eval([[1.0, 2.0]])", ValueError, NOT_FLOAT_OR_VECTOR),
    ("r.eval(np.arange(6.0)[::2])", ValueError, NOT_FLOAT_OR_VECTOR),
    ("r.eval_batch([1.0, 2.0])", ValueError, MATRIX),
    ("r.predict(None)", ValueError, MATRIX),
    # scalar arguments, converted before the data, in parameter order
    ("s.find_function('abc', 'abc', alpha='x')", TypeError, "^argument 'alpha': "),
    ("s.find_function('abc', [1.0], 'x', 'y')", TypeError, "^argument 'alpha': "),
    ("s.fit([1.0], [1.0], l1_ratio='x')", TypeError, "^argument 'l1_ratio': "),
    ("s.recognize_constant('pi', alpha='x')", TypeError, "^argument 'value': "),
    ("s.recognize_constant(1.0, alpha='x')", TypeError, "^argument 'alpha': "),
    ("kiv_sr.Searcher(max_complexity=2.5)", TypeError, "^argument 'max_complexity': "),
    ("kiv_sr.Searcher(1, 'bad', 'also bad', None, None)", TypeError, "^argument 'complexity_penalty': "),
    ("kiv_sr.Searcher(beam_width=1.0)", TypeError, "^argument 'beam_width': "),
    ("kiv_sr.Searcher(alpha=None)", TypeError, "^argument 'alpha': "),
    ("kiv_sr.Searcher(l1_ratio=[0.5])", TypeError, "^argument 'l1_ratio': "),
    ("kiv_sr.Searcher(max_complexity=-1)", OverflowError, ""),
    ("kiv_sr.Searcher(beam_width=2**64)", OverflowError, ""),
    ("kiv_sr.Searcher(alpha=10**400)", OverflowError, ""),
    # binding of arguments
    ("s.find_function([1.0])", TypeError, "ys"),
    ("s.find_function([1.0], [1.0], bogus=1)", TypeError, "bogus"),
    ("s.find_function([1.0], [1.0], 0.1, 0.2, 0.3)", TypeError, "at most 4 arguments"),
    ("kiv_sr.Searcher(3, max_complexity=3)", TypeError, "max_complexity"),
    ("kiv_sr.SearchResult()", TypeError, "^No constructor defined for SearchResult$"),
    ("setattr(r, 'error', 1.0)", AttributeError, ""),
]


@pytest.mark.parametrize("call, cls, message", REFUSALS, ids=[row[0] for row in REFUSALS])
def test_refusals(call, cls, message, known, capfd):
    with pytest.raises(BaseException) as caught:
        eval(call, {"s": small_searcher(), "r": known["sum"], "np": np, "kiv_sr": kiv_sr})
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
