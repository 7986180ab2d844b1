#include "core/block_evaluator.hpp"

#include <algorithm>
#include <array>

#include "core/expression.hpp"
#include "invariant.hpp"

namespace kiv {

// A row that became absent is carried on as kAbsent (NaN in both parts).
// Every builtin operator maps a NaN argument to a non-finite result, so the
// row stays absent to the end, as it would had evaluation stopped there.
void BlockEvaluator::evaluate_block(std::span<const Token> tokens, const Dataset& data, std::size_t first,
                                    std::size_t count, std::span<const Complex> params,
                                    const OperatorRegistry& registry, Complex* out,
                                    std::span<const KnownValues> known) {
    if (count > kBlockRows || first > data.rows || count > data.rows - first)
        throw InvariantViolation("block outside the dataset in block evaluation");
    tokens_ = tokens;
    all_absent_ = false;
    const std::size_t block = block_of(first);
    if (tape_.size() < (block + 1) * tokens.size() * kBlockRows) tape_.resize((block + 1) * tokens.size() * kBlockRows);
    operands_.resize(tokens.size());
    parent_.assign(tokens.size(), kNoParent);
    on_params_.assign(tokens.size(), 0);
    pending_.clear();
    const KnownValues* next_known = known.data();
    const KnownValues* const known_end = known.data() + known.size();
    for (std::size_t t = 0; t < tokens.size(); ++t) {
        if (next_known != known_end && next_known->first_token == t) {
            // Only the sub-expression's root is read by the operators above it.
            if (next_known->last_token < t || next_known->last_token >= tokens.size())
                throw InvariantViolation("known values outside the expression in block evaluation");
            t = next_known->last_token;
            std::copy_n(next_known->values + first, count, tape(block, t));
            pending_.push_back(static_cast<std::uint32_t>(t));
            ++next_known;
            continue;
        }
        const Token& token = tokens[t];
        Complex* values = tape(block, t);
        switch (token.kind) {
            case TokenKind::Const:
            case TokenKind::Real:
                std::fill_n(values, count, token.value);
                break;
            case TokenKind::Var:
                if (token.index >= data.min_row_length) {
                    all_absent_ = true;
                    std::fill_n(out, count, kAbsent);
                    return;
                }
                std::copy_n(data.columns[token.index].data() + first, count, values);
                break;
            case TokenKind::Param:
                fill_param(t, count, params, values);
                on_params_[t] = 1;
                break;
            case TokenKind::Op: {
                const std::size_t n = token.arity;
                if (pending_.size() < n || n > 2) throw InvariantViolation("malformed expression in block evaluation");
                std::array<const Complex*, 2> args{};
                for (std::size_t i = 0; i < n; ++i) {
                    const std::uint32_t operand = pending_[pending_.size() - n + i];
                    operands_[t][i] = operand;
                    parent_[operand] = static_cast<std::uint32_t>(t);
                    args[i] = tape(block, operand);
                    on_params_[t] |= on_params_[operand];
                }
                pending_.resize(pending_.size() - n);
                apply(t, args.data(), count, registry, values);
                break;
            }
        }
        pending_.push_back(static_cast<std::uint32_t>(t));
    }
    if (pending_.size() != 1) throw InvariantViolation("malformed expression in block evaluation");
    std::copy_n(tape(block, tokens.size() - 1), count, out);
}

void BlockEvaluator::recorded(std::size_t first, std::size_t count, Complex* out) const {
    if (all_absent_)
        std::fill_n(out, count, kAbsent);
    else
        std::copy_n(tape(block_of(first), tokens_.size() - 1), count, out);
}

void BlockEvaluator::evaluate_with_leaf(std::size_t first, std::size_t count, std::size_t position, Complex value,
                                        const OperatorRegistry& registry, Complex* out) {
    if (all_absent_) {
        std::fill_n(out, count, kAbsent);
        return;
    }
    if (position >= tokens_.size() || tokens_[position].kind == TokenKind::Op)
        throw InvariantViolation("leaf position outside the evaluated expression");
    const std::size_t block = block_of(first);
    Complex* current = path_[0].data();
    std::fill_n(current, count, value);
    for (std::size_t t = position; parent_[t] != kNoParent; t = parent_[t]) {
        const std::size_t op = parent_[t];
        std::array<const Complex*, 2> args{};
        for (std::size_t i = 0; i < tokens_[op].arity; ++i)
            args[i] = operands_[op][i] == t ? current : tape(block, operands_[op][i]);
        Complex* next = current == path_[0].data() ? path_[1].data() : path_[0].data();
        apply(op, args.data(), count, registry, next);
        current = next;
    }
    std::copy_n(current, count, out);
}

void BlockEvaluator::reevaluate_params(std::size_t first, std::size_t count, std::span<const Complex> params,
                                       const OperatorRegistry& registry, Complex* out) {
    if (all_absent_) {
        std::fill_n(out, count, kAbsent);
        return;
    }
    const std::size_t block = block_of(first);
    for (std::size_t t = 0; t < tokens_.size(); ++t) {
        if (!on_params_[t]) continue;
        if (tokens_[t].kind == TokenKind::Param) {
            fill_param(t, count, params, tape(block, t));
            continue;
        }
        std::array<const Complex*, 2> args{};
        for (std::size_t i = 0; i < tokens_[t].arity; ++i) args[i] = tape(block, operands_[t][i]);
        apply(t, args.data(), count, registry, tape(block, t));
    }
    std::copy_n(tape(block, tokens_.size() - 1), count, out);
}

void BlockEvaluator::fill_param(std::size_t token, std::size_t count, std::span<const Complex> params,
                                Complex* values) const {
    const Token& param = tokens_[token];
    std::fill_n(values, count, param.index < params.size() ? params[param.index] : param.value);
}

void BlockEvaluator::apply(std::size_t token, const Complex* const* args, std::size_t count,
                           const OperatorRegistry& registry, Complex* result) {
    registry.op(tokens_[token].op_id).eval_block(args, result, count);
    for (std::size_t r = 0; r < count; ++r) result[r] = is_acceptable(result[r]) ? result[r] : kAbsent;
}

void BlockEvaluator::evaluate(std::span<const Token> tokens, const Dataset& data, std::span<const Complex> params,
                              const OperatorRegistry& registry, std::span<Complex> out) {
    if (out.size() != data.rows) throw InvariantViolation("output size differs from the row count in block evaluation");
    for (std::size_t first = 0; first < data.rows; first += kBlockRows)
        evaluate_block(tokens, data, first, std::min(kBlockRows, data.rows - first), params, registry,
                       out.data() + first);
}

}  // namespace kiv
