#include "core/prepared_expression.hpp"

#include "invariant.hpp"

namespace kiv {

void PreparedExpression::prepare(std::span<const Token> tokens, const Dataset& data, const OperatorRegistry& registry,
                                 std::span<const KnownValues> known) {
    tokens_.assign(tokens.begin(), tokens.end());
    data_ = &data;
    registry_ = &registry;
    steps_.clear();
    operands_.resize(tokens.size());
    parent_.assign(tokens.size(), kNoParent);
    on_params_.assign(tokens.size(), 0);
    param_dependents_.clear();
    param_positions_.clear();
    pending_.clear();
    absent_everywhere_ = false;
    const KnownValues* next_known = known.data();
    const KnownValues* const known_end = known.data() + known.size();
    for (std::size_t t = 0; t < tokens.size(); ++t) {
        const auto position = static_cast<std::uint32_t>(t);
        if (next_known != known_end && next_known->first_token == t) {
            if (next_known->last_token < t || next_known->last_token >= tokens.size())
                throw InvariantViolation("known values outside the expression in block evaluation");
            // A Param inside would be neither refined nor penalized at its evaluated value.
            for (std::size_t inner = t; inner <= next_known->last_token; ++inner)
                if (tokens[inner].kind == TokenKind::Param) throw InvariantViolation("known values of a Param token");
            t = next_known->last_token;
            // Only the sub-expression's root is read by the operators above it.
            steps_.push_back({static_cast<std::uint32_t>(t), next_known->values});
            pending_.push_back(static_cast<std::uint32_t>(t));
            ++next_known;
            continue;
        }
        const Token& token = tokens[t];
        if (token.kind == TokenKind::Var && token.index >= data.min_row_length) absent_everywhere_ = true;
        if (token.kind == TokenKind::Param) {
            on_params_[t] = 1;
            param_positions_.push_back(position);
        }
        if (token.kind == TokenKind::Op) add_operator(t);
        if (on_params_[t]) param_dependents_.push_back(position);
        steps_.push_back({position, nullptr});
        pending_.push_back(position);
    }
    if (pending_.size() != 1) throw InvariantViolation("malformed expression in block evaluation");
    if (next_known != known_end) throw InvariantViolation("known values out of order in block evaluation");
}

void PreparedExpression::add_operator(std::size_t op) {
    const std::size_t n = tokens_[op].arity;
    if (pending_.size() < n || n > 2) throw InvariantViolation("malformed expression in block evaluation");
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t operand = pending_[pending_.size() - n + i];
        operands_[op][i] = operand;
        parent_[operand] = static_cast<std::uint32_t>(op);
        on_params_[op] |= on_params_[operand];
    }
    pending_.resize(pending_.size() - n);
}

}  // namespace kiv
