// Formula rendering: an expression as LaTeX or as Python/NumPy source, by one
// postfix walk that asks each operator of the registry for its own template.
//
// Python templates enclose every operand, so the Python walk adds nothing.
// The LaTeX templates of Plus, Subtract, Times and the powers insert their
// operands bare; the LaTeX walk therefore wraps an operand in
// \left( ... \right) exactly where the formula's grouping would otherwise be
// lost: a sum or difference under a product, a sum or difference as the right
// operand of a difference, and any compound base of Square or Cube.
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
