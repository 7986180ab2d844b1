"""Every method of the module, successful and failing alike, called thousands
of times: the reference counts of its inputs, the number of live Python
memory blocks and the resident memory of the process stay flat."""

import os
import sys

import numpy as np
import pytest

import kiv_sr
from conftest import UNDER_ADDRESS_SANITIZER

CALLS = 2000
WARM_UP = 200
# Live Python memory blocks the calls may add in total (a handful, measured);
# a leaked object per call adds CALLS.
BLOCK_SLACK = 100
# Resident memory the calls may add after warm-up (at most a page, measured).
# A leaked copy of one of the inputs per call costs twenty times this.
RSS_SLACK = 1024 * 1024

ROWS = 200


class Inputs:
    """The arguments of the calls below, built once."""

    def __init__(self):
        rng = np.random.default_rng(11)
        self.rows_array = rng.uniform(0.5, 2.0, size=(ROWS, 2))
        self.rows_list = self.rows_array.tolist()
        self.rows_fortran = np.asfortranarray(self.rows_array)
        self.rows_strided = rng.uniform(0.5, 2.0, size=(2 * ROWS, 3))[::2, ::-2]
        self.rows_ragged = [row[: 1 + i % 2] for i, row in enumerate(self.rows_list)]
        self.rows_float32 = self.rows_array[:20].astype(np.float32)
        self.xs_array = self.rows_array[:, 0].copy()
        self.xs_list = self.xs_array.tolist()
        self.xs_tuple = tuple(self.xs_list)
        self.xs_int32 = np.arange(ROWS, dtype=np.int32)
        self.short_list = self.xs_list[:-1]
        self.nan_list = [float("nan")] * ROWS
        self.noise = rng.standard_normal(8).tolist()
        self.noise_rows = [[x] for x in rng.uniform(-1.0, 1.0, 8)]
        self.wide_rows = [[1.0] * 256] * 4
        self.strided_vector = self.xs_array[::-1]
        self.bad_vector = self.xs_list[:-1] + ["x"]
        self.bad_matrix = self.rows_list[:-1] + [[1.0, None]]
        self.point_list = [1.5, 2.5]
        self.point_array = np.array([1.5, 2.5])
        self.text = "not a number"
        self.tiny = kiv_sr.Searcher(max_complexity=1, beam_width=10)
        self.small = kiv_sr.Searcher(max_complexity=2, beam_width=3)
        self.refusing = kiv_sr.Searcher(max_complexity=0)
        self.result = kiv_sr.Searcher(max_complexity=3, beam_width=50).find_multivariate(
            [[1.0, 2.0], [3.0, 4.0], [5.0, 7.0]], [3.0, 7.0, 12.0]
        )
        self.with_constant = self.small.find_function([0.0, 1.0, 2.0], [0.5, 1.5, 2.5])

    def watched(self):
        return list(vars(self).values())


def read_properties(k):
    s = k.tiny
    return s.max_complexity, s.beam_width, s.complexity_penalty, s.alpha, s.l1_ratio


def render(k):
    r = k.with_constant
    return r.to_latex(), r.to_python(), repr(r), str(r), r.formula, r.error, r.complexity


def assign_property(k):
    k.tiny.alpha = 1.0


