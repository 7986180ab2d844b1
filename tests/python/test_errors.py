"""How failures reach Python: the module's exception classes, memory
exhaustion, and internal errors that `except Exception` must not swallow."""

import math

import numpy as np
import pytest

import kiv_sr
from conftest import UNDER_ADDRESS_SANITIZER, small_searcher


def test_empty_or_mismatched_data_raise_dimension_error(capfd):
    searcher = small_searcher()
    message = "Inputs and target vector must be non-empty and equal length."
    for call in (
        lambda: searcher.find_function([1.0, 2.0], [1.0]),
        lambda: searcher.find_function([], []),
        lambda: searcher.find_multivariate([[1.0], [2.0], [3.0]], [1.0, 2.0]),
        lambda: searcher.find_candidates(np.empty((0, 2)), np.empty(0)),
    ):
        with pytest.raises(Exception) as caught:  # the module's classes are ordinary exceptions
            call()
        assert type(caught.value) is kiv_sr.KivDimensionError
        assert caught.value.args == (message,)
    assert capfd.readouterr().out == ""  # refused before anything is printed


def test_no_formula_found_raises_complexity_error_quoting_max_complexity(capfd):
    for max_complexity in (1, 3):
        with pytest.raises(kiv_sr.KivComplexityError) as caught:
            small_searcher(max_complexity=max_complexity).find_multivariate([[1.0], [2.0]], [math.nan, 1.0])
        assert str(caught.value) == f"No formula found up to complexity {max_complexity}"
    # Raised after the whole search ran, with its progress output.
    assert "Level 3 processed" in capfd.readouterr().out


def test_runtime_error_class_is_exported_but_never_raised_by_searches():
    assert issubclass(kiv_sr.KivRuntimeError, Exception)
    with pytest.raises(kiv_sr.KivRuntimeError, match="^custom$"):
        raise kiv_sr.KivRuntimeError("custom")


def test_a_failed_call_changes_nothing():
    searcher = small_searcher(alpha=0.25)
    for bad in (lambda: searcher.find_function([1.0], [], alpha=3.0), lambda: searcher.fit("x", [1.0], 1.0, 1.0)):
        with pytest.raises(Exception):
            bad()
    assert (searcher.alpha, searcher.l1_ratio, searcher.max_complexity) == (0.25, 0.5, 3)
    assert small_searcher().find_function([1.0, 2.0], [1.0, 2.0]).formula == "v_{0}"


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
    error = caught.value
    cls = type(error)
    assert not isinstance(error, Exception)
    assert cls.__bases__ == (BaseException,)
    assert cls.__module__ == "kiv_sr"
    assert cls not in [getattr(kiv_sr, name) for name in kiv_sr.__all__]
    assert str(error).startswith("An internal error occurred in kiv_sr: ")
    assert "max_size" in str(error)
    # The module stays usable afterwards.
    assert small_searcher().find_function([1.0, 2.0], [1.0, 2.0]).formula == "v_{0}"
