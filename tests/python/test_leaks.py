"""Reference counts and Python memory stay flat over repeated calls,
successful and failing alike."""

import gc
import sys
import tracemalloc

import numpy as np
import pytest

import kiv_sr
from conftest import small_searcher

REPEATS = 200


def refcounts(objects):
    return [sys.getrefcount(o) for o in objects]


def repeat(call):
    for _ in range(REPEATS):
        try:
            call()
        except (ValueError, TypeError, kiv_sr.KivDimensionError, kiv_sr.KivComplexityError):
            pass


def test_evaluation_and_rendering_release_everything(sum_result):
    x, y = 1.5, 2.5
    point = [x, y]
    rows = [[x, y], point]
    array = np.arange(6.0).reshape(3, 2)
    watched = [x, y, point, rows, array, sum_result]
    before = refcounts(watched)
    repeat(lambda: sum_result.eval(point))
    repeat(lambda: sum_result.eval(array[0]))
    repeat(lambda: sum_result.eval_batch(rows))
    repeat(lambda: sum_result.predict(array))
    repeat(lambda: (sum_result.to_latex(), sum_result.to_python(), repr(sum_result), sum_result.formula))
    assert refcounts(watched) == before


def test_failing_conversions_release_everything(sum_result):
    bad_item = "not a number"
    bad_vector = [1.0, bad_item]
    bad_matrix = [[1.0], bad_vector]
    strided = np.arange(6.0)[::2]
    watched = [bad_item, bad_vector, bad_matrix, strided]
    before = refcounts(watched)
    searcher = small_searcher()
    repeat(lambda: sum_result.eval(bad_vector))
    repeat(lambda: sum_result.eval_batch(bad_matrix))
    repeat(lambda: searcher.find_function(strided, [1.0]))
    repeat(lambda: searcher.find_function([1.0], bad_vector))
    repeat(lambda: searcher.find_function([1.0], [1.0], alpha=bad_item))
    repeat(lambda: kiv_sr.Searcher(beam_width=bad_item))
    assert refcounts(watched) == before


def test_searches_and_search_errors_release_everything():
    xs = [1.0, 2.0, 3.0]
    rows = [[1.0], [2.0], [3.0]]
    searcher = small_searcher(max_complexity=1)
    watched = [xs, rows, searcher, kiv_sr.KivDimensionError, kiv_sr.KivComplexityError]
    before = refcounts(watched)
    repeat(lambda: searcher.find_function(xs, xs))  # exact at level 1: no progress output
    repeat(lambda: searcher.find_candidates(rows, xs))
    repeat(lambda: searcher.find_function(xs, [1.0]))
    repeat(lambda: searcher.find_multivariate([], []))
    assert refcounts(watched) == before


@pytest.mark.parametrize(
    "call",
    [
        lambda s, r: s.find_candidates([[1.0], [2.0]], [1.0, 2.0]),
        lambda s, r: r.eval_batch(np.ones((50, 2))),
        lambda s, r: s.find_function([1.0], [1.0, 2.0]),
        lambda s, r: kiv_sr.Searcher(alpha=None),
        lambda s, r: r.eval("x"),
    ],
    ids=["candidates", "eval_batch", "dimension error", "constructor error", "eval error"],
)
def test_python_memory_stays_flat(sum_result, call):
    searcher = small_searcher(max_complexity=1)
    repeat(lambda: call(searcher, sum_result))  # warm up caches
    gc.collect()
    tracemalloc.start()
    try:
        start = tracemalloc.take_snapshot()
        repeat(lambda: call(searcher, sum_result))
        gc.collect()
        growth = sum(stat.size_diff for stat in tracemalloc.take_snapshot().compare_to(start, "filename"))
    finally:
        tracemalloc.stop()
    # A leaked object per call would cost at least REPEATS * 32 bytes.
    assert growth < REPEATS * 32
