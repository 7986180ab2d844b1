"""Engine entries of the kiv_sr_tools package; private. Failures raise kiv_sr's own exceptions."""

from typing import Any, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from kiv_sr import Searcher, SearchResult

# One postfix token: ("var", column), ("param", re, im), ("real", value), ("const", name) or ("op", name).
Token = Tuple[Any, ...]
Tokens = Tuple[Token, ...]
Formula = Union[SearchResult, Sequence[Token]]

def search(
    searcher: Searcher,
    inputs: Any,
    ys: Any,
    alpha: Optional[float] = None,
    l1_ratio: Optional[float] = None,
    max_seconds: Optional[float] = None,
    verbose: bool = True,
    operators: Optional[Sequence[str]] = None,
) -> Tuple[List[SearchResult], int, str]: ...
def refit(
    searcher: Searcher,
    formula: Formula,
    inputs: Any,
    ys: Any,
    alpha: Optional[float] = None,
    l1_ratio: Optional[float] = None,
) -> SearchResult: ...
def tokens(result: SearchResult) -> Tokens: ...
def result(tokens: Sequence[Token], error: float = 0.0) -> SearchResult: ...

# A capsule holding one search run level by level.
class SteppedSearch: ...

def search_start(
    searcher: Searcher,
    inputs: Any,
    ys: Any,
    warns: bool,
    operators: Optional[Sequence[str]] = None,
) -> SteppedSearch: ...
def search_status(search: SteppedSearch) -> Tuple[int, bool]: ...
def search_expand(search: SteppedSearch) -> int: ...
def search_evaluate(search: SteppedSearch, begin: int, end: int) -> bytes: ...
def search_absorb(search: SteppedSearch, evaluated: bytes, count: int) -> None: ...
def search_finish_level(search: SteppedSearch) -> bytes: ...
def search_adopt_level(search: SteppedSearch, retained: bytes) -> None: ...
def search_front(search: SteppedSearch) -> List[SearchResult]: ...
def search_output(search: SteppedSearch) -> str: ...

def operators() -> List[Tuple[str, int, bool]]: ...

# The formula's complex values on each row, NaN+NaN*j where absent.
def evaluate(formula: Formula, rows: Any) -> npt.NDArray[np.complex128]: ...

# Every formula of 1 to max_size tokens over the columns of the rows, shortest first, and their values (formulas x rows).
def term_table(
    rows: Any, max_size: int, operators: Optional[Sequence[str]] = None
) -> Tuple[List[Tokens], npt.NDArray[np.complex128]]: ...

# A capsule holding the table of every formula of a few tokens over constant leaves and the closed-form search over it.
class ClosedFormSearch: ...

def closed_form_search(leaves: Sequence[Token], max_size: int) -> ClosedFormSearch: ...
def closed_forms(search: ClosedFormSearch, value: float, size: int, slack: float) -> List[Tuple[Tokens, complex]]: ...
