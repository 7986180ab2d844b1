// Constant refinement: fits the Param values of an expression to the data
// with a damped Gauss-Newton iteration on the diagonal of the normal matrix
// (forward-difference Jacobian), minimising the penalized error of an
// Objective.
//
// Targets must have one value per data row; a mismatch throws
// InvariantViolation. The free functions are pure; a ConstantRefiner is
// scratch for one thread at a time (the search gives each worker its own),
// and allocates nothing once its buffers have grown to the largest
// parameter count seen.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "core/block_evaluator.hpp"
#include "core/expression.hpp"
#include "engine/penalty.hpp"
#include "engine/scoring.hpp"

namespace kiv {

// What one refinement found.
struct Refinement {
    double error;           // penalized error at `constants`
    double starting_error;  // penalized error at the expression's own Param values
    // Param k's refined value (on the real axis) at k: the real part of its
    // own value when no step lowered the error. The refiner's storage, valid
    // until its next refinement.
    std::span<const double> constants;
};

class ConstantRefiner {
public:
    // A refinement takes at most max_iterations steps, and ends once an
    // accepted step lowers the error by less than a tolerance that is
    // `error_scale` times the absolute one (see error_scale).
    explicit ConstantRefiner(std::size_t max_iterations, double error_scale = 1.0);

    // Refines the Param values of the objective's expression, starting from
    // its own, with `evaluator` as scratch. Without Param, its error.
    Refinement refine(const Objective& objective, BlockEvaluator& evaluator);

private:
    std::size_t max_iterations_;
    double tolerance_;
    // Working vectors of one refinement, kept to avoid reallocating per candidate.
    std::vector<double> p_, q_, d_, g_;
    std::vector<Complex> params_;
};

// A refined copy of `expression` with its error.
std::pair<Expression, double> refine_constants(const Expression& expression, const Dataset& data,
                                               std::span<const double> targets, const OperatorRegistry& registry,
                                               std::size_t max_iterations, Penalty penalty);

// Penalized error of `expression` with Param k at (p[k], 0) for k < p.size(),
// the others at their stored values; +inf if any row is absent.
double compute_error_with_params(const Expression& expression, std::span<const double> p, const Dataset& data,
                                 std::span<const double> targets, const OperatorRegistry& registry, Penalty penalty);

}  // namespace kiv
