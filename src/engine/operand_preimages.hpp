// Operand preimages: what an operator's unknown operand must be for the
// operator's value to have a given real part, the inverse rules by which
// ClosedFormSearch meets a formula from its root down.
//
// For a target t a rule gives one or two keys, operand values z with
// Re(op(z)) = t for a unary operator, and Re(op(a, z)) = t or Re(op(z, b)) = t
// for a binary one whose other operand (a or b, complex) is known. The keys
// take z real and the principal branches, plus the second solution that Sin,
// Cos, Square and the logarithm's sign give, so some complex solutions are
// missed; a key only proposes an operand, and whoever composes the formula
// checks its value. A NaN or infinite key means that there is no solution.
//
// Rules are found by registry name; an operator without one is not inverted.
// Pure functions; thread-safe.
#pragma once

#include <span>
#include <string_view>

#include "ops/complex.hpp"

namespace kiv {

// Which operand of a binary operator is known.
enum class KnownOperand { Left, Right };

// One key of a rule: the operand value for target t (and the known operand).
using UnaryPreimage = double (*)(double t);
using BinaryPreimage = double (*)(double t, Complex known);

// The keys of the unary operator `name`, in a fixed order; empty without a rule.
std::span<const UnaryPreimage> unary_preimages(std::string_view name);

// The keys of the unknown operand of the binary operator `name` when the
// `known` one is given, in a fixed order; empty without a rule.
std::span<const BinaryPreimage> binary_preimages(std::string_view name, KnownOperand known);

}  // namespace kiv
