"""Every method of the module and every engine entry of the companion,
successful and failing alike, called many times: the reference counts of its inputs, the number of live Python memory
blocks and the resident memory of the process stay flat."""

import os
import pickle
import sys
from types import SimpleNamespace

import numpy as np
import pandas as pd
import pytest

import kiv_sr
from conftest import UNDER_ADDRESS_SANITIZER
from kiv_sr_tools import _native

# The calls are measured in two windows of CALLS: a leak grows in both, while
# what the interpreter and the libraries allocate once (caches, specialised
# code) shows in one at most.
CALLS, WARM_UP = 500, 100
# Live Python memory blocks the calls may add in a window (a handful,
# measured); a leaked object per call adds CALLS.
BLOCK_SLACK = 100
# Resident memory the calls may add after warm-up (at most a page, measured);
# a leaked copy of one of the inputs per call costs several times this.
RSS_SLACK = 1024 * 1024
ROWS = 400


@pytest.fixture(scope="module")
def k():
    """The arguments of the calls below, built once; their reference counts are watched."""
    rng = np.random.default_rng(11)
    rows = rng.uniform(0.5, 2.0, size=(ROWS, 2))
    xs = rows[:, 0].copy()
    tiny, small = kiv_sr.Searcher(max_complexity=1, beam_width=10), kiv_sr.Searcher(max_complexity=2, beam_width=3)
    return SimpleNamespace(
        rows=rows, rows_list=rows.tolist(), rows_fortran=np.asfortranarray(rows), rows_float32=rows.astype(np.float32),
        rows_strided=rng.uniform(0.5, 2.0, size=(2 * ROWS, 3))[::2, ::-2],
        rows_ragged=[row[: 1 + i % 2] for i, row in enumerate(rows.tolist())],
        xs=xs, xs_list=xs.tolist(), xs_int32=np.arange(ROWS, dtype=np.int32), nans=[np.nan] * ROWS,
        noise_rows=rng.uniform(-1.0, 1.0, (8, 1)).tolist(), noise=rng.standard_normal(8).tolist(),
        wide_rows=[[1.0] * 256] * 4, bad_vector=xs.tolist()[:-1] + ["x"],
        bad_matrix=rows.tolist()[:-1] + [[1.0, None]],
        bad_state=(1, 0.0, (("param", 0.5, 0.0), ("var", 1), ("op", "Plus"), ("op", "Sin"), ("const", "Sin"))),
        point=[1.5, 2.5], point_array=np.array([1.5, 2.5]), text="not a number", tiny=tiny, small=small,
        frame=pd.DataFrame(rows), series=pd.Series(xs),
        result=tiny.find_multivariate(rows.tolist(), xs), fitted=small.find_function([0, 1, 2], [0.5, 1.5, 2.5]))


