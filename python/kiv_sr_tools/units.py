"""Units as exponents of the seven SI base units.

A unit is a string that pint parses, such as "kg*m/s**2", "J/K" or "1" for
a dimensionless quantity, or a mapping of SI base-unit symbols to exponents,
such as {"kg": 1, "m": 1, "s": -2}. Only the dimension counts: a unit's
scale (km against m, eV against J) goes into the fitted constants.
"""

from __future__ import annotations

import functools
from fractions import Fraction
from typing import Any, Mapping, Sequence, Tuple, Union

from ._optional import require

Unit = Union[str, Mapping[str, Union[int, float, Fraction]]]
Dimension = Tuple[Fraction, ...]

BASE_UNITS = ("m", "kg", "s", "A", "K", "mol", "cd")
# pint's names of the dimensions of the base units, in the same order.
_PINT_DIMENSIONS = ("[length]", "[mass]", "[time]", "[current]", "[temperature]", "[substance]", "[luminosity]")
# Exponents are read as fractions with at most this denominator, so that a float 0.5 is 1/2.
_MAX_DENOMINATOR = 1000


def dimension_of(unit: Unit, what: str) -> Dimension:
    """The exponents of the SI base units (BASE_UNITS order) in `unit`, the unit of `what`
    (named in the ValueError raised when it is no unit)."""
    if isinstance(unit, str):
        return _parsed(unit, what)
    if isinstance(unit, Mapping):
        return _from_exponents(unit, what)
    raise TypeError(f"the unit of {what} must be a string or a mapping of SI base units to exponents; got {unit!r}")


def unit_list(X_units: Any) -> Sequence[Unit]:
    """`X_units` checked to be a sequence (one unit per input column), not a single unit."""
    if isinstance(X_units, (str, bytes, Mapping)) or not isinstance(X_units, Sequence):
        raise TypeError(f"X_units must be a sequence of one unit per input column; got {X_units!r}")
    return X_units


def _from_exponents(exponents: Mapping[str, Any], what: str) -> Dimension:
    unknown = [name for name in exponents if name not in BASE_UNITS]
    if unknown:
        raise ValueError(
            f"the unit of {what} names {', '.join(map(repr, unknown))}, which is no SI base unit; "
            f"the base units are {', '.join(BASE_UNITS)}"
        )
    try:
        return tuple(_exponent(exponents.get(name, 0)) for name in BASE_UNITS)
    except (TypeError, ValueError):
        raise ValueError(f"the unit of {what} has an exponent that is no number: {dict(exponents)!r}") from None


def _parsed(text: str, what: str) -> Dimension:
    registry = _registry()
    try:
        parsed = registry.parse_expression(text)
    except Exception as error:  # pint raises its own kinds for each way a text is no unit
        raise ValueError(f"the unit of {what}, {text!r}, is no unit: {error}") from None
    dimensionality = getattr(parsed, "dimensionality", {})
    strange = [name for name in dimensionality if name not in _PINT_DIMENSIONS]
    if strange:
        raise ValueError(f"the unit of {what}, {text!r}, has the dimension {strange[0]}, which is no SI dimension")
    return tuple(_exponent(dimensionality.get(name, 0)) for name in _PINT_DIMENSIONS)


def _exponent(value: Any) -> Fraction:
    if isinstance(value, bool):
        raise TypeError("a truth value is no exponent")
    return Fraction(value).limit_denominator(_MAX_DENOMINATOR)


@functools.lru_cache(maxsize=None)
def _registry() -> Any:
    pint = require("pint", "Units given as text", "pint", "units")
    return pint.UnitRegistry()


def unit_text(dimension: Dimension) -> str:
    """`dimension` written in SI base units, such as "kg*m/s**2"; "1" when dimensionless."""
    return power_text(dimension, BASE_UNITS)


def power_text(exponents: Sequence[Any], names: Sequence[str]) -> str:
    """A product of powers as text, such as "q1**2/(eps*r**2)"; "1" for none."""

    def power(name: str, exponent: Fraction) -> str:
        return name if exponent == 1 else f"{name}**{exponent}" if exponent.denominator == 1 else f"{name}**({exponent})"

    values = [Fraction(e) for e in exponents]
    above = [power(n, e) for n, e in zip(names, values) if e > 0]
    below = [power(n, -e) for n, e in zip(names, values) if e < 0]
    numerator = "*".join(above) or "1"
    if not below:
        return numerator
    return f"{numerator}/{below[0]}" if len(below) == 1 else f"{numerator}/({'*'.join(below)})"
