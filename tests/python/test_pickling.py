"""Pickling and copying: a Searcher rebuilds through its constructor, a
SearchResult from its state token by token and bit for bit, in this process or
another; a corrupt state raises TypeError or ValueError and nothing worse."""

import concurrent.futures
import copy
import math
import multiprocessing
import operator
import pickle
import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kiv_sr

FROM_STATE = kiv_sr.SearchResult._from_state
ROWS = [[0.5, 2.0], [-1.0, 3.0], [4.0, 0.0]]
# Every token kind, by hand: (tokens, formula, value at ROWS[0]).
HAND_MADE = [
    ((("const", "Pi"), ("real", 2.5), ("op", "Times")), "Times(Pi, 2.5000)", math.pi * 2.5),
    ((("param", 1.0, 2.0), ("const", "I"), ("op", "Times")), "Times(C, I)", -2.0),  # (1 + 2i) i
    ((("var", 1), ("param", 1.0, -0.0), ("op", "KIV")), "KIV(v_{1}, C)", math.exp(2.0)),
    ((("var", 254), ("op", "Sin")), "Sin(v_{254})", math.nan),
]
COPIES = [pytest.param(lambda obj, p=p: pickle.loads(pickle.dumps(obj, protocol=p)), id=f"protocol {p}")
          for p in range(2, pickle.HIGHEST_PROTOCOL + 1)] + [copy.copy, copy.deepcopy]


def hand_made():
    return [FROM_STATE((1, 0.25, tokens)) for tokens, _, _ in HAND_MADE]


def shown(result):
    """Everything a result shows, its floats as hex so that NaN and -0.0 compare."""
    return (repr(result), result.formula, result.error.hex(), result.complexity, result.to_latex(),
            result.to_python(), [v.hex() for v in result.eval_batch(ROWS)], result.eval(ROWS[1]).hex())


@pytest.mark.parametrize("tokens, formula, value", HAND_MADE)
def test_a_state_is_read_by_the_engines_composition(tokens, formula, value):
    result = FROM_STATE((1, 0.25, tokens))
    assert (result.formula, result.complexity) == (formula, len(tokens))
    assert result.eval(ROWS[0]) == pytest.approx(value, nan_ok=True)
    assert result.__reduce__() == (FROM_STATE, ((1, 0.25, tokens),))


@pytest.mark.parametrize("copy_of", COPIES)
def test_copies_show_the_same(copy_of, known):
    searcher = kiv_sr.Searcher(5, 0.25, 50, l1_ratio=math.nan)
    assert searcher.__reduce__()[0] is kiv_sr.Searcher
    assert repr(copy_of(searcher)) == repr(searcher)
    assert known["sum"].__reduce__() == (FROM_STATE, ((1, 0.0, (("var", 0), ("var", 1), ("op", "Plus"))),))
    for result in [*known["leaves"], known["offset"], known["sine"], known["C"], *hand_made()]:
        assert shown(copy_of(result)) == shown(result)
        assert repr(copy_of(result).__reduce__()) == repr(result.__reduce__())


def test_results_cross_processes(known):
    results = [known["offset"], known["log"], *hand_made()]
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=context) as pool:
        assert [shown(r) for r in pool.map(copy.copy, results)] == [shown(r) for r in results]
        evaluated = pool.map(operator.methodcaller("eval_batch", ROWS), results)
        assert [[v.hex() for v in values] for values in evaluated] == [shown(r)[6] for r in results]


@pytest.mark.parametrize("state, error, message", [
    ([1, 0.0, ()], TypeError, "expected a tuple (version, error, tokens), not list"),
    ((1, 0.0, (("var", 0),), None), ValueError, "expected 3 items (version, error, tokens), not 4"),
    ((2, 0.0, (("var", 0),)), ValueError, "unknown version; this kiv_sr reads version 1"),
    ((1, 0, (("var", 0),)), TypeError, "the error must be a float, not int"),
    ((1, 0.0, (("var", 255),)), ValueError, "token 0 reads a column outside 0 to 254, the columns a formula can hold"),
    ((1, 0.0, (("var", 0), ("op", "Plus"))), ValueError,
     "token 1 applies 'Plus', which takes 2 operands, where the tokens before it leave 1"),
    ((1, 0.0, (("param", 0.0, 0.0),) * 256), ValueError, "token 255 is a parameter beyond the 255 a formula holds"),
    ((1, 0.0, (("const", "Sin"),)), ValueError, "token 0 names the operator 'Sin' as a constant"),
    ((1, 0.0, (("var", 0), ("var", 1))), ValueError, "the tokens leave 2 values, not one formula"),
])
def test_corrupt_states_are_named(state, error, message):
    with pytest.raises(error, match="^" + re.escape("SearchResult state: " + message) + "$"):
        FROM_STATE(state)


KINDS = ["var", "param", "real", "const", "op"]
VALID = (("param", 1.0, 2.0), ("var", 3), ("op", "Plus"), ("const", "E"), ("real", -1.5), ("op", "KIV"), ("op", "Sin"))
JUNK = st.one_of(st.none(), st.booleans(), st.integers(-(2**70), 2**70), st.sampled_from([255, -1, 2**64]),
                 st.floats(), st.text(max_size=3), st.sampled_from(KINDS + ["Pi", "I", "Plus", "KIV"]), st.just(()))
TOKEN = st.one_of(st.sampled_from(VALID), st.lists(JUNK, max_size=4).map(tuple),
                  st.tuples(st.sampled_from(KINDS), JUNK), st.tuples(st.sampled_from(KINDS), JUNK, JUNK))
TOKENS = st.one_of(st.permutations(VALID).flatmap(lambda t: st.integers(0, len(t)).map(lambda k: tuple(t[:k]))),
                   st.lists(TOKEN, max_size=8).map(tuple))
TOP_JUNK = st.one_of(st.tuples(st.sampled_from([0, 2, True, 1.0]), st.floats(), TOKENS),
                     st.tuples(JUNK, JUNK, st.one_of(TOKENS, JUNK)), st.lists(JUNK, max_size=4).map(tuple), JUNK)
# Mostly states whose tokens are read.
STATES = st.integers(0, 3).flatmap(lambda i: st.tuples(st.just(1), st.floats(), TOKENS) if i else TOP_JUNK)


@settings(max_examples=500, deadline=None)
@given(state=STATES)
def test_corrupt_states_raise_only_type_and_value_errors(state):
    try:
        result = FROM_STATE(state)
    except (TypeError, ValueError) as error:
        assert str(error).startswith("SearchResult state: ")
    else:  # what loads is what it describes
        assert repr(result.__reduce__()[1][0][2]) == repr(state[2])
        assert shown(result)[3] == len(state[2])
