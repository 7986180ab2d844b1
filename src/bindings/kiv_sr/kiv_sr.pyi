"""The main Python module entry point."""

from typing import Callable, List, Optional, Sequence, SupportsFloat, SupportsIndex, Tuple, Type, Union, final

import numpy as np
import numpy.typing as npt

__all__ = ["Searcher", "SearchResult", "KivDimensionError", "KivComplexityError", "KivRuntimeError"]
__version__: str

_Real = Union[SupportsFloat, SupportsIndex]
# Anything NumPy converts (a pandas DataFrame or Series, an object with __array__) is accepted too.
_Vector = Union[Sequence[_Real], npt.NDArray[np.generic], npt.ArrayLike]
_Matrix = Union[Sequence[Sequence[_Real]], Sequence[npt.NDArray[np.generic]], npt.NDArray[np.generic], npt.ArrayLike]
# What pickle carries of a result: (version, error, postfix tokens); a token is
# ("var", column), ("param", re, im), ("real", value), ("const", name) or ("op", name).
_Token = Union[Tuple[str, int], Tuple[str, float], Tuple[str, float, float], Tuple[str, str]]
_State = Tuple[int, float, Tuple[_Token, ...]]

class KivRuntimeError(Exception): ...
class KivDimensionError(Exception): ...
class KivComplexityError(Exception): ...

@final
class SearchResult:
    """A high-performance symbolic regression result."""

    @property
    def formula(self) -> str:
        """The discovered mathematical formula as a string."""
    @property
    def error(self) -> float:
        """The residual error (Mean Squared Error) of the formula."""
    @property
    def complexity(self) -> int:
        """The structural complexity of the formula."""
    def to_latex(self) -> str:
        """Returns the formula in LaTeX format for academic reporting."""
    def to_python(self) -> str:
        """Returns the formula in Python/NumPy format for immediate use."""
    def eval(self, x: Union[_Real, _Vector]) -> float:
        """Evaluates the discovered formula for a given input (float or list/array)."""
    def eval_batch(self, inputs: _Matrix) -> List[float]:
        """Evaluates the formula for a batch of inputs (list of lists or 2D array)."""
    def predict(self, inputs: _Matrix) -> List[float]:
        """Alias for eval_batch (Scikit-Learn style)."""
    def __reduce__(self) -> Tuple[Callable[[_State], SearchResult], Tuple[_State]]: ...
    @classmethod
    def _from_state(cls, state: _State, /) -> SearchResult: ...

@final
class Searcher:
    """The core KIV-SR search engine exposed to Python."""

    def __new__(
        cls,
        max_complexity: SupportsIndex = 10,
        complexity_penalty: _Real = 0.1,
        beam_width: SupportsIndex = 1000,
        alpha: _Real = 0.0,
        l1_ratio: _Real = 0.5,
    ) -> Searcher: ...
    def __reduce__(self) -> Tuple[Type[Searcher], Tuple[int, float, int, float, float]]: ...
    @property
    def max_complexity(self) -> int: ...
    @property
    def beam_width(self) -> int: ...
    @property
    def complexity_penalty(self) -> float: ...
    @property
    def alpha(self) -> float: ...
    @property
    def l1_ratio(self) -> float: ...
    def find_function(
        self, xs: _Vector, ys: _Vector, alpha: Optional[_Real] = None, l1_ratio: Optional[_Real] = None
    ) -> SearchResult:
        """Finds a univariate function f(x) ≈ y.
        Supports both Python lists and NumPy arrays."""
    def find_multivariate(
        self, inputs: _Matrix, ys: _Vector, alpha: Optional[_Real] = None, l1_ratio: Optional[_Real] = None
    ) -> SearchResult:
        """Finds a multivariate function f(x0, x1, ...) ≈ y.
        Inputs should be a 2D array-like structure."""
    def fit(
        self, inputs: _Matrix, ys: _Vector, alpha: Optional[_Real] = None, l1_ratio: Optional[_Real] = None
    ) -> SearchResult:
        """Alias for find_multivariate (Scikit-Learn style)."""
    def find_candidates(
        self, inputs: _Matrix, ys: _Vector, alpha: Optional[_Real] = None, l1_ratio: Optional[_Real] = None
    ) -> List[SearchResult]:
        """Returns the Pareto-front of all candidate formulas found."""
    def recognize_constant(
        self, value: _Real, alpha: Optional[_Real] = None, l1_ratio: Optional[_Real] = None
    ) -> SearchResult:
        """Identifies a closed-form expression for a scalar constant."""
