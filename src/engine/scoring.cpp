#include "engine/scoring.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace kiv {

double elastic_net_penalty(double alpha, double l1_ratio, double l1, double l2) {
    return alpha * (l1_ratio * l1 + ((1.0 - l1_ratio) * 0.5) * l2);
}

namespace {

// Penalty over the stored constants: Real values and Param real parts.
double stored_constants_penalty(double alpha, double l1_ratio, std::span<const Token> tokens) {
    double l1 = 0.0;
    double l2 = 0.0;
    for (const Token& token : tokens) {
        if (token.kind != TokenKind::Real && token.kind != TokenKind::Param) continue;
        const double v = token.value.re;
        l1 += std::fabs(v);
        l2 += v * v;
    }
    return elastic_net_penalty(alpha, l1_ratio, l1, l2);
}

}  // namespace

double compute_raw_error(double alpha, double l1_ratio, std::span<const Token> tokens, const Dataset& data,
                         std::span<const double> targets, const OperatorRegistry& registry, BlockEvaluator& evaluator,
                         std::span<const KnownValues> known) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    // Every row is screened, but only rows that have a target are compared.
    const std::size_t compared = std::min(data.rows, targets.size());
    std::array<Complex, BlockEvaluator::kBlockRows> values;
    double sum = 0.0;
    for (std::size_t first = 0; first < data.rows; first += BlockEvaluator::kBlockRows) {
        const std::size_t count = std::min(BlockEvaluator::kBlockRows, data.rows - first);
        evaluator.evaluate_block(tokens, data, first, count, {}, registry, values.data(), known);
        for (std::size_t r = 0; r < count; ++r) {
            // A leaf's value is not screened by evaluation, so it is screened here.
            if (!is_acceptable(values[r])) return kInfinity;
            if (first + r >= compared) continue;
            const double diff = values[r].re - targets[first + r];
            sum += diff * diff;
        }
    }
    const double mse = sum / static_cast<double>(targets.size());
    return mse + stored_constants_penalty(alpha, l1_ratio, tokens);
}

double compute_raw_error(double alpha, double l1_ratio, const Expression& expression, const Dataset& data,
                         std::span<const double> targets, const OperatorRegistry& registry) {
    BlockEvaluator evaluator;
    return compute_raw_error(alpha, l1_ratio, expression.tokens, data, targets, registry, evaluator);
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
