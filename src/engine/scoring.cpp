#include "engine/scoring.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "core/expression.hpp"
#include "invariant.hpp"

namespace kiv {

void require_target_per_row(const Objective& objective) {
    const std::size_t rows = objective.expression.data().rows;
    if (objective.targets.size() != rows)
        throw InvariantViolation("error measured on " + std::to_string(objective.targets.size()) + " targets for " +
                                 std::to_string(rows) + " rows");
}

double compute_raw_error(const Objective& objective, BlockEvaluator& evaluator) {
    std::array<Complex, BlockEvaluator::kBlockRows> values;
    return penalized_error(objective, {}, [&](std::size_t first, std::size_t count) -> const Complex* {
        evaluator.evaluate_block(objective.expression, first, count, {}, values.data());
        // A leaf's value is not screened by evaluation, so it is screened here.
        const bool present = std::all_of(values.begin(), values.begin() + count, is_acceptable);
        return present ? values.data() : nullptr;
    });
}

double error_scale(std::span<const double> targets) {
    double mean = 0.0;
    for (const double y : targets) mean += y;
    mean /= static_cast<double>(targets.size());
    double variance = 0.0;
    for (const double y : targets) variance += (y - mean) * (y - mean);
    variance /= static_cast<double>(targets.size());
    // NaN targets compare false and keep the scale at 1.
    return variance > 0.0 && variance < 1.0 ? variance : 1.0;
}

}  // namespace kiv
