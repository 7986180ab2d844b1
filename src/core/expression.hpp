// Expression: one candidate formula as postfix tokens, with its plain-text
// formula and the counters the search reads without walking the tokens.
//
// Invariants: complexity == tokens.size(); Param tokens carry the indices
// 0 .. n_params-1 from left to right; n_vars is one more than the highest Var
// index. An expression holds no registry reference: operator ids resolve
// against the registry each call is given. Immutable values are safe to
// evaluate from many threads at once, each with its own stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/token.hpp"
#include "ops/registry.hpp"

namespace kiv {

// Limits of the 8-bit counters: columns 0 .. 254 (so n_vars fits) and at
// most 255 parameters.
inline constexpr std::size_t kMaxVariables = 255;
inline constexpr std::size_t kMaxParams = 255;

struct Expression {
    std::vector<Token> tokens;
    std::string formula;
    std::size_t complexity = 0;
    std::uint8_t n_vars = 0;
    std::uint8_t n_params = 0;

    // Value on row x with every Param at its stored value; absent where undefined.
    std::optional<Complex> eval(std::span<const Complex> x, const OperatorRegistry& registry) const;

    // As eval, with params[j] replacing the stored value of Param j for j < params.size().
    std::optional<Complex> eval_with_params(std::span<const Complex> x, std::span<const Complex> params,
                                            const OperatorRegistry& registry) const;
};

// The evaluation core: one pass over `tokens` using the caller's `stack`,
// which must be empty and is left in an unspecified state. Allocates nothing
// once the stack's capacity covers the token count.
std::optional<Complex> eval_internal(std::span<const Token> tokens, std::span<const Complex> x,
                                     std::span<const Complex> params, const OperatorRegistry& registry,
                                     std::vector<Complex>& stack);

// Composition: each returns a new expression and leaves its inputs unchanged.
// Exceeding kMaxVariables or kMaxParams throws InvariantViolation.
// Param k of `tokens` set to (values[k], 0); a Param without a value throws InvariantViolation.
void set_param_values(std::span<Token> tokens, std::span<const double> values);

Expression variable_leaf(std::uint8_t column);
Expression parameter_leaf();
// The search builds neither of the next two leaves; they let a formula be
// rebuilt from a description that names fixed numbers.
// The registry constant `op_id` (arity 0), written by its registry name;
// any other operator throws InvariantViolation.
Expression constant_leaf(std::size_t op_id, const OperatorRegistry& registry);
// A fixed real number, written in the four-decimal number text.
Expression real_leaf(double value);
Expression apply_unary(std::size_t op_id, const Expression& operand, const OperatorRegistry& registry);
// b's Param indices are shifted by a's n_params.
Expression apply_binary(std::size_t op_id, const Expression& a, const Expression& b, const OperatorRegistry& registry);

}  // namespace kiv
