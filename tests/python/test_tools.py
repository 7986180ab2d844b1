"""kiv_sr_tools: every representation of a found formula takes the engine's values;
the estimator passes scikit-learn's checks; missing extras are named."""

import os
import pickle
import re
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest

import kiv_sr
import kiv_sr_tools
from kiv_sr_tools import find_transformed, plot_front, to_function, to_source, to_sympy
from kiv_sr_tools.search import find_candidates

# name: (law, columns, the data range); every member of the front its search finds is checked.
LAWS = {
    "sine": (lambda X: 1.3 * np.sin(X[:, 0]) * X[:, 0], 1, (-3.0, 3.0)),
    "log": (lambda X: np.log(X[:, 0]) + 2.5, 1, (0.2, 4.0)),
    "kiv": (lambda X: np.exp(X[:, 0]) - np.log(X[:, 1]), 2, (0.5, 3.0)),
    "arctan": (lambda X: 0.7 * np.arctan(X[:, 0]), 1, (-4.0, 4.0)),
}

# Formulas built from their postfix tokens, so that every operator, named constant and kind of
# number is checked, with complex intermediate values (times I, so that their imaginary parts
# become real ones) but no signed zero on a branch cut, where SymPy cannot follow.
V0, V1, I = ("var", 0), ("var", 1), ("const", "I")
BUILT = [
    [I, V1, V0, I, ("op", "Plus"), ("op", "Divide"), ("op", "Times")],
    [I, V0, I, ("op", "Plus"), ("op", "Square"), ("op", "Times")],
    [I, V0, I, ("op", "Plus"), ("op", "Cube"), ("op", "Times")],
    [I, I, V0, ("op", "Times"), ("op", "Exp"), ("op", "Times")],
    [V0, V1, ("op", "KIV")],
    [V0, V1, ("op", "Subtract"), ("op", "Inv")],
    [I, V0, I, ("op", "Plus"), ("op", "Cos"), ("op", "Times")],
    [V0, I, ("op", "Plus"), ("op", "Tan"), ("const", "Pi"), ("const", "E"), ("op", "Plus"), ("op", "Divide")],
    [V0, ("op", "ArcCos")],
    [("param", 0.3, -1.7), V1, V0, ("op", "Subtract"), ("op", "Sqrt"), ("op", "Times")],
    [I, V0, I, ("op", "Plus"), ("op", "ArcSin"), ("op", "Times")],
    [I, ("real", 2.5), V0, ("op", "Times"), I, ("op", "Plus"), ("op", "ArcTan"), ("op", "Times")],
    [V0, ("op", "Cube"), ("op", "Exp"), ("real", -0.5), ("op", "Times")],
    [("const", "1"), V0, ("op", "Subtract"), ("op", "Log")],
    [("const", "0"), V0, ("op", "Times"), V1, ("op", "Inv"), ("op", "Neg"), ("op", "Plus")],
]
# Their values at negative v0 depend on the side of a branch cut the sign of a zero picks.
CUTS = [[I, V0, ("op", "Neg"), ("op", name), ("op", "Times")] for name in ("Sqrt", "Log", "ArcSin", "ArcCos")]


@pytest.fixture(scope="session")
def formulas():
    """name: (results, columns, the data range)."""
    rng = np.random.default_rng(3)
    out = {name: ([kiv_sr.SearchResult._from_state((1, 0.0, tuple(t))) for t in tokens], 2, (-3.0, 3.0))
           for name, tokens in [("built", BUILT), ("cuts", CUTS)]}
    for name, (law, columns, (low, high)) in LAWS.items():
        X = rng.uniform(low, high, size=(40, columns))
        front = kiv_sr.Searcher(max_complexity=5, beam_width=50).find_candidates(X, law(X))
        out[name] = (front, columns, (low, high))
    return out


def sympy_values(result, X):
    sympy = pytest.importorskip("sympy")
    expression = to_sympy(result, names=[f"c{j}" for j in range(X.shape[1])])
    function = sympy.lambdify(sympy.symbols(f"c0:{X.shape[1]}"), expression, "mpmath")
    return np.array([complex(function(*row)).real for row in X])


def source_values(result, X):
    columns = {f"x{j}": X[:, j].astype(complex) for j in range(X.shape[1])}
    return np.real(eval(to_source(result), {"np": np, **columns}) + np.zeros(len(X)))


@pytest.mark.parametrize("name", ["built", *LAWS])
@pytest.mark.parametrize("evaluate", [lambda r, X: to_function(r)(X), sympy_values, source_values])
def test_every_form_takes_the_engine_values(formulas, name, evaluate):
    results, columns, (low, high) = formulas[name]
    X = np.random.default_rng(5).uniform(low, high, size=(200, columns))
    for result in results:
        want = np.array(result.eval_batch(X))
        with np.errstate(all="ignore"):
            got = evaluate(result, X)
        both = np.isfinite(want) & np.isfinite(got)
        assert both.sum() > 100, result.formula
        np.testing.assert_allclose(got[both], want[both], rtol=1e-12, err_msg=result.formula)


