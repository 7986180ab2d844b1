// The error of a candidate: mean squared error of the real part of its values
// against the targets, plus an elastic-net penalty on its numeric constants.
// +inf marks a candidate that cannot be evaluated on every row.
#pragma once

#include <span>

#include "core/block_evaluator.hpp"
#include "core/expression.hpp"

namespace kiv {

// alpha * (l1_ratio * l1 + ((1 - l1_ratio) * 0.5) * l2), in exactly this order.
double elastic_net_penalty(double alpha, double l1_ratio, double l1, double l2);

// Error of `tokens` with their stored Param values: +inf as soon as a row's
// value is absent, non-finite or of magnitude >= 1e15. Uses the caller's
// evaluator as scratch; sub-expressions in `known` are not evaluated again.
double compute_raw_error(double alpha, double l1_ratio, std::span<const Token> tokens, const Dataset& data,
                         std::span<const double> targets, const OperatorRegistry& registry, BlockEvaluator& evaluator,
                         std::span<const KnownValues> known = {});

// The scale of errors on `targets`: their variance when it is below 1 and
// not 0, else 1. Absolute error thresholds are multiplied by it, so that a
// law measured in small units is searched and fitted as far as in large ones;
// at ordinary scales, and for constant targets, thresholds stay as they are.
double error_scale(std::span<const double> targets);

// Convenience form for one expression; allocates its own scratch.
double compute_raw_error(double alpha, double l1_ratio, const Expression& expression, const Dataset& data,
                         std::span<const double> targets, const OperatorRegistry& registry);

}  // namespace kiv
