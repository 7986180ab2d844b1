// Complex: a complex number as two doubles, and the elementary complex
// functions every operator is built from.
//
// The special-value rules (infinities, signed zeros, NaN) are part of the
// contract: search results depend on them bit for bit, which is why this is
// not std::complex. Every function is pure and thread-safe.
#pragma once

#include <cmath>

namespace kiv {

struct Complex {
    double re = 0.0;
    double im = 0.0;

    friend bool operator==(const Complex&, const Complex&) = default;
};

// Overflow-safe modulus.
inline double modulus(Complex z) { return std::hypot(z.re, z.im); }

// modulus(z) == 0, without the hypot call: hypot never underflows to zero
// and is NaN or infinite whenever a part is, so it is zero exactly when
// both parts are.
inline bool is_zero(Complex z) { return z.re == 0.0 && z.im == 0.0; }

inline double argument(Complex z) { return std::atan2(z.im, z.re); }

// a / b, for one Complex or for Lanes of them (lanes.hpp). The caller has
// already checked that |b| != 0, or masks the rows where it is zero.
template <class C>
C divide(C a, C b) {
    const auto d = b.re * b.re + b.im * b.im;
    return {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
}

// ln z. The caller has already checked that |z| != 0.
inline Complex log(Complex z) {
    // On the real axis hypot(x, ±0) is |x| and atan2(±0, x) is ±0 or ±pi by
    // the sign of x, exactly; on the imaginary axis hypot(±0, y) is |y| and
    // atan2(y, ±0) is ±pi/2 by the sign of y. Skipping the calls there
    // changes no bit; the inverse sine and cosine of real values beyond ±1
    // take their logarithm on the imaginary axis.
    if (z.im == 0.0 && !std::isnan(z.re))
        return {std::log(std::fabs(z.re)), std::signbit(z.re) ? std::copysign(3.141592653589793, z.im) : z.im};
    if (z.re == 0.0 && !std::isnan(z.im)) return {std::log(std::fabs(z.im)), std::copysign(1.5707963267948966, z.im)};
    return {std::log(modulus(z)), argument(z)};
}

inline Complex exp(Complex z) {
    const double x = z.re;
    const double y = z.im;
    if (std::isinf(x) && x < 0) {
        if (std::isinf(y) || std::isnan(y)) return {0.0, 0.0};
    } else if (std::isinf(x)) {
        if (y == 0.0 || std::isinf(y) || std::isnan(y)) return {x, std::isinf(y) ? std::nan("") : y};
    } else if (std::isnan(x) && y == 0.0) {
        return z;
    }
    const double e = std::exp(x);
    // cos(±0) is 1 and sin(±0) is ±0 exactly: the same bits without the calls.
    if (y == 0.0) return {e, e * y};
    return {e * std::cos(y), e * std::sin(y)};
}

inline Complex sqrt(Complex z) {
    const double x = z.re;
    const double y = z.im;
    if (y == 0.0) {
        if (!std::signbit(x)) return {std::sqrt(x), y};
        const double root = std::sqrt(-x);
        return {0.0, std::signbit(y) ? -root : root};
    }
    if (x == 0.0) {
        const double h = std::sqrt(std::fabs(y) * 0.5);
        return {h, std::signbit(y) ? -h : h};
    }
    const double rho = std::sqrt(modulus(z));
    const double theta = argument(z) * 0.5;
    return {rho * std::cos(theta), rho * std::sin(theta)};
}

}  // namespace kiv
