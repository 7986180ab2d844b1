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
                                    const OperatorRegistry& registry, Complex* out) {
    if (count > kBlockRows || first > data.rows || count > data.rows - first)
        throw InvariantViolation("block outside the dataset in block evaluation");
    if (stack_.size() < tokens.size() * kBlockRows) stack_.resize(tokens.size() * kBlockRows);
    std::size_t depth = 0;
    auto block = [&](std::size_t level) { return stack_.data() + level * kBlockRows; };
    for (const Token& token : tokens) {
        switch (token.kind) {
            case TokenKind::Const:
            case TokenKind::Real:
                std::fill_n(block(depth++), count, token.value);
                break;
            case TokenKind::Var:
                if (token.index >= data.min_row_length) {
                    std::fill_n(out, count, kAbsent);
                    return;
                }
                std::copy_n(data.columns[token.index].data() + first, count, block(depth++));
                break;
            case TokenKind::Param:
                std::fill_n(block(depth++), count, token.index < params.size() ? params[token.index] : token.value);
                break;
            case TokenKind::Op: {
                const std::size_t n = token.arity;
                if (depth < n || n > 2) throw InvariantViolation("malformed expression in block evaluation");
                std::array<const Complex*, 2> args{};
                for (std::size_t i = 0; i < n; ++i) args[i] = block(depth - n + i);
                depth -= n;
                Complex* result = block(depth++);
                registry.op(token.op_id).eval_block(args.data(), result, count);
                for (std::size_t r = 0; r < count; ++r)
                    if (!is_acceptable(result[r])) result[r] = kAbsent;
                break;
            }
        }
    }
    if (depth != 1) throw InvariantViolation("malformed expression in block evaluation");
    std::copy_n(block(0), count, out);
}

void BlockEvaluator::evaluate(std::span<const Token> tokens, const Dataset& data, std::span<const Complex> params,
                              const OperatorRegistry& registry, std::span<Complex> out) {
    if (out.size() != data.rows) throw InvariantViolation("output size differs from the row count in block evaluation");
    for (std::size_t first = 0; first < data.rows; first += kBlockRows)
        evaluate_block(tokens, data, first, std::min(kBlockRows, data.rows - first), params, registry,
                       out.data() + first);
}

}  // namespace kiv
