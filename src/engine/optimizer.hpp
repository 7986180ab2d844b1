// Constant refinement: fits the Param values of an expression to the data
// with a damped Gauss-Newton iteration on the diagonal of the normal matrix
// (forward-difference Jacobian), minimising the penalized error.
//
// Targets must have one value per data row; a mismatch throws
// InvariantViolation. The free functions are pure; a ConstantFitter is
// scratch for one thread at a time (the search gives each worker its own),
// and allocates nothing once its buffers have grown to the largest
// expression and parameter count seen.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/block_evaluator.hpp"
#include "core/expression.hpp"

namespace kiv {

// Per-worker working storage of the fit, reused across candidates.
class ConstantFitter {
public:
    // A fit ends once an accepted step lowers the error by less than a
    // tolerance that is `error_scale` times the absolute one (see error_scale).
    explicit ConstantFitter(double error_scale = 1.0);

    // Refines the Param values of `tokens` in place (each set to (p_k, 0),
    // also when no step was accepted) and returns the penalized error at
    // them. Tokens without Param are left unchanged and get their error.
    // With `initial_error`, the error at the starting values is stored there.
    // `known` names Param-free sub-expressions whose values need no evaluation.
    double refine(std::span<Token> tokens, const Dataset& data, std::span<const double> targets,
                  const OperatorRegistry& registry, std::size_t max_iterations, double alpha, double l1_ratio,
                  double* initial_error = nullptr, std::span<const KnownValues> known = {});

    // Penalized error with Param k at (p[k], 0); +inf if any row is absent.
    double error_with_params(std::span<const Token> tokens, std::span<const double> p, const Dataset& data,
                             std::span<const double> targets, const OperatorRegistry& registry, double alpha,
                             double l1_ratio);

    BlockEvaluator& evaluator() { return evaluator_; }

private:
    using RealBlock = std::array<std::optional<double>, BlockEvaluator::kBlockRows>;

    // Real parts of the values of `tokens` on rows [first, first + count);
    // nullopt where absent.
    void real_parts(std::span<const Token> tokens, const Dataset& data, std::size_t first, std::size_t count,
                    std::span<const Complex> params, const OperatorRegistry& registry, RealBlock& out);

    void block_real_parts(std::size_t count, RealBlock& out) const;
    void nudged_real_parts(std::span<const Token> tokens, const Dataset& data, std::size_t first, std::size_t count,
                           std::size_t k, const OperatorRegistry& registry);

    // d_ and g_ of the diagonal normal equations at p_.
    void accumulate_normal_equations(std::span<const Token> tokens, const Dataset& data,
                                     std::span<const double> targets, const OperatorRegistry& registry);

    void set_params(std::span<const double> p);

    // error_with_params for the expression whose blocks [0, taped_blocks_)
    // the evaluator's tape holds: there only what depends on a Param is
    // evaluated again.
    double error_at(std::span<const Token> tokens, std::span<const double> p, const Dataset& data,
                    std::span<const double> targets, const OperatorRegistry& registry, double alpha, double l1_ratio);

    double tolerance_;
    BlockEvaluator evaluator_;
    // The last error pass evaluated every block below an operator root, so
    // the evaluator's tape holds its values.
    bool tape_complete_ = false;
    std::size_t taped_blocks_ = 0;
    std::span<const KnownValues> known_;  // of the expression being refined
    // Row-by-row evaluation of leaf roots, whose NaN values the block
    // evaluator cannot tell from absent ones.
    std::vector<Complex> row_, stack_;
    std::array<Complex, BlockEvaluator::kBlockRows> block_;
    RealBlock values_;
    std::array<double, BlockEvaluator::kBlockRows> f0_, residuals_;
    // Working vectors of one call, kept to avoid reallocating per candidate.
    std::vector<std::size_t> positions_;
    std::vector<double> p_, q_, d_, g_;
    std::vector<Complex> params_;
};

// A refined copy of `expression` with its error.
std::pair<Expression, double> refine_constants(const Expression& expression, const Dataset& data,
                                               std::span<const double> targets, const OperatorRegistry& registry,
                                               std::size_t max_iterations, double alpha, double l1_ratio);

// Penalized error of `expression` with Param k at (p[k], 0).
double compute_error_with_params(const Expression& expression, std::span<const double> p, const Dataset& data,
                                 std::span<const double> targets, const OperatorRegistry& registry, double alpha,
                                 double l1_ratio);

}  // namespace kiv
