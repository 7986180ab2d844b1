"""Searcher: construction, read-only configuration, and the requests as the
facade composes them from one search."""

import math

import numpy as np
import pytest

import kiv_sr
from conftest import small_searcher

PROPERTIES = ("max_complexity", "complexity_penalty", "beam_width", "alpha", "l1_ratio")


def config_of(searcher):
    return tuple(getattr(searcher, name) for name in PROPERTIES)


class Index:
    def __index__(self):
        return 4


class Real:
    def __float__(self):
        return 0.25


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((), {}, (10, 0.1, 1000, 0.0, 0.5)),
        ((3, 0.0, 50), {}, (3, 0.0, 50, 0.0, 0.5)),
        ((), {"l1_ratio": 0.9, "beam_width": 7}, (10, 0.1, 7, 0.0, 0.9)),
        ((5, 1, 6, 2, True), {}, (5, 1.0, 6, 2.0, 1.0)),
        ((Index(),), {"alpha": Real(), "beam_width": 2**64 - 1}, (4, 0.1, 2**64 - 1, 0.25, 0.5)),
        ((0, -1.5, 0, math.inf, -math.inf), {}, (0, -1.5, 0, math.inf, -math.inf)),
    ],
)
def test_arguments_are_stored_unchanged_and_read_only(args, kwargs, expected):
    searcher = kiv_sr.Searcher(*args, **kwargs)
    assert config_of(searcher) == expected
    assert [type(v) for v in config_of(searcher)] == [int, float, int, float, float]
    for name in PROPERTIES:
        for change in (lambda: setattr(searcher, name, 1), lambda: delattr(searcher, name)):
            with pytest.raises(AttributeError):
                change()
    assert config_of(searcher) == expected
    assert math.isnan(kiv_sr.Searcher(l1_ratio=math.nan).l1_ratio)


@pytest.fixture(scope="module")
def problem():
    xs = np.linspace(0.5, 2.0, 12)
    return xs, np.sqrt(xs) * 1.5 + 0.02 * np.cos(7 * xs)


def test_every_request_is_the_best_of_the_front(problem):
    xs, ys = problem
    searcher = small_searcher(max_complexity=4)
    front = searcher.find_candidates(xs.reshape(-1, 1), ys)
    assert type(front) is list and len(front) > 1
    assert [c.complexity for c in front] == sorted((c.complexity for c in front), reverse=True)
    best = repr(front[0])
    assert best == repr(searcher.find_function(xs, ys)) == repr(searcher.find_function(xs.tolist(), ys.tolist()))
    assert best == repr(searcher.find_multivariate(xs.reshape(-1, 1), ys)) == repr(searcher.fit(xs[:, None], ys))


def test_recognize_constant_searches_one_sample_at_zero():
    result = small_searcher().recognize_constant(3.14159)
    assert result.eval(0.0) == pytest.approx(3.14159, abs=1e-9)
    assert repr(result) == repr(small_searcher().find_multivariate([[0.0]], [3.14159]))


def test_per_call_overrides_act_like_configuration_and_leave_the_searcher_alone():
    xs, ys = [1.0, 2.0, 3.0, 4.0], [4.0, 5.5, 7.0, 8.5]
    searcher = small_searcher(max_complexity=3)
    before = config_of(searcher)
    overridden = searcher.find_function(xs, ys, 0.01, 0.9)
    with pytest.raises(TypeError):
        searcher.find_function(xs, ys, alpha=3.0, l1_ratio="x")
    assert config_of(searcher) == before
    assert repr(overridden) == repr(small_searcher(max_complexity=3, alpha=0.01, l1_ratio=0.9).find_function(xs, ys))
    assert repr(overridden) == repr(searcher.find_function(xs, ys, l1_ratio=0.9, alpha=0.01))
    assert repr(searcher.find_function(xs, ys, alpha=None, l1_ratio=None)) == repr(searcher.find_function(xs, ys))
    # The penalty on the fitted constants is part of the error only with alpha.
    assert searcher.find_function(xs, ys).error < overridden.error
    only_l1 = small_searcher(max_complexity=3, alpha=0.01)
    assert only_l1.find_function(xs, ys, l1_ratio=0.9).error != only_l1.find_function(xs, ys).error
    constant = small_searcher(alpha=0.5)
    assert constant.recognize_constant(2.0, alpha=0.0).error < constant.recognize_constant(2.0).error
