// Formula rendering: an expression as LaTeX or as Python/NumPy source, by one
// postfix walk that asks each operator of the registry for its own template.
//
// Python templates enclose every operand, so the Python walk adds nothing.
// Some LaTeX templates insert their operands bare ("\1 \cdot \2"); each
// operator's LatexLayout says which operand shapes its template would break
// and what shape its own text has, and the LaTeX walk wraps exactly those
// operands in \left( ... \right).
//
// Numbers print with four decimals (fixed4_text). Pure functions over an
// immutable expression and registry; thread-safe.
#pragma once

#include <string>

#include "core/expression.hpp"
#include "ops/registry.hpp"

namespace kiv {

// LaTeX text of `expression`; its operator ids resolve against `registry`.
// Empty for an expression without tokens; an unknown id or an operator short
// of operands throws InvariantViolation.
std::string to_latex(const Expression& expression, const OperatorRegistry& registry);

// Python/NumPy text of `expression`, variables written "v_{i}"; same contract.
std::string to_python(const Expression& expression, const OperatorRegistry& registry);

}  // namespace kiv
