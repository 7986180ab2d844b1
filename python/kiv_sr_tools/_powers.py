"""Products of powers of input columns as postfix formulas in the engine's operators."""

from __future__ import annotations

from fractions import Fraction
from typing import Any, Sequence, Tuple, Union

Tokens = Tuple[Tuple[Any, ...], ...]

TIMES, DIVIDE, INV, SQUARE, CUBE, SQRT, EXP, LOG = (
    ("op", name) for name in ("Times", "Divide", "Inv", "Square", "Cube", "Sqrt", "Exp", "Log")
)


def product_of_powers(exponents: Sequence[Union[int, Fraction]]) -> Tokens:
    """prod_j x_j ** exponents[j] as tokens: the positive powers over the negative ones;
    () for the empty product."""
    above = _product([(j, e) for j, e in enumerate(exponents) if e > 0])
    below = _product([(j, -e) for j, e in enumerate(exponents) if e < 0])
    if not below:
        return above
    return (*above, *below, DIVIDE) if above else (*below, INV)


def _product(powers: Sequence[Tuple[int, Union[int, Fraction]]]) -> Tokens:
    tokens: Tokens = ()
    for j, exponent in powers:
        factor = _power(("var", j), Fraction(exponent))
        tokens = (*tokens, *factor, TIMES) if tokens else factor
    return tokens


def _power(variable: Tuple[Any, ...], exponent: Fraction) -> Tokens:
    """variable ** exponent for exponent > 0: squares and cubes of integer powers, a square root
    of a half-integer one, and exp(e log x) (for x > 0 only) of any other."""
    if exponent.denominator == 2:
        return (*_power(variable, exponent * 2), SQRT)
    if exponent.denominator > 2:
        return (variable, LOG, ("real", float(exponent)), TIMES, EXP)
    n = exponent.numerator
    if n == 1:
        return (variable,)
    if n % 2 == 0:
        return (*_power(variable, Fraction(n // 2)), SQUARE)
    if n % 3 == 0:
        return (*_power(variable, Fraction(n // 3)), CUBE)
    return (*_power(variable, Fraction(n - 1)), variable, TIMES)