CASES = {
    # searches
    "find_function lists": lambda k: k.tiny.find_function(k.xs_list, k.xs_list),
    "find_function arrays": lambda k: k.tiny.find_function(k.xs_array, k.xs_array),
    "find_function tuple and int32": lambda k: k.tiny.find_function(k.xs_tuple, k.xs_int32),
    "find_multivariate lists": lambda k: k.tiny.find_multivariate(k.rows_list, k.xs_list),
    "fit fortran array": lambda k: k.tiny.fit(k.rows_fortran, k.xs_array),
    "find_candidates strided array": lambda k: k.tiny.find_candidates(k.rows_strided, k.xs_array),
    "find_candidates float32": lambda k: k.tiny.find_candidates(k.rows_float32, k.xs_list[:20]),
    "find_candidates through level 2": lambda k: k.small.find_candidates(k.noise_rows, k.noise),
    "recognize_constant": lambda k: k.small.recognize_constant(0.75),
    "per-call overrides": lambda k: k.tiny.find_function(k.xs_list, k.xs_list, 0.5, 0.25),
    "constructor and properties": lambda k: (kiv_sr.Searcher(3, 0.1, 50, 0.0, 0.5), read_properties(k)),
    # evaluation and rendering
    "eval float": lambda k: k.result.eval(1.5),
    "eval list": lambda k: k.result.eval(k.point_list),
    "eval array": lambda k: k.result.eval(k.point_array),
    "eval_batch lists": lambda k: k.result.eval_batch(k.rows_list),
    "eval_batch array": lambda k: k.result.eval_batch(k.rows_array),
    "eval_batch ragged": lambda k: k.result.eval_batch(k.rows_ragged),
    "predict strided": lambda k: k.result.predict(k.rows_strided),
    "rendering and getters": render,
    # every error path
    "dimension error": lambda k: k.tiny.find_function(k.xs_list, k.short_list),
    "empty data": lambda k: k.tiny.find_multivariate([], []),
    "no formula found": lambda k: k.tiny.find_function(k.xs_list, k.nan_list),
    "max_complexity 0": lambda k: k.refusing.find_function(k.xs_list, k.xs_list),
    "too many columns": lambda k: k.tiny.find_multivariate(k.wide_rows, k.xs_list[:4]),
    "not contiguous": lambda k: k.tiny.find_function(k.strided_vector, k.xs_list),
    "bad vector": lambda k: k.tiny.find_function(k.xs_list, k.bad_vector),
    "bad matrix": lambda k: k.tiny.find_multivariate(k.bad_matrix, k.xs_list),
    "bad alpha": lambda k: k.tiny.find_function(k.xs_list, k.xs_list, alpha=k.text),
    "bad value": lambda k: k.tiny.recognize_constant(k.text),
    "missing argument": lambda k: k.tiny.find_function(k.xs_list),
    "unknown keyword": lambda k: k.tiny.fit(k.rows_list, k.xs_list, bogus=k.text),
    "negative count": lambda k: kiv_sr.Searcher(max_complexity=-1),
    "bad constructor argument": lambda k: kiv_sr.Searcher(beam_width=k.text),
    "eval of text": lambda k: k.result.eval(k.text),
    "eval of rows": lambda k: k.result.eval(k.rows_list),
    "eval_batch of a vector": lambda k: k.result.eval_batch(k.xs_list),
    "no SearchResult constructor": lambda k: kiv_sr.SearchResult(),
    "read-only property": assign_property,
    "internal error": lambda k: k.tiny.find_multivariate(np.empty((2**59, 0)), k.xs_list),
    "memory error": lambda k: k.tiny.find_multivariate(np.empty((2**40, 0)), k.xs_list),
}

EXPECTED = (
    TypeError,
    ValueError,
    OverflowError,
    AttributeError,
    MemoryError,
    kiv_sr.KivDimensionError,
    kiv_sr.KivComplexityError,
)


@pytest.fixture(scope="module")
def inputs():
    return Inputs()


def call_repeatedly(call, k, times):
    for _ in range(times):
        try:
            call(k)
        except EXPECTED:
            pass
        except BaseException as error:  # the internal error derives from BaseException only
            if type(error).__name__ != "KivInternalError":
                raise


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.parametrize("name", CASES)
def test_repeated_calls_leak_nothing(name, inputs, capfd, monkeypatch):
    if name == "memory error" and UNDER_ADDRESS_SANITIZER:
        pytest.skip("AddressSanitizer aborts on a failed allocation")
    # One worker: on a busy machine, handing tiny levels to other threads
    # costs far more than the work, and what is allocated per worker is
    # released the same way for any number of them.
    monkeypatch.setenv("KIV_SR_NUM_THREADS", "1")
    call = CASES[name]
    call_repeatedly(call, inputs, WARM_UP)
    watched = inputs.watched()
    refcounts = [sys.getrefcount(o) for o in watched]
    blocks = sys.getallocatedblocks()
    rss = resident_bytes()
    call_repeatedly(call, inputs, CALLS)
    rss_growth = resident_bytes() - rss
    block_growth = sys.getallocatedblocks() - blocks
    capfd.readouterr()
    assert [sys.getrefcount(o) for o in watched] == refcounts
    assert block_growth < BLOCK_SLACK
    if not UNDER_ADDRESS_SANITIZER:  # its quarantine holds on to freed memory
        assert rss_growth < RSS_SLACK