@pytest.mark.parametrize("name", ["built", "cuts", *LAWS])
def test_function_is_absent_where_the_engine_is(formulas, name):
    # Outside the data range, with zeros and huge values: logarithms of 0 and of negatives, overflow.
    results, columns, _ = formulas[name]
    X = np.random.default_rng(9).uniform(-6.0, 6.0, size=(300, columns))
    X[::7] = 0.0
    X[3::11, 0] = 1e300
    for result in results:
        # A missing column is absent too; a 1-D array is one column.
        for inputs in (X, X[:, :1], X[:, 0]):
            got, want = to_function(result)(inputs), np.array(result.eval_batch(inputs.reshape(len(X), -1)))
            np.testing.assert_array_equal(np.isnan(got), np.isnan(want), err_msg=result.formula)
            np.testing.assert_allclose(got, want, rtol=1e-12, err_msg=result.formula)


def formula(*tokens):
    from kiv_sr_tools import _native

    return _native.result(tokens)


@pytest.mark.parametrize("call, error, message", [
    (lambda: to_source("Plus(v_{0}, v_{1})"), TypeError, "result must be a kiv_sr.SearchResult, not str"),
    (lambda: to_sympy(formula(("var", 2)), ["a"]), ValueError, "reads 3 columns but 1 names"),
    (lambda: to_source(formula(("var", 0)), ["a b"]), ValueError, "'a b' is not a Python identifier"),
    (lambda: to_function(formula(("var", 0)))(np.zeros((2, 2, 2))), ValueError, "not 3-D"),
    (lambda: find_candidates(kiv_sr.Searcher(), [[1.0]], [1.0], max_time=0), ValueError, "max_time must be a positive"),
    (lambda: find_candidates(kiv_sr.Searcher(), [[1.0]], [1.0, 2.0]), kiv_sr.KivDimensionError, "non-empty and equal"),
    (lambda: find_transformed(kiv_sr.Searcher(), [[1.0]], [1.0], transforms=["log", "cosh"]), ValueError,
     "unknown transform 'cosh'; the transforms are log, log_neg, inverse, square, sqrt, cube, exp, over_input, "
     "times_input, input_over"),
    (lambda: find_transformed(kiv_sr.Searcher(), [[1.0], [2.0], [3.0]], [1.0, 2.0]), kiv_sr.KivDimensionError,
     "non-empty and equal"),
])
def test_refusals(call, error, message):
    with pytest.raises(error, match=re.escape(message)):
        call()


@pytest.mark.parametrize("module, call, message", [
    ("sympy", lambda: to_sympy(formula(("var", 0))), "to_sympy needs SymPy: pip install 'kiv_sr[sympy]'"),
    ("matplotlib", lambda: plot_front([]), "plot_front needs Matplotlib: pip install 'kiv_sr[plot]'"),
    ("sklearn", lambda: kiv_sr_tools.KivRegressor, "KivRegressor needs scikit-learn: pip install 'kiv_sr[sklearn]'"),
    ("distributed", lambda: find_transformed(kiv_sr.Searcher(), [[1.0]], [1.0], client=object()),
     "find_transformed(client=...) needs Dask distributed: pip install 'kiv_sr[dask]'"),
])
def test_a_missing_extra_is_named(monkeypatch, module, call, message):
    for name in [module, *(m for m in sys.modules if m.startswith(module + "."))]:
        monkeypatch.setitem(sys.modules, name, None)
    with pytest.raises(ImportError) as raised:
        call()
    assert str(raised.value) == message


def test_the_package_imports_with_numpy_only():
    optional = "{'sympy', 'sklearn', 'pandas', 'matplotlib', 'scipy', 'distributed'}"
    code = f"import kiv_sr_tools, sys; print(sorted({{m.split('.')[0] for m in sys.modules}} & {optional}))"
    assert subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout == "[]\n"


@pytest.fixture(scope="module")
def energy():
    pd = pytest.importorskip("pandas")
    rng = np.random.default_rng(11)
    frame = pd.DataFrame({"mass": rng.uniform(0.5, 3.0, 30), "speed": rng.uniform(0.5, 3.0, 30)})
    return frame, 0.5 * frame["mass"] * frame["speed"] ** 2


