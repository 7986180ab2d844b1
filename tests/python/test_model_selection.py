"""Model selection: the score of each formula of a front, the "best" rule's
choice, the estimator's three rules on noisy data, and refusals."""

import math

import numpy as np
import pytest

from kiv_sr_tools import _native
from kiv_sr_tools.model_selection import best_choice, scores

pytest.importorskip("sklearn")
from kiv_sr_tools import KivRegressor  # noqa: E402


def front_of(pairs):
    """A front of results of the given (complexity, error), lowest error first."""
    return [_native.result((("var", 0),) * 1 + (("op", "Neg"),) * (c - 1), e) for c, e in pairs]


@pytest.mark.parametrize("pairs, factor, chosen", [
    # The law at 7 tokens; 9 tokens fit the noise a little better.
    ([(9, 0.0099), (7, 0.0100), (5, 0.5), (1, 4.0)], 1.5, 1),
    ([(9, 0.0099), (7, 0.0100), (5, 0.5), (1, 4.0)], 1.0, 0),  # only the lowest error qualifies
    ([(5, 1e-32), (3, 0.2), (1, 1.0)], 1.5, 0),  # an exact fit is chosen on clean data
    ([(5, 0.0), (3, 0.2), (1, 1.0)], 1.5, 0),  # an error of 0 scores finitely
    ([(1, 2.0)], 1.5, 0),
])
def test_best_takes_the_steepest_drop_near_the_lowest_error(pairs, factor, chosen):
    assert best_choice(front_of(pairs), factor) == chosen


def test_scores_are_drops_of_log_error_per_token():
    front = front_of([(9, 0.01), (5, 0.1), (1, 1.0)])
    np.testing.assert_allclose(scores(front), [math.log(10) / 4, math.log(10) / 4, 0.0])


rng = np.random.default_rng(7)
X = rng.uniform(-1, 1, (60, 1))
CLEAN = X[:, 0] ** 3 + X[:, 0] ** 2 + X[:, 0]
NOISY = CLEAN + rng.normal(0, 0.01 * CLEAN.std(), 60)
LAW = "Plus(Cube(v_{0}), Plus(v_{0}, Square(v_{0})))"


def fitted(y, **settings):
    return KivRegressor(max_complexity=8, beam_width=50, verbose=False, **settings).fit(X, y)


def test_the_law_is_chosen_over_its_fit_of_the_noise():
    lowest = fitted(NOISY, model_selection="accuracy")
    model = fitted(NOISY)  # "best" by default
    assert lowest.best_.formula != LAW and model.best_.formula == LAW
    table = model.equations_
    assert list(table["chosen"]).count(True) == 1 and table["formula"][model.chosen_] == "Plus(Cube(x0), Plus(x0, Square(x0)))"
    np.testing.assert_allclose(table["score"], scores(model.front_))


@pytest.mark.parametrize("rule", ["best", "validation"])
def test_an_exact_fit_is_chosen_on_clean_data(rule):
    assert fitted(CLEAN, model_selection=rule).best_.formula == LAW


def test_validation_is_seeded_and_refits_on_every_row():
    first, again = fitted(NOISY, model_selection="validation"), fitted(NOISY, model_selection="validation")
    assert [r.formula for r in first.front_] == [r.formula for r in again.front_]
    for result in first.front_:
        squares = (np.asarray(result.eval_batch(X)) - NOISY) ** 2
        assert result.error == pytest.approx(squares.mean(), rel=1e-9)


@pytest.mark.parametrize("settings, message", [
    ({"model_selection": "simplest"}, "model_selection must be one of 'accuracy', 'best', 'validation'"),
    ({"selection_factor": 0.5}, "selection_factor must be a number of at least 1"),
    ({"model_selection": "validation", "validation_share": 1.0}, "validation_share must be a number between 0 and 1"),
])
def test_settings_that_select_nothing_are_refused(settings, message):
    with pytest.raises(ValueError, match=message):
        fitted(CLEAN, **settings)
