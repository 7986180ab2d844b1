#include "core/expression.hpp"

#include <algorithm>

#include "core/number_text.hpp"
#include "invariant.hpp"

namespace kiv {

std::optional<Complex> eval_internal(std::span<const Token> tokens, std::span<const Complex> x,
                                     std::span<const Complex> params, const OperatorRegistry& registry,
                                     std::vector<Complex>& stack) {
    for (const Token& token : tokens) {
        switch (token.kind) {
            case TokenKind::Const:
            case TokenKind::Real:
                stack.push_back(token.value);
                break;
            case TokenKind::Var:
                if (token.index >= x.size()) return std::nullopt;
                stack.push_back(x[token.index]);
                break;
            case TokenKind::Param:
                stack.push_back(token.index < params.size() ? params[token.index] : token.value);
                break;
            case TokenKind::Op: {
                const std::size_t n = token.arity;
                if (stack.size() < n) return std::nullopt;
                const std::size_t base = stack.size() - n;
                const Operator& op = registry.op(token.op_id);
                const auto value = op.eval(std::span<const Complex>(stack.data() + base, n));
                if (!value || !is_acceptable(*value)) return std::nullopt;
                stack.resize(base);
                stack.push_back(*value);
                break;
            }
        }
    }
    if (stack.size() != 1) return std::nullopt;
    return stack.front();
}

std::optional<Complex> Expression::eval(std::span<const Complex> x, const OperatorRegistry& registry) const {
    return eval_with_params(x, {}, registry);
}

std::optional<Complex> Expression::eval_with_params(std::span<const Complex> x, std::span<const Complex> params,
                                                    const OperatorRegistry& registry) const {
    std::vector<Complex> stack;
    stack.reserve(complexity);
    return eval_internal(tokens, x, params, registry, stack);
}

void set_param_values(std::span<Token> tokens, std::span<const double> values) {
    for (Token& token : tokens)
        if (token.kind == TokenKind::Param) {
            check_index(token.index, values.size(), "src/core/expression");
            token.value = {values[token.index], 0.0};
        }
}

Expression variable_leaf(std::uint8_t column) {
    // n_vars = column + 1 must fit in 8 bits.
    check_index(column, kMaxVariables, "src/core/expression");
    return {{Token::var(column)}, "v_{" + std::to_string(column) + "}", 1, static_cast<std::uint8_t>(column + 1), 0};
}

Expression parameter_leaf() { return {{Token::param(0, {0.1, 0.0})}, "C", 1, 0, 1}; }

Expression constant_leaf(std::size_t op_id, const OperatorRegistry& registry) {
    const OperatorMeta& meta = registry.meta(op_id);
    // Evaluating an operator of higher arity on no arguments would read past them.
    if (meta.arity != 0) throw InvariantViolation(meta.name + " is not a constant, in src/core/expression");
    const std::optional<Complex> value = registry.op(op_id).eval({});
    if (!value) throw InvariantViolation(meta.name + " has no value, in src/core/expression");
    return {{Token::constant(op_id, *value)}, meta.name, 1, 0, 0};
}

Expression real_leaf(double value) { return {{Token::real(value)}, fixed4_text(value), 1, 0, 0}; }

Expression apply_unary(std::size_t op_id, const Expression& operand, const OperatorRegistry& registry) {
    Expression e;
    e.tokens.reserve(operand.tokens.size() + 1);
    e.tokens = operand.tokens;
    e.tokens.push_back(Token::op(1, op_id));
    e.formula = registry.meta(op_id).name + "(" + operand.formula + ")";
    e.complexity = operand.complexity + 1;
    e.n_vars = operand.n_vars;
    e.n_params = operand.n_params;
    return e;
}

Expression apply_binary(std::size_t op_id, const Expression& a, const Expression& b, const OperatorRegistry& registry) {
    // Param indices are 8-bit: more than 255 parameters have no representation.
    check_index(a.n_params + b.n_params, kMaxParams + 1, "src/core/expression");
    Expression e;
    e.tokens.reserve(a.tokens.size() + b.tokens.size() + 1);
    e.tokens = a.tokens;
    for (Token token : b.tokens) {
        if (token.kind == TokenKind::Param) token.index = static_cast<std::uint8_t>(token.index + a.n_params);
        e.tokens.push_back(token);
    }
    e.tokens.push_back(Token::op(2, op_id));
    e.formula = registry.meta(op_id).name + "(" + a.formula + ", " + b.formula + ")";
    e.complexity = a.complexity + b.complexity + 1;
    e.n_vars = std::max(a.n_vars, b.n_vars);
    e.n_params = static_cast<std::uint8_t>(a.n_params + b.n_params);
    return e;
}

}  // namespace kiv
