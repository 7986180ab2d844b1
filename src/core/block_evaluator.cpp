#include "core/block_evaluator.hpp"

#include <algorithm>
#include <array>

#include "core/expression.hpp"
#include "invariant.hpp"

namespace kiv {

namespace {

void fill_param(const Token& param, std::size_t count, std::span<const Complex> params, Complex* values) {
    std::fill_n(values, count, param.index < params.size() ? params[param.index] : param.value);
}

// Applies the operator token `op` to its operand blocks into `result`;
// the operator marks unacceptable results absent.
void apply(const PreparedExpression& expression, std::size_t op, const Complex* const* args, std::size_t count,
           Complex* result) {
    expression.registry().op(expression.tokens()[op].op_id).eval_block(args, result, count);
}

std::size_t root(const PreparedExpression& expression) { return expression.tokens().size() - 1; }

}  // namespace

std::size_t BlockEvaluator::block_start(const PreparedExpression& expression, std::size_t first) const {
    const std::size_t start = first / kBlockRows * expression.tokens().size() * kBlockRows;
    if (start + expression.tokens().size() * kBlockRows > tape_.size())
        throw InvariantViolation("block evaluation read a block its tape never held");
    return start;
}

// A row that became absent is carried on as kAbsent (NaN in both parts).
// Every builtin operator maps a NaN argument to a non-finite result, so the
// row stays absent to the end, as it would had evaluation stopped there.
void BlockEvaluator::evaluate_block(const PreparedExpression& expression, std::size_t first, std::size_t count,
                                    std::span<const Complex> params, Complex* out) {
    const Dataset& data = expression.data();
    if (count > kBlockRows || first > data.rows || count > data.rows - first)
        throw InvariantViolation("block outside the dataset in block evaluation");
    if (expression.absent_everywhere()) {
        std::fill_n(out, count, kAbsent);
        return;
    }
    const std::span<const Token> tokens = expression.tokens();
    const std::size_t tape_end = (first / kBlockRows + 1) * tokens.size() * kBlockRows;
    if (tape_.size() < tape_end) tape_.resize(tape_end);
    Complex* const block = tape_.data() + block_start(expression, first);
    for (const PreparedExpression::Step& step : expression.steps()) {
        Complex* values = block + step.token * kBlockRows;
        if (step.known) {
            std::copy_n(step.known + first, count, values);
            continue;
        }
        const Token& token = tokens[step.token];
        switch (token.kind) {
            case TokenKind::Const:
            case TokenKind::Real:
                std::fill_n(values, count, token.value);
                break;
            case TokenKind::Var:
                std::copy_n(data.columns[token.index].data() + first, count, values);
                break;
            case TokenKind::Param:
                fill_param(token, count, params, values);
                break;
            case TokenKind::Op: {
                std::array<const Complex*, 2> args{};
                for (std::size_t i = 0; i < token.arity; ++i)
                    args[i] = block + expression.operands(step.token)[i] * kBlockRows;
                apply(expression, step.token, args.data(), count, values);
                break;
            }
        }
    }
    std::copy_n(block + root(expression) * kBlockRows, count, out);
}

void BlockEvaluator::recorded(const PreparedExpression& expression, std::size_t first, std::size_t count,
                              Complex* out) const {
    if (expression.absent_everywhere())
        std::fill_n(out, count, kAbsent);
    else
        std::copy_n(tape_.data() + block_start(expression, first) + root(expression) * kBlockRows, count, out);
}

void BlockEvaluator::evaluate_with_leaf(const PreparedExpression& expression, std::size_t first, std::size_t count,
                                        std::size_t position, Complex value, Complex* out) {
    if (expression.absent_everywhere()) {
        std::fill_n(out, count, kAbsent);
        return;
    }
    const std::span<const Token> tokens = expression.tokens();
    if (position >= tokens.size() || tokens[position].kind == TokenKind::Op)
        throw InvariantViolation("leaf position outside the evaluated expression");
    const Complex* const block = tape_.data() + block_start(expression, first);
    Complex* current = path_[0].data();
    std::fill_n(current, count, value);
    for (std::size_t t = position; expression.parent(t) != PreparedExpression::kNoParent; t = expression.parent(t)) {
        const std::size_t op = expression.parent(t);
        std::array<const Complex*, 2> args{};
        for (std::size_t i = 0; i < tokens[op].arity; ++i) {
            const std::size_t operand = expression.operands(op)[i];
            args[i] = operand == t ? current : block + operand * kBlockRows;
        }
        Complex* next = current == path_[0].data() ? path_[1].data() : path_[0].data();
        apply(expression, op, args.data(), count, next);
        current = next;
    }
    std::copy_n(current, count, out);
}

void BlockEvaluator::reevaluate_params(const PreparedExpression& expression, std::size_t first, std::size_t count,
                                       std::span<const Complex> params, Complex* out) {
    if (expression.absent_everywhere()) {
        std::fill_n(out, count, kAbsent);
        return;
    }
    const std::span<const Token> tokens = expression.tokens();
    Complex* const block = tape_.data() + block_start(expression, first);
    for (const std::uint32_t t : expression.param_dependents()) {
        Complex* values = block + t * kBlockRows;
        if (tokens[t].kind == TokenKind::Param) {
            fill_param(tokens[t], count, params, values);
            continue;
        }
        std::array<const Complex*, 2> args{};
        for (std::size_t i = 0; i < tokens[t].arity; ++i) args[i] = block + expression.operands(t)[i] * kBlockRows;
        apply(expression, t, args.data(), count, values);
    }
    std::copy_n(block + root(expression) * kBlockRows, count, out);
}

void BlockEvaluator::evaluate(const PreparedExpression& expression, std::span<const Complex> params,
                              std::span<Complex> out) {
    const std::size_t rows = expression.data().rows;
    if (out.size() != rows) throw InvariantViolation("output size differs from the row count in block evaluation");
    for (std::size_t first = 0; first < rows; first += kBlockRows)
        evaluate_block(expression, first, std::min(kBlockRows, rows - first), params, out.data() + first);
}

}  // namespace kiv