def test_regressor_on_a_dataframe(energy):
    frame, target = energy
    model = kiv_sr_tools.KivRegressor(max_complexity=6, beam_width=100, verbose=False).fit(frame, target)
    assert list(model.feature_names_in_) == ["mass", "speed"] and model.n_features_in_ == 2
    assert model.score(frame, target) > 1 - 1e-12
    table = model.equations_
    assert list(table.columns) == ["complexity", "error", "formula", "sympy", "score", "chosen"]
    assert len(table) == len(model.front_)
    assert "v_{" not in "".join(table["formula"])
    assert {str(symbol) for symbol in table["sympy"][0].free_symbols} == {"mass", "speed"}
    np.testing.assert_array_equal(model.predict(frame), model.best_.eval_batch(frame.to_numpy()))
    np.testing.assert_array_equal(pickle.loads(pickle.dumps(model)).predict(frame), model.predict(frame))


@pytest.mark.parametrize("verbose", [True, False])
def test_verbose_shows_the_progress(capfd, energy, verbose):
    kiv_sr_tools.KivRegressor(max_complexity=2, beam_width=10, verbose=verbose).fit(*energy)
    assert ("[KIV-SR] Started" in capfd.readouterr().out) == verbose


def test_regressor_in_model_selection(energy):
    model_selection = pytest.importorskip("sklearn.model_selection")
    from sklearn.pipeline import make_pipeline

    frame, target = energy
    # Sums of terms are not bound by max_complexity, so the grid would compare the same sums.
    pipeline = make_pipeline(kiv_sr_tools.KivRegressor(beam_width=30, verbose=False, sums_of_terms=False))
    grid = model_selection.GridSearchCV(pipeline, {"kivregressor__max_complexity": [2, 6]}, cv=3).fit(frame, target)
    assert grid.best_params_ == {"kivregressor__max_complexity": 6}
    pipeline.set_params(kivregressor__max_complexity=6)
    assert min(model_selection.cross_val_score(pipeline, frame, target, cv=3)) > 0.99


@pytest.mark.parametrize("settings", [dict(max_complexity=4), dict(max_complexity=3, operators=["Plus", "Times"])])
def test_regressor_passes_the_estimator_checks(settings):
    checks = pytest.importorskip("sklearn.utils.estimator_checks")
    checks.check_estimator(kiv_sr_tools.KivRegressor(beam_width=20, verbose=False, **settings))


def test_plot_front(formulas):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    front = formulas["log"][0]  # its best formula fits exactly: error 0
    ax = plot_front(front, names=["a"])
    assert ax.get_yscale() == "log" and list(ax.lines[0].get_xdata()) == [r.complexity for r in front]
    assert [text.get_text() for text in ax.texts] == [r.formula.replace("v_{0}", "a") for r in front]
    assert min(r.error for r in front) == 0 and min(ax.lines[0].get_ydata()) > 0


@pytest.mark.parametrize("stop, message", [
    (lambda X, y: find_candidates(kiv_sr.Searcher(9, 0.1, 300), X, y, max_time=0.4), "at its time budget of 0.4 s"),
    (lambda X, y: kiv_sr_tools.KivRegressor(9, beam_width=300, max_time=0.4, verbose=False,
                                            sums_of_terms=False).fit(X, y).front_, "at its time budget of 0.4 s"),
    (lambda X, y: [threading.Timer(0.4, os.kill, (os.getpid(), signal.SIGINT)).start(),
                   find_candidates(kiv_sr.Searcher(9, 0.1, 300), X, y)][1], "by Ctrl-C"),
])
def test_a_stopped_search_returns_the_front_of_its_completed_levels(stop, message):
    X = np.linspace(0.5, 3.0, 40).reshape(-1, 1)
    y = np.sin(X[:, 0]) * X[:, 0] ** 2 + 0.3
    # Ctrl-C raises KeyboardInterrupt even where the test runner was started with SIGINT ignored.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        with pytest.warns(RuntimeWarning, match=re.escape(message) + r" after completing level (\d) of 9") as warned:
            front = stop(X, y)
    finally:
        signal.signal(signal.SIGINT, previous)
    levels = int(re.search(r"level (\d)", str(warned[0].message)).group(1))
    complete = kiv_sr.Searcher(levels, 0.1, 300).find_candidates(X, y)
    assert [(r.formula, r.error) for r in front] == [(r.formula, r.error) for r in complete]


def test_refit_computes_the_error_on_the_data_and_refines_the_constants():
    from kiv_sr_tools import _native

    X = np.linspace(0.5, 3.0, 40).reshape(-1, 1)
    y = 2.5 * np.log(X[:, 0]) + 0.7
    rough = (("param", 1.0, 0.0), ("var", 0), ("op", "Log"), ("op", "Times"), ("param", 1.0, 0.0), ("op", "Plus"))
    searcher = kiv_sr.Searcher(6, 0.1, 100)
    fitted = _native.refit(searcher, rough, X, y)
    assert fitted.error < 1e-8 and to_source(fitted).startswith("(2.49")
    no_constants = (("var", 0), ("op", "Log"))
    assert _native.refit(searcher, no_constants, X, y).error == pytest.approx(np.mean((np.log(X[:, 0]) - y) ** 2), rel=1e-12)
