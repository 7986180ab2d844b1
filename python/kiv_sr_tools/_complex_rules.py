"""The engine's operators on whole NumPy arrays, in complex arithmetic.

Each value is a pair of float64 arrays (real and imaginary parts), and each
rule repeats the engine's own arithmetic (src/ops/builtin.cpp and
src/ops/complex.hpp) product for product and in the same order: NumPy's
complex division and inverse trigonometric functions take other routes and
put signed zeros, and so branch cuts, elsewhere. Where the engine refuses
an argument up front (a zero divisor, the logarithm of 0) the rule's
arithmetic gives a non-finite value instead, which the caller's magnitude
screening marks absent just the same. Callers silence NumPy's
floating-point warnings: every branch of a rule is computed on every row.
"""

from __future__ import annotations

from typing import Callable, Dict, NamedTuple

import numpy as np
import numpy.typing as npt

Floats = npt.NDArray[np.float64]
HALF_PI = 1.5707963267948966


class Complex(NamedTuple):
    re: Floats
    im: Floats


def divide(a: Complex, b: Complex) -> Complex:
    # A zero divisor gives 0/0: NaN.
    d = b.re * b.re + b.im * b.im
    return Complex((a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d)


def log(z: Complex) -> Complex:
    # hypot(x, ±0) is |x| and atan2(±0, x) is ±0 or ±pi exactly: the engine's
    # shortcut on the real axis gives these same bits.
    return Complex(np.log(np.hypot(z.re, z.im)), np.arctan2(z.im, z.re))


def exp(z: Complex) -> Complex:
    # Imaginary parts are always finite here (variables are real, operator
    # results are screened), which is where the engine's special cases would differ.
    e = np.exp(z.re)
    return Complex(e * np.cos(z.im), e * np.sin(z.im))


def sqrt(z: Complex) -> Complex:
    x, y = z.re, z.im
    root = np.sqrt(np.abs(x))
    half = np.sqrt(np.abs(y) * 0.5)
    rho = np.sqrt(np.hypot(x, y))
    theta = np.arctan2(y, x) * 0.5
    on_axis, negative, imaginary_axis = y == 0.0, np.signbit(x), x == 0.0
    re = np.where(on_axis, np.where(negative, 0.0, root), np.where(imaginary_axis, half, rho * np.cos(theta)))
    im = np.where(on_axis, np.where(negative, np.copysign(root, y), y),
                  np.where(imaginary_axis, np.copysign(half, y), rho * np.sin(theta)))
    return Complex(re, im)


def square(z: Complex) -> Complex:
    return Complex(z.re * z.re - z.im * z.im, z.re * z.im + z.re * z.im)


def times(z: Complex, w: Complex) -> Complex:
    return Complex(z.re * w.re - z.im * w.im, z.im * w.re + z.re * w.im)


def times_i(z: Complex) -> Complex:
    return Complex(z.re * 0.0 - z.im, z.re + z.im * 0.0)


def sine(z: Complex) -> Complex:
    return Complex(np.sin(z.re) * np.cosh(z.im), np.cos(z.re) * np.sinh(z.im))


def cosine(z: Complex) -> Complex:
    return Complex(np.cos(z.re) * np.cosh(z.im), -(np.sin(z.re) * np.sinh(z.im)))


def arcsin_log(z: Complex) -> Complex:
    """ln(i*z + sqrt(1 - z^2))."""
    x, y = z.re, z.im
    t = times_i(z)
    xy = x * y
    root = sqrt(Complex((y * y - x * x) + 1.0, 0.0 - (xy + xy)))
    return log(Complex(t.re + root.re, t.im + root.im))


def kiv(z: Complex, w: Complex) -> Complex:
    e, l = exp(z), log(w)
    return Complex(e.re - l.re, e.im - l.im)


def inverse(z: Complex) -> Complex:
    return divide(Complex(np.ones_like(z.re), np.zeros_like(z.im)), z)


def tangent(z: Complex) -> Complex:
    return divide(sine(z), cosine(z))


def arcsin(z: Complex) -> Complex:
    l = arcsin_log(z)
    return Complex(l.im + l.re * -0.0, l.im * -0.0 - l.re)


def arccos(z: Complex) -> Complex:
    l = arcsin_log(z)
    return Complex((l.re * 0.0 - l.im) + HALF_PI, (l.re + l.im * 0.0) + 0.0)


def arctan(z: Complex) -> Complex:
    t = times_i(z)
    p = Complex(1.0 - t.re, 0.0 - t.im)
    m = Complex(t.re + 1.0, t.im + 0.0)
    lp, lm = log(p), log(m)
    d = Complex(lp.re - lm.re, lp.im - lm.im)
    return Complex(0.0 * d.re - 0.5 * d.im, 0.5 * d.re + 0.0 * d.im)


def cube(z: Complex) -> Complex:
    s = square(z)
    return Complex(z.re * s.re - z.im * s.im, z.re * s.im + z.im * s.re)


UNARY: Dict[str, Callable[[Complex], Complex]] = {
    "Neg": lambda z: Complex(-z.re, -z.im),
    "Inv": inverse,
    "Exp": exp,
    "Log": log,
    "Sqrt": sqrt,
    "Sin": sine,
    "Cos": cosine,
    "Tan": tangent,
    "ArcSin": arcsin,
    "ArcCos": arccos,
    "ArcTan": arctan,
    "Square": square,
    "Cube": cube,
}

BINARY: Dict[str, Callable[[Complex, Complex], Complex]] = {
    "KIV": kiv,
    "Plus": lambda z, w: Complex(z.re + w.re, z.im + w.im),
    "Times": times,
    "Subtract": lambda z, w: Complex(z.re - w.re, z.im - w.im),
    "Divide": divide,
}
