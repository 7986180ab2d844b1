"""What an operator's operand must be for its value to have a given real part.

Closed forms are searched from the top down: for a target t and an operator,
these give the real values (keys) an unknown operand must have for the
operator's value to have real part t. They assume the unknown operand real
and take the principal branches (plus the second solution of Sin, Cos,
Square and of the logarithm's sign), so they miss some complex solutions;
what they find is checked by evaluating the whole formula. NaN or infinite
keys mean "no solution" and are dropped by the caller. An operator missing
here is not inverted: formulas with it at their root are not searched.
Callers silence NumPy's floating-point warnings.
"""

from __future__ import annotations

from typing import Callable, Dict, List

import numpy as np
import numpy.typing as npt

Floats = npt.NDArray[np.float64]
Complexes = npt.NDArray[np.complex128]
HALF_PI = np.pi / 2


def _where(condition: npt.NDArray[np.bool_], value: Floats) -> Floats:
    return np.where(condition, value, np.nan)


# name: f(t) -> the operand values z with Re(name(z)) = t.
OPERAND_OF_UNARY: Dict[str, Callable[[Floats], List[Floats]]] = {
    "Neg": lambda t: [-t],
    "Inv": lambda t: [1.0 / t],
    "Exp": lambda t: [np.log(t)],
    # ln(-x) = ln(x) + i pi has the same real part as ln(x).
    "Log": lambda t: [np.exp(t), -np.exp(t)],
    "Sqrt": lambda t: [_where(t >= 0.0, t * t)],
    "Sin": lambda t: [np.arcsin(t), np.pi - np.arcsin(t)],
    "Cos": lambda t: [np.arccos(t), -np.arccos(t)],
    "Tan": lambda t: [np.arctan(t)],
    "ArcSin": lambda t: [_where(np.abs(t) <= HALF_PI, np.sin(t))],
    "ArcCos": lambda t: [_where((t >= 0.0) & (t <= np.pi), np.cos(t))],
    "ArcTan": lambda t: [_where(np.abs(t) < HALF_PI, np.tan(t))],
    "Square": lambda t: [np.sqrt(t), -np.sqrt(t)],
    "Cube": lambda t: [np.cbrt(t)],
}


def _exp_re(a: Complexes) -> Floats:
    return np.exp(a.real) * np.cos(a.imag)


# name: f(t, a) -> the right operand values b with Re(name(a, b)) = t, a known.
RIGHT_OPERAND: Dict[str, Callable[[Floats, Complexes], List[Floats]]] = {
    "Plus": lambda t, a: [t - a.real],
    "Times": lambda t, a: [t / a.real],
    "Subtract": lambda t, a: [a.real - t],
    # 0 / b is 0 (or NaN) whatever b is.
    "Divide": lambda t, a: [_where(a.real != 0.0, a.real / t)],
    "KIV": lambda t, a: [np.exp(_exp_re(a) - t), -np.exp(_exp_re(a) - t)],
}

# name: f(t, b) -> the left operand values a with Re(name(a, b)) = t, b known;
# Plus and Times commute, so their left operand is always the known one.
LEFT_OPERAND: Dict[str, Callable[[Floats, Complexes], List[Floats]]] = {
    "Subtract": lambda t, b: [t + b.real],
    # Re(a / b) = a Re(1 / b) for a real a.
    "Divide": lambda t, b: [t * (b.real * b.real + b.imag * b.imag) / b.real],
    "KIV": lambda t, b: [np.log(t + np.log(np.hypot(b.real, b.imag)))],
}
