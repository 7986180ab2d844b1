// Constant refinement: fits the Param values of an expression to the data
// with a damped Gauss-Newton iteration on the diagonal of the normal matrix
// (forward-difference Jacobian), minimising the penalized error.
//
// Pure functions of their inputs; the search runs them concurrently, each
// worker with its own ConstantFitter scratch.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "core/block_evaluator.hpp"
#include "core/expression.hpp"

namespace kiv {

// Per-worker working storage of the fit, reused across candidates.
class ConstantFitter {
public:
    // Refines the Param values of `tokens` in place (each set to (p_k, 0),
    // also when no step was accepted) and returns the penalized error at
    // them. Tokens without Param are left unchanged and get their error.
    double refine(std::span<Token> tokens, const Dataset& data, std::span<const double> targets,
                  const OperatorRegistry& registry, std::size_t max_iterations, double alpha, double l1_ratio);

    // Penalized error with Param k at (p[k], 0); +inf if any row is absent.
    double error_with_params(std::span<const Token> tokens, std::span<const double> p, const Dataset& data,
                             std::span<const double> targets, const OperatorRegistry& registry, double alpha,
                             double l1_ratio);

    BlockEvaluator& evaluator() { return evaluator_; }

private:
    BlockEvaluator evaluator_;
    // Working vectors of one call, kept to avoid reallocating per candidate.
    std::vector<std::size_t> positions_;
    std::vector<double> p_, q_, d_, g_, shifted_;
    std::vector<Complex> params_, values_, nudged_;
};

// A refined copy of `expression` with its error.
std::pair<Expression, double> refine_constants(const Expression& expression, const Dataset& data,
                                               std::span<const double> targets, const OperatorRegistry& registry,
                                               std::size_t max_iterations, double alpha, double l1_ratio);

double compute_error_with_params(const Expression& expression, std::span<const double> p, const Dataset& data,
                                 std::span<const double> targets, const OperatorRegistry& registry, double alpha,
                                 double l1_ratio);

}  // namespace kiv
