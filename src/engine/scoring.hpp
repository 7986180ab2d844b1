// The error of a candidate: mean squared error of the real part of its values
// against the targets, plus the penalty on its numeric constants. +inf marks
// a candidate that cannot be evaluated on every row. Scoring and constant
// refinement both compute it with penalized_error; they differ only in which
// values they count as absent.
#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>
#include <span>

#include "core/block_evaluator.hpp"
#include "engine/penalty.hpp"

namespace kiv {

// What an error is measured on: an expression prepared on the data, the
// target of each data row, and the penalty on its constants.
struct Objective {
    const PreparedExpression& expression;
    std::span<const double> targets;
    Penalty penalty;
};

// Throws InvariantViolation unless the objective has one target per data row.
void require_target_per_row(const Objective& objective);

// The error of the objective's expression evaluated with `params` (see
// Penalty::on_constants), where values(first, count) gives its values on rows
// [first, first + count), or nullptr when one of them is absent: the mean of
// the squared differences of their real parts from the targets, summed in
// ascending row order, plus the penalty; +inf where a value is absent.
template <typename BlockValues>
double penalized_error(const Objective& objective, std::span<const double> params, BlockValues&& values) {
    require_target_per_row(objective);
    const std::size_t rows = objective.targets.size();
    double sum = 0.0;
    for (std::size_t first = 0; first < rows; first += BlockEvaluator::kBlockRows) {
        const std::size_t count = std::min(BlockEvaluator::kBlockRows, rows - first);
        const Complex* block = values(first, count);
        if (!block) return std::numeric_limits<double>::infinity();
        for (std::size_t r = 0; r < count; ++r) {
            const double diff = block[r].re - objective.targets[first + r];
            sum += diff * diff;
        }
    }
    return sum / static_cast<double>(rows) + objective.penalty.on_constants(objective.expression.tokens(), params);
}

// Error of the objective's expression with its stored Param values: absent
// where a row's value is absent, non-finite or of magnitude >= 1e15. Uses
// the caller's evaluator as scratch.
double compute_raw_error(const Objective& objective, BlockEvaluator& evaluator);

// The scale of errors on `targets`: their variance when it is below 1 and
// not 0, else 1. Absolute error thresholds are multiplied by it, so that a
// law measured in small units is searched and refined as far as in large ones;
// at ordinary scales, and for constant targets, thresholds stay as they are.
double error_scale(std::span<const double> targets);

}  // namespace kiv
