"""The module surface: names, classes, exception hierarchy, the exact doc
strings and text signatures, and (re-)initialisation."""

import importlib
import inspect
import subprocess
import sys
import textwrap
from importlib import metadata

import pytest

import kiv_sr

EXCEPTION_NAMES = ["KivDimensionError", "KivComplexityError", "KivRuntimeError"]
REQUEST = "(self, /, inputs, ys, alpha=None, l1_ratio=None)"

# Attribute path -> (signature or None, doc string or None)
TEXTS = {
    "": (None, "The main Python module entry point."),
    "Searcher": ("(max_complexity=10, complexity_penalty=0.1, beam_width=1000, alpha=0.0, l1_ratio=0.5)",
                 "The core KIV-SR search engine exposed to Python."),
    "Searcher.find_function": ("(self, /, xs, ys, alpha=None, l1_ratio=None)", "Finds a univariate function "
                               "f(x) \u2248 y.\nSupports both Python lists and NumPy arrays."),
    "Searcher.find_multivariate": (REQUEST, "Finds a multivariate function f(x0, x1, ...) \u2248 y.\n"
                                            "Inputs should be a 2D array-like structure."),
    "Searcher.fit": (REQUEST, "Alias for find_multivariate (Scikit-Learn style)."),
    "Searcher.find_candidates": (REQUEST, "Returns the Pareto-front of all candidate formulas found."),
    "Searcher.recognize_constant": ("(self, /, value, alpha=None, l1_ratio=None)",
                                    "Identifies a closed-form expression for a scalar constant."),
    "SearchResult": (None, "A high-performance symbolic regression result."),
    "SearchResult.to_latex": ("(self, /)", "Returns the formula in LaTeX format for academic reporting."),
    "SearchResult.to_python": ("(self, /)", "Returns the formula in Python/NumPy format for immediate use."),
    "SearchResult.eval": ("(self, /, x)", "Evaluates the discovered formula for a given input (float or list/array)."),
    "SearchResult.eval_batch": ("(self, /, inputs)",
                                "Evaluates the formula for a batch of inputs (list of lists or 2D array)."),
    "SearchResult.predict": ("(self, /, inputs)", "Alias for eval_batch (Scikit-Learn style)."),
    "SearchResult.formula": (None, "The discovered mathematical formula as a string."),
    "SearchResult.error": (None, "The residual error (Mean Squared Error) of the formula."),
    "SearchResult.complexity": (None, "The structural complexity of the formula."),
}


@pytest.mark.parametrize("path", TEXTS)
def test_doc_strings_and_signatures(path):
    signature, doc = TEXTS[path]
    target = kiv_sr
    for name in filter(None, path.split(".")):
        target = getattr(target, name)
    assert target.__doc__ == doc
    if signature is not None:
        assert str(inspect.signature(target)) == signature
    elif isinstance(target, type):
        assert target.__text_signature__ is None


def test_names_and_classes():
    assert kiv_sr.__all__ == ["Searcher", "SearchResult", *EXCEPTION_NAMES]
    assert sorted(name for name in dir(kiv_sr) if not name.startswith("_")) == sorted(kiv_sr.__all__)
    assert kiv_sr.__version__ == metadata.version("kiv_sr")
    for name in kiv_sr.__all__:
        cls = getattr(kiv_sr, name)
        assert (cls.__module__, cls.__qualname__) == ("kiv_sr", name)
    for name in EXCEPTION_NAMES:
        assert getattr(kiv_sr, name).__bases__ == (Exception,)  # independent of each other
    with pytest.raises(TypeError):
        type("Sub", (kiv_sr.Searcher,), {})
    with pytest.raises(AttributeError):
        kiv_sr.Searcher().extra = 1
    first = sys.modules.pop("kiv_sr")
    try:  # a re-import returns the same module and classes
        again = importlib.import_module("kiv_sr")
        assert again is first and again.KivDimensionError is first.KivDimensionError
    finally:
        sys.modules["kiv_sr"] = first


def test_fresh_interpreter_without_numpy_and_a_second_interpreter():
    # Conversions first without NumPy at all, then with a NumPy whose C API
    # cannot load; then an import from a second interpreter, which is refused
    # (newer interpreters may refuse the single-phase module themselves, first).
    code = """
        import sys, types
        import kiv_sr
        for numpy in (None, types.ModuleType("numpy")):
            sys.modules["numpy"] = numpy
            r = kiv_sr.Searcher(max_complexity=3, beam_width=20).find_multivariate([[1, 2], [3, 4], [5, 7]], (3, 7, 12))
            print(r.formula, r.eval([1, 2]), r.eval_batch([(1, 2), [3, 4]]))
            try:
                r.eval_batch([1.0, 2.0])
            except ValueError as error:
                print(error)
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            import _interpreters as interpreters
        interpreters.run_string(interpreters.create(), "try:\\n import kiv_sr\\nexcept ImportError: print('refused')")
        """
    # Unbuffered: the second interpreter's sys.stdout has a buffer of its own.
    completed = subprocess.run([sys.executable, "-u", "-c", textwrap.dedent(code)], capture_output=True, text=True,
                               timeout=120, check=False)
    assert completed.returncode == 0, completed.stderr
    assert [line for line in completed.stdout.splitlines() if line and "KIV" not in line] == [
        "Plus(v_{0}, v_{1}) 3.0 [3.0, 7.0]", "Input must be a 2D list or 2D NumPy array of floats"] * 2 + ["refused"]
