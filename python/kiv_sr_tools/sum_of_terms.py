"""Sums of terms: laws such as x1 y1 + x2 y2 + x3 y3 or 4x^4 + 3x^3 + 2x^2 + x,
long for a formula search, are short sparse linear fits over short formulas.

The terms are every formula of a few tokens over the inputs, as the engine
enumerates and deduplicates them. A search over sets of terms picks a few
whose least-squares combination fits y; each pick becomes one formula,
C*t1 + C*t2 + ... + C, that the engine refits on y, and the refitted
formulas meet in one strict Pareto front.

On a few dozen rows, smooth formulas of a few tokens mimic one another
closely (Exp(Square(x)) and the even powers of x, say), so greedy pursuits
(orthogonal matching pursuit, LARS, the lasso) take a mimic first and never
reach the exact law. The search keeps instead, for each count of terms and
each total of their tokens, the sets that fit best, so that sets of short
terms compete only among themselves; it looks one term further than asked
and prunes terms that fit nothing, since a superfluous term often absorbs a
mimic's error until the exact set is complete.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from kiv_sr import Searcher, SearchResult

from . import _native
from .transformed import PLAIN, TRANSFORMS, Transform, pareto_front

Values = npt.NDArray[np.float64]
Token = Tuple[Any, ...]
Tokens = Tuple[Token, ...]
# Positions of terms in the library, ascending.
Support = Tuple[int, ...]

PLUS, TIMES = ("op", "Plus"), ("op", "Times")
# Sets of terms kept per count of terms and total of tokens, and terms of each
# size tried on each set: the smallest width that recovered every law of the
# benchmarks on ten draws of their rows.
BEAM_WIDTH = 10
# A term whose part outside a set's span has less than this squared norm (of
# its unit norm) would fit y through cancellation between near-equal terms.
MIN_NEW_PART = 1e-10
# Relative to the spread of the term's values, the spread below which it is constant.
CONSTANT_SPREAD = 1e-12
# Decimals of the unit columns that tell terms apart: closer ones fit y alike.
DISTINCT_DECIMALS = 9
# A term is pruned from a set while y's residual grows by less than this share of y's spread
# beyond what noise alone would explain.
PRUNE_SLACK = 1e-12
# What a term costs in multiples of ln(number of terms), against rows * ln(residual).
# One term picked among m would cost 2 (the risk-inflation bound), but the beam
# picks whole sets: on pure noise over 1, 3 and 6 inputs (12 draws each of 50
# rows) some sets needed up to 2.65 to be pruned away; 3 prunes all of them.
NOISE_PENALTY = 3.0
# Rows the terms are picked on: a few hundred tell terms apart as well as
# thousands, and the library holds every term's value on each of them.
SELECTION_ROWS = 200
# The largest term size by default, and the most term values (terms x rows) the
# default lets the library hold: some 250 MB while it is built.
DEFAULT_TERM_SIZE = 4
LIBRARY_VALUES = 5_000_000


@dataclass(frozen=True)
class Library:
    """The terms: `tokens` and `sizes` (tokens per term), shortest first, and each term's
    values as `mean` + `scale` * `unit`, where the rows of `unit` have mean 0 and norm 1."""

    tokens: List[Tokens]
    sizes: npt.NDArray[np.int64]
    unit: Values
    mean: Values
    scale: Values

    def by_size(self) -> List[npt.NDArray[np.int64]]:
        """The positions of the terms of each size, smallest size first."""
        return [np.flatnonzero(self.sizes == size) for size in np.unique(self.sizes)]


def find_sum_of_terms(
    searcher: Searcher,
    X: npt.ArrayLike,
    y: npt.ArrayLike,
    *,
    max_terms: int = 5,
    term_size: Optional[int] = None,
    operators: Optional[Sequence[str]] = None,
    alpha: Optional[float] = None,
    l1_ratio: Optional[float] = None,
    products: bool = True,
) -> List[SearchResult]:
    """The strict Pareto front, lowest error first, of formulas C*t1 + ... + C*tk + C
    of at most `max_terms` terms t, each a formula of at most `term_size` tokens
    over the inputs whose values on the rows of X are real, finite and not
    constant; and of the constant C alone.

    Each formula's constants start at the least-squares fit of y and are refitted
    by `searcher` as its search refits its answers (with `alpha` and `l1_ratio`
    as for `find_candidates`), so its error is the search's error. The terms are
    built with the named `operators` (None: all of them), which must include
    Plus and Times, the operators of the sums. The formulas are not bound by the
    searcher's max_complexity: k terms of s tokens in all make s + 3k + 1
    tokens. The terms grow about tenfold with each token of `term_size` (at 4
    tokens, some 700 of one input and 12 000 of nine), and the time and memory
    with them; None takes the largest size up to 4 whose terms' values on the
    rows the terms are picked on fit in some 250 MB (4 up to eight inputs,
    then 3). The terms are picked, and their constants started, on at most
    200 rows spread evenly over X; the refit uses every row.

    A term joins a sum only if it lowers the residual by more than the best of
    the terms would on pure noise, so that on noisy data the sums stop at the
    terms that carry the law instead of fitting the noise with more.

    With `products`, where y has one sign, the same search on log y (log(-y))
    finds products of powers of terms, y = Exp(C*t1 + ... + C) (its Neg): laws
    that split into a product of factors of a few inputs each, such as
    n p^2 E / (3 k T), whatever the number of factors.

    The engine reads or refuses X and y as every search does; a `max_terms` or
    `term_size` that is not a positive integer raises ValueError."""
    terms = _positive_count("max_terms", max_terms)
    size = None if term_size is None else _positive_count("term_size", term_size)
    # Refitting the constant first lets the engine refuse the data as every search does.
    constant = _native.refit(searcher, (("param", 0.0, 0.0),), X, y, alpha, l1_ratio)
    targets = np.asarray(y, dtype=np.float64)
    if not np.all(np.isfinite(targets)):
        # No sum fits such targets; the search says so as it says it to every caller.
        return _native.search(searcher, X, y, alpha, l1_ratio, None, False, operators)[0]
    picked = _selection_rows(len(targets))
    rows = np.asarray(X, dtype=np.float64)[picked]
    library = term_library(rows, _fitting_term_size(rows, operators) if size is None else size, operators)
    # Checked once the engine has read the names, so that names it refuses are refused in its words.
    _require_sum_operators(operators)
    found = [constant]
    for transform in _searched(targets, operators, products):
        target = transform.forward(targets)[picked]
        for support in picks(library, target, terms):
            tokens = transform.undo(sum_tokens(library, support, target))
            found.append(_native.refit(searcher, tokens, X, y, alpha, l1_ratio))
    return pareto_front(found)


def _selection_rows(count: int) -> npt.NDArray[np.int64]:
    """The positions of the rows the terms are picked on: all of `count` rows, or
    SELECTION_ROWS of them spread evenly, the first and the last among them."""
    if count <= SELECTION_ROWS:
        return np.arange(count)
    return np.unique(np.linspace(0, count - 1, SELECTION_ROWS).round().astype(np.int64))


def _fitting_term_size(rows: Values, operators: Optional[Sequence[str]]) -> int:
    """The largest term size up to DEFAULT_TERM_SIZE whose library holds at most
    LIBRARY_VALUES values on `rows`; 1 if none does."""
    for size in range(DEFAULT_TERM_SIZE, 1, -1):
        # The engine tells formulas apart by its own probes, so one row counts them all.
        if len(_native.term_table(rows[:1], size, operators)[0]) * len(rows) <= LIBRARY_VALUES:
            return size
    return 1


def _searched(y: Values, operators: Optional[Sequence[str]], products: bool) -> List[Transform]:
    """y itself, and with `products` its logarithm (of -y where y < 0) where defined and undone by `operators`."""
    logarithms = [t for t in TRANSFORMS if t.name in ("log", "log_neg")] if products else []
    return [PLAIN, *(t for t in logarithms if t.defined_on(y) and t.undone_with(operators))]


def term_library(X: npt.ArrayLike, term_size: int, operators: Optional[Sequence[str]]) -> Library:
    """The engine's formulas of up to `term_size` tokens over the columns of X, built
    with `operators`, whose values are real, finite and not constant on every row;
    of terms that are affine in one another (x, -x, x + x), only the first."""
    tokens, values = _native.term_table(X, term_size, operators)
    real = np.all(values.imag == 0, axis=1) & np.all(np.isfinite(values), axis=1)
    rows = values.real[real]
    # Scaled to at most 1 first, so that huge terms square without overflow.
    peak = np.max(np.abs(rows), axis=1, keepdims=True)
    scaled = rows / np.where(peak > 0, peak, 1.0)
    level = scaled.mean(axis=1, keepdims=True)
    spread = np.linalg.norm(scaled - level, axis=1, keepdims=True)
    varying = spread[:, 0] > CONSTANT_SPREAD * np.sqrt(rows.shape[1])
    unit = (scaled - level)[varying] / spread[varying]
    first = _first_distinct(unit)
    kept = np.flatnonzero(real)[np.flatnonzero(varying)[first]]
    return Library(
        tokens=[tokens[i] for i in kept],
        sizes=np.array([len(tokens[i]) for i in kept], dtype=np.int64),
        unit=unit[first],
        mean=(level * peak)[varying][first, 0],
        scale=(spread * peak)[varying][first, 0],
    )


def picks(library: Library, y: Values, max_terms: int) -> List[Support]:
    """The sets of at most `max_terms` terms to offer: for each count of terms and
    total of tokens, the set that fits y best, less the terms that fit nothing;
    fewest tokens first, each once."""
    target = _unit_target(y)
    if target is None or not library.tokens:
        return []
    groups = library.by_size()
    level: Dict[int, Dict[Support, float]] = {0: {(): 1.0}}
    offered: Dict[Support, None] = {}
    noise_gain = _noise_gain(len(library.tokens), len(y))
    for _ in range(max_terms + 1):
        level = _next_level(library, groups, target, level)
        for group in level.values():
            pruned = _pruned(library, target, min(group, key=group.__getitem__), noise_gain)
            if 0 < len(pruned) <= max_terms:
                offered.setdefault(pruned)
    return sorted(offered, key=lambda support: (int(library.sizes[list(support)].sum()), len(support)))


def sum_tokens(library: Library, support: Support, y: Values) -> Tokens:
    """The postfix tokens of C*t1 + ... + C*tk + C over the terms of `support`, each C
    at the least-squares fit of y."""
    chosen = list(support)
    weights = np.linalg.lstsq(library.unit[chosen].T, y - y.mean(), rcond=None)[0]
    coefficients = weights / library.scale[chosen]
    intercept = y.mean() - float(coefficients @ library.mean[chosen])
    tokens: List[Token] = []
    for position, (term, coefficient) in enumerate(zip(support, coefficients)):
        tokens += [("param", float(coefficient), 0.0), *library.tokens[term], TIMES]
        if position:
            tokens.append(PLUS)
    return (*tokens, ("param", float(intercept), 0.0), PLUS)


def _next_level(
    library: Library,
    groups: Sequence[npt.NDArray[np.int64]],
    target: Values,
    level: Dict[int, Dict[Support, float]],
) -> Dict[int, Dict[Support, float]]:
    """The sets of one term more, by total of tokens: each set of `level` with each of
    the BEAM_WIDTH terms of each size that lower its residual most; the BEAM_WIDTH
    best sets of each total kept, each with its residual (y's share left unfitted)."""
    grown: Dict[int, Dict[Support, float]] = {}
    for size, group in level.items():
        for support in group:
            # Each set's residual afresh: carried down the levels, it would gather
            # rounding errors that rank sets fitting y to within 1e-9 wrongly.
            residual, gains = _gains(library, target, support)
            for members in groups:
                best = _largest(gains, members)
                grown_size = size + int(library.sizes[members[0]])
                for term in best[gains[best] > 0]:
                    extended = tuple(sorted((*support, int(term))))
                    grown.setdefault(grown_size, {}).setdefault(extended, residual - float(gains[term]))
    return {size: dict(sorted(group.items(), key=lambda item: item[1])[:BEAM_WIDTH]) for size, group in grown.items()}


def _gains(library: Library, target: Values, support: Support) -> Tuple[float, Values]:
    """y's residual on `support`, and for each term how much adding it lowers that
    residual; 0 for the members and for terms that add too little outside the
    support's span."""
    unit = library.unit
    if support:
        basis = np.linalg.qr(unit[list(support)].T)[0]
        residual = target - basis @ (basis.T @ target)
        # One matrix-vector product per column: the matrix product of so few columns
        # waits on its threads, on a busy machine tens of times longer than it computes.
        new_part = 1.0 - sum((unit @ column) ** 2 for column in basis.T)
    else:
        residual, new_part = target, np.ones(len(unit))
    fit = (unit @ residual) ** 2 / np.maximum(new_part, MIN_NEW_PART)
    gains = np.where(new_part > MIN_NEW_PART, fit, 0.0)
    gains[list(support)] = 0.0
    return float(residual @ residual), gains


def _largest(values: Values, members: npt.NDArray[np.int64]) -> npt.NDArray[np.int64]:
    """The BEAM_WIDTH of `members` of the largest `values`, in no particular order."""
    if len(members) <= BEAM_WIDTH:
        return members
    return members[np.argpartition(-values[members], BEAM_WIDTH - 1)[:BEAM_WIDTH]]


def _noise_gain(terms: int, rows: int) -> float:
    """The factor by which terms picked among `terms` lower y's residual on `rows` rows when
    y is noise: a term that lowers it by no more has found no more than noise.

    Each term costs NOISE_PENALTY * ln m in rows * ln(residual), so it must
    lower the residual by m^(NOISE_PENALTY / rows)."""
    return float(np.exp(NOISE_PENALTY * np.log(max(terms, 2)) / rows))


def _pruned(library: Library, target: Values, support: Support, noise_gain: float) -> Support:
    """`support` less, one at a time, the terms whose removal raises y's residual by no
    more than the factor `noise_gain`: terms that fit no more than noise would."""
    kept = list(support)
    whole = _residual(library, target, kept)
    while kept:
        residual, position = min((_residual(library, target, kept[:i] + kept[i + 1 :]), i) for i in range(len(kept)))
        if residual > whole * noise_gain + PRUNE_SLACK:
            break
        del kept[position]
        whole = residual
    return tuple(kept)


def _residual(library: Library, target: Values, support: Sequence[int]) -> float:
    """y's share left unfitted by the least-squares fit on the terms of `support`."""
    if not support:
        return float(target @ target)
    unit = library.unit[list(support)].T
    left = target - unit @ np.linalg.lstsq(unit, target, rcond=None)[0]
    return float(left @ left)


def _unit_target(y: Values) -> Optional[Values]:
    """y less its mean, of norm 1; None for a constant y, which no term fits better."""
    centred = y - y.mean()
    norm = np.linalg.norm(centred)
    return centred / norm if norm > 0 else None


def _first_distinct(unit: Values) -> npt.NDArray[np.int64]:
    """The positions of the first of each set of equal rows of `unit` up to sign, ascending."""
    if not len(unit):
        return np.empty(0, dtype=np.int64)
    signs = np.sign(unit[np.arange(len(unit)), np.argmax(np.abs(unit), axis=1)])
    first = np.unique(np.round(unit * signs[:, None], DISTINCT_DECIMALS), axis=0, return_index=True)[1]
    return np.sort(first)


def _positive_count(name: str, value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < 1:
        raise ValueError(f"{name} must be a positive integer, not {value!r}")
    return int(value)


def _require_sum_operators(operators: Optional[Sequence[str]]) -> None:
    missing = [name for name in ("Plus", "Times") if operators is not None and name not in operators]
    if missing:
        raise ValueError(f"find_sum_of_terms writes its sums with Plus and Times; operators lacks {', '.join(missing)}")
