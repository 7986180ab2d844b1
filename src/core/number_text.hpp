// Number texts shown to users: the four-decimal fixed form that formula
// renderings use for numeric constants, and the six-digit exponent form of a
// result's printed error.
//
// Both are correctly rounded from the exact binary value, ties to even, and
// keep the sign bit ("-0.0000"). Pure functions; thread-safe.
#pragma once

#include <string>

namespace kiv {

// "0.1000", "-1.2346", "-0.0000", "100000000000000000000.0000"; "NaN", "inf", "-inf".
std::string fixed4_text(double value);

// "1.234568e-3", "0.000000e0", "1.234500e4"; "NaN", "inf", "-inf".
std::string exponent_text(double value);

}  // namespace kiv