# The calls of each case, made one by one: a failing call does not stop the others.
CASES = {
    "searches": [
        "k.tiny.find_function(k.xs_list, k.xs_list)", "k.tiny.find_multivariate(k.rows_list, k.xs_list)",
        "k.tiny.find_function(k.xs, k.xs_int32, 0.5, 0.25)", "k.tiny.fit(k.rows_fortran, k.xs)",
        "k.tiny.find_candidates(k.rows_strided, k.xs)", "k.tiny.fit(k.rows_float32, k.xs_list)",
        "k.small.find_candidates(k.noise_rows, k.noise)", "k.small.recognize_constant(0.75, alpha=0.1)",
        "k.tiny.fit(k.frame, k.series)",
    ],
    "evaluation and properties": [
        "k.result.eval(1.5)", "k.result.eval(k.point)", "k.result.eval(k.point_array)", "k.result.eval_batch(k.rows)",
        "k.result.eval_batch(k.rows_list)", "k.result.eval_batch(k.rows_ragged)", "k.result.predict(k.rows_strided)",
        "(k.fitted.to_latex(), k.fitted.to_python(), repr(k.fitted), k.fitted.formula, k.fitted.error)",
        "(k.fitted.complexity, k.tiny.max_complexity, k.tiny.beam_width, k.tiny.complexity_penalty)",
        "(k.tiny.alpha, k.tiny.l1_ratio, kiv_sr.Searcher(3, 0.1, 50, 0.0, 0.5), repr(k.tiny))",
        "pickle.loads(pickle.dumps((k.fitted, k.tiny)))",
    ],
    "search errors": [
        "k.tiny.find_function(k.xs_list, k.xs_list[:-1])", "k.tiny.find_multivariate([], [])",
        "k.tiny.find_function(k.xs_list, k.nans)", "k.tiny.find_multivariate(k.wide_rows, k.xs[:4])",
        "kiv_sr.Searcher(max_complexity=0).find_function(k.xs_list, k.xs_list)",
        "k.tiny.fit(k.rows, k.xs, alpha=-1.0)",
        "k.tiny.find_multivariate(np.empty((2**59, 0)), k.xs_list)",  # internal error
    ],
    "argument errors": [
        "k.tiny.find_function(k.xs[::-1], k.xs_list)", "k.tiny.find_function(k.xs_list, k.bad_vector)",
        "k.tiny.find_multivariate(k.bad_matrix, k.xs_list)", "k.tiny.recognize_constant(k.text)",
        "k.tiny.find_function(k.xs_list, k.xs_list, alpha=k.text)", "k.tiny.find_function(k.xs_list)",
        "k.tiny.fit(k.rows_list, k.xs_list, bogus=k.text)", "kiv_sr.Searcher(max_complexity=-1)",
        "kiv_sr.Searcher(beam_width=k.text)", "k.result.eval(k.text)", "k.result.eval(k.rows_list)",
        "k.result.eval_batch(k.xs_list)", "kiv_sr.SearchResult()", "setattr(k.tiny, 'alpha', 1.0)",
        "kiv_sr.SearchResult._from_state(k.bad_state)",
    ],
    "memory error": ["k.tiny.find_multivariate(np.empty((2**40, 0)), k.xs_list)"],
    "companion entries": [
        "_native.search(k.tiny, k.rows, k.xs, verbose=False)", "_native.search(k.small, k.rows_list, k.xs, 0.1, None, 9.0)",
        "_native.refit(k.small, k.fitted, k.rows, k.xs)", "_native.result(_native.tokens(k.fitted), 0.5)",
        "_native.evaluate(k.fitted, k.rows)", "_native.closed_forms(_native.closed_form_search([('const', 'Pi')], 2), 3.0, 2, 0.1)",
        "_native.search(k.text, k.rows, k.xs)", "_native.search(k.tiny, k.rows, k.xs[:-1])", "_native.tokens(k.text)",
        "_native.refit(k.tiny, k.bad_state[2], k.rows, k.xs)", "_native.evaluate(k.bad_state[2], k.rows)",
        "_native.search(k.small, k.rows, k.xs, verbose=False, operators=['Plus', 'Sqrt'])",
        "_native.search(k.tiny, k.rows, k.xs, operators=('Plus', 'Pi'))", "_native.search(k.tiny, k.rows, k.xs, operators=[k.text])",
        "_native.search_start(k.tiny, k.rows, k.xs, False, operators=['Times'])",
    ],
}
EXPECTED = (TypeError, ValueError, OverflowError, AttributeError, MemoryError, kiv_sr.KivDimensionError,
            kiv_sr.KivComplexityError)


def call_repeatedly(calls, k, times):
    names = {"k": k, "np": np, "kiv_sr": kiv_sr, "pickle": pickle, "_native": _native}
    for _ in range(times):
        for call in calls:
            try:
                eval(call, names)
            except EXPECTED:
                pass
            except BaseException as error:  # the internal error derives from BaseException only
                if type(error).__name__ != "KivInternalError":
                    raise


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.parametrize("name", CASES)
def test_repeated_calls_leak_nothing(name, k, capfd, monkeypatch):
    if name == "memory error" and UNDER_ADDRESS_SANITIZER:
        pytest.skip("AddressSanitizer aborts on a failed allocation")
    # One worker: on a busy machine, handing tiny levels to other threads
    # costs far more than the work, and what is allocated per worker is
    # released the same way for any number of them.
    monkeypatch.setenv("KIV_SR_NUM_THREADS", "1")
    calls = [compile(call, call, "eval") for call in CASES[name]]
    call_repeatedly(calls, k, WARM_UP)
    # The inputs and, of lists, their first items, which conversions hold while reading.
    watched = [o for v in vars(k).values() for o in [v] + (v[:1] if isinstance(v, list) else [])]
    refcounts = [sys.getrefcount(o) for o in watched]
    block_growth, rss_growth = [], []
    for _ in range(2):
        blocks, rss = sys.getallocatedblocks(), resident_bytes()
        call_repeatedly(calls, k, CALLS)
        block_growth.append(sys.getallocatedblocks() - blocks)
        rss_growth.append(resident_bytes() - rss)
    block_growth, rss_growth = min(block_growth), min(rss_growth)
    capfd.readouterr()
    assert [sys.getrefcount(o) for o in watched] == refcounts
    assert block_growth < BLOCK_SLACK
    if not UNDER_ADDRESS_SANITIZER:  # its quarantine holds on to freed memory
        assert rss_growth < RSS_SLACK
