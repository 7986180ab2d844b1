"""The companion's private engine module: kiv_sr's objects and exceptions, the
interpreter lock let go during a search, and the package's notation tables
held against the engine's operator table."""

import threading
import time

import numpy as np
import pytest

import kiv_sr
from kiv_sr_tools import KivRegressor, _native, find_candidates, find_transformed, source, sympy_expression

X = np.linspace(0.5, 3.0, 60).reshape(-1, 1)
Y = np.sin(X[:, 0]) * X[:, 0] ** 2 + 0.3


def test_each_notation_table_names_every_engine_operator():
    sympy = pytest.importorskip("sympy")
    table = _native.operators()
    arities = {name: arity for name, arity, _ in table}
    assert {name for name, arity, commutative in table if commutative} == {"Plus", "Times"}
    assert set(source.CALLS) | set(source.INFIX) == {name for name, arity in arities.items() if arity > 0}
    assert set(source.CONSTANT_TEXT) == {name for name, arity in arities.items() if arity == 0}
    operations = sympy_expression.operations(sympy)
    assert set(operations) == set(arities)
    for name, arity in arities.items():
        operations[name](*sympy.symbols(f"a0:{arity}"))  # takes exactly its operands


@pytest.mark.parametrize("call, error, message", [
    (lambda: _native.search(kiv_sr.Searcher(), [[1.0]], [1.0, 2.0]), kiv_sr.KivDimensionError, "equal length"),
    (lambda: _native.search(kiv_sr.Searcher(1), [[0.0], [1.0]], [1.0, np.inf]), kiv_sr.KivComplexityError,
     "No formula found up to complexity 1"),
    (lambda: _native.search((5, 0.1, 100, 0.0, 0.5), X, Y), TypeError,
     "searcher must be a kiv_sr.Searcher, not tuple"),
    (lambda: _native.tokens(object()), TypeError, "result must be a kiv_sr.SearchResult, not object"),
    (lambda: _native.refit(kiv_sr.Searcher(), (("var", 0), ("op", "Cosh")), X, Y), ValueError,
     "names 'Cosh', which is neither an operator nor a constant"),
])
def test_failures_raise_the_classes_and_messages_of_kiv_sr(call, error, message):
    with pytest.raises(error, match=message):
        call()


@pytest.mark.parametrize("search", [
    lambda searcher, **penalty: find_candidates(searcher, X, Y, verbose=False, **penalty),
    lambda searcher, **penalty: find_transformed(searcher, X, Y, transforms=[], verbose=False, **penalty),
])
def test_a_penalty_for_one_call_is_the_searchers(search):
    searcher = kiv_sr.Searcher(4, 0.1, 100)
    penalised = [(r.formula, r.error) for r in search(searcher, alpha=0.5, l1_ratio=0.2)]
    with_searcher = searcher.find_candidates(X, Y, 0.5, 0.2)
    assert penalised == [(r.formula, r.error) for r in with_searcher]
    assert penalised != [(r.formula, r.error) for r in search(searcher)]


def test_a_search_reports_how_it_ended():
    ends = [_native.search(kiv_sr.Searcher(*args), X, y, verbose=False)[1:] for args, y in [
        ((6, 0.1, 100), X[:, 0] ** 2),  # an exact fit at level 2
        ((3, 0.1, 100), Y),
    ]]
    assert ends == [(2, "exact_fit"), (3, "all_levels")]
    assert _native.search(kiv_sr.Searcher(9, 0.1, 300), X, Y, max_seconds=0.2, verbose=False)[2] == "time"


class Ticker(threading.Thread):
    """Counts and prints while the main thread searches."""

    def __init__(self):
        super().__init__(daemon=True)
        self.ticks, self.running = 0, True

    def run(self):
        while self.running:
            self.ticks += 1
            print("tick")
            time.sleep(0.001)


@pytest.mark.parametrize("search", [
    lambda: find_candidates(kiv_sr.Searcher(7, 0.1, 500), X, Y, verbose=False),
    lambda: KivRegressor(7, beam_width=500, verbose=False, transforms=["log"]).fit(X, Y),
])
def test_other_threads_run_and_print_during_a_quiet_search(capsys, search):
    ticker = Ticker()
    ticker.start()
    time.sleep(0.05)
    before = ticker.ticks
    started = time.perf_counter()
    search()
    seconds = time.perf_counter() - started
    during = ticker.ticks - before
    ticker.running = False
    ticker.join()
    out = capsys.readouterr().out
    # A thread that waited for the lock would tick only between the calls into the engine.
    assert during > 20 * seconds, (during, seconds)
    assert out.count("tick") == ticker.ticks and "[KIV" not in out
