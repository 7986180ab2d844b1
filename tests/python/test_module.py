"""The module surface: names, classes, exception hierarchy, doc strings,
text signatures and (re-)initialisation."""

import importlib
import inspect
import subprocess
import sys
import textwrap

import pytest

import kiv_sr

EXCEPTION_NAMES = ["KivDimensionError", "KivComplexityError", "KivRuntimeError"]


def test_all_lists_the_five_names_in_order():
    assert kiv_sr.__all__ == ["Searcher", "SearchResult", *EXCEPTION_NAMES]
    for name in kiv_sr.__all__:
        assert isinstance(getattr(kiv_sr, name), type)


def test_module_doc_and_no_functions():
    assert kiv_sr.__doc__ == "The main Python module entry point."
    public = [name for name in dir(kiv_sr) if not name.startswith("_")]
    assert sorted(public) == sorted(kiv_sr.__all__)


@pytest.mark.parametrize("name", EXCEPTION_NAMES)
def test_exception_classes_are_independent_exceptions(name):
    cls = getattr(kiv_sr, name)
    assert cls.__bases__ == (Exception,)
    assert cls.__module__ == "kiv_sr"
    assert cls.__name__ == name
    assert cls.__doc__ is None
    for other in EXCEPTION_NAMES:
        if other != name:
            assert not issubclass(cls, getattr(kiv_sr, other))


def test_class_names_and_docs():
    assert kiv_sr.Searcher.__module__ == "kiv_sr"
    assert kiv_sr.Searcher.__qualname__ == "Searcher"
    assert kiv_sr.Searcher.__doc__ == "The core KIV-SR search engine exposed to Python."
    assert kiv_sr.SearchResult.__module__ == "kiv_sr"
    assert kiv_sr.SearchResult.__doc__ == "A high-performance symbolic regression result."
    assert kiv_sr.SearchResult.__text_signature__ is None


def test_searcher_class_signature():
    assert str(inspect.signature(kiv_sr.Searcher)) == (
        "(max_complexity=10, complexity_penalty=0.1, beam_width=1000, alpha=0.0, l1_ratio=0.5)"
    )
    for parameter in inspect.signature(kiv_sr.Searcher).parameters.values():
        assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD


SEARCHER_METHODS = {
    "find_function": (
        "($self, xs, ys, alpha=None, l1_ratio=None)",
        "Finds a univariate function f(x) \u2248 y.\nSupports both Python lists and NumPy arrays.",
    ),
    "find_multivariate": (
        "($self, inputs, ys, alpha=None, l1_ratio=None)",
        "Finds a multivariate function f(x0, x1, ...) \u2248 y.\nInputs should be a 2D array-like structure.",
    ),
    "fit": ("($self, inputs, ys, alpha=None, l1_ratio=None)", "Alias for find_multivariate (Scikit-Learn style)."),
    "find_candidates": (
        "($self, inputs, ys, alpha=None, l1_ratio=None)",
        "Returns the Pareto-front of all candidate formulas found.",
    ),
    "recognize_constant": (
        "($self, value, alpha=None, l1_ratio=None)",
        "Identifies a closed-form expression for a scalar constant.",
    ),
}

RESULT_METHODS = {
    "to_latex": ("($self)", "Returns the formula in LaTeX format for academic reporting."),
    "to_python": ("($self)", "Returns the formula in Python/NumPy format for immediate use."),
    "eval": ("($self, x)", "Evaluates the discovered formula for a given input (float or list/array)."),
    "eval_batch": ("($self, inputs)", "Evaluates the formula for a batch of inputs (list of lists or 2D array)."),
    "predict": ("($self, inputs)", "Alias for eval_batch (Scikit-Learn style)."),
}


@pytest.mark.parametrize(
    "cls, name",
    [(kiv_sr.Searcher, name) for name in SEARCHER_METHODS] + [(kiv_sr.SearchResult, name) for name in RESULT_METHODS],
)
def test_method_text_signatures_and_docs(cls, name):
    text_signature, doc = {**SEARCHER_METHODS, **RESULT_METHODS}[name]
    method = getattr(cls, name)
    assert method.__text_signature__ == text_signature
    assert method.__doc__ == doc
    # "$self" binds self positionally; every other parameter is positional or keyword.
    assert str(inspect.signature(method)) == text_signature.replace("$self", "self, /")


def test_property_docs():
    assert kiv_sr.SearchResult.formula.__doc__ == "The discovered mathematical formula as a string."
    assert kiv_sr.SearchResult.error.__doc__ == "The residual error (Mean Squared Error) of the formula."
    assert kiv_sr.SearchResult.complexity.__doc__ == "The structural complexity of the formula."
    for name in ("max_complexity", "beam_width", "complexity_penalty", "alpha", "l1_ratio"):
        assert getattr(kiv_sr.Searcher, name).__doc__ is None


def test_reimport_returns_the_same_module_and_classes():
    first = sys.modules.pop("kiv_sr")
    try:
        again = importlib.import_module("kiv_sr")
        assert again is first
        assert again.KivDimensionError is first.KivDimensionError
    finally:
        sys.modules["kiv_sr"] = first


def run_python(code):
    """Runs `code` in a fresh interpreter; returns its standard output."""
    completed = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120, check=False
    )
    assert completed.returncode == 0, completed.stderr
    return completed.stdout


# Runs inside a second interpreter; reports the import's outcome through a file.
SUBINTERPRETER_IMPORT = """
try:
    import kiv_sr
    outcome = "imported"
except ImportError as error:
    outcome = "ImportError: " + str(error)
with open(PATH, "w") as f:
    f.write(outcome)
"""


def test_subinterpreter_import_is_refused(tmp_path):
    path = tmp_path / "outcome"
    run_python(
        f"""
        import kiv_sr
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            import _interpreters as interpreters
        interpreters.run_string(interpreters.create(), {SUBINTERPRETER_IMPORT!r}.replace("PATH", {repr(str(path))!r}))
        """
    )
    # Newer interpreters may refuse the single-phase module themselves, first.
    assert path.read_text().startswith("ImportError: ")


@pytest.mark.parametrize(
    "block_numpy",
    [
        "sys.modules['numpy'] = None",  # import numpy raises ImportError
        "sys.modules['numpy'] = types.ModuleType('numpy')",  # a numpy whose C API cannot load
    ],
)
def test_conversions_work_without_numpy(block_numpy):
    output = run_python(
        f"""
        import sys, types
        {block_numpy}
        import kiv_sr
        s = kiv_sr.Searcher(max_complexity=3, beam_width=20)
        r = s.find_multivariate([[1.0, 2.0], [3.0, 4.0], [5.0, 7.0]], (3, 7, 12))
        print(r.formula, r.eval([1, 2]), r.eval_batch([(1, 2), [3, 4]]))
        try:
            r.eval_batch([1.0, 2.0])
        except ValueError as error:
            print(error)
        """
    )
    lines = output.strip().splitlines()
    assert lines[-2] == "Plus(v_{0}, v_{1}) 3.0 [3.0, 7.0]"
    assert lines[-1] == "Input must be a 2D list or 2D NumPy array of floats"
