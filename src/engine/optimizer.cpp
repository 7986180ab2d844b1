#include "engine/optimizer.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "engine/scoring.hpp"
#include "invariant.hpp"

namespace kiv {

namespace {

constexpr double kInitialDamping = 0.01;
constexpr double kDampingLimit = 10000.0;
constexpr double kDampingFactor = 10.0;
// Absolute forward-difference step, the same whatever a parameter's magnitude.
constexpr double kDifferenceStep = 1e-6;
constexpr double kDiagonalFloor = 1e-6;
constexpr double kTolerance = 1e-9;
// A third rejection in a row ends the fit.
constexpr unsigned kMaxConsecutiveRejections = 2;

void require_target_per_row(const Dataset& data, std::span<const double> targets) {
    if (targets.size() != data.rows)
        throw InvariantViolation("constant refinement given " + std::to_string(targets.size()) + " targets for " +
                                 std::to_string(data.rows) + " rows");
}

// A well-formed expression whose last token is a leaf is that single leaf.
bool has_leaf_root(std::span<const Token> tokens) { return tokens.empty() || tokens.back().kind != TokenKind::Op; }

// Equal to the bit, so that -0.0 and 0.0 (which evaluate differently) differ.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) {
        return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
    });
}

}  // namespace

void ConstantFitter::set_params(std::span<const double> p) {
    params_.resize(p.size());
    for (std::size_t k = 0; k < p.size(); ++k) params_[k] = {p[k], 0.0};
}

void ConstantFitter::real_parts(std::span<const Token> tokens, const Dataset& data, std::size_t first,
                                std::size_t count, std::span<const Complex> params, const OperatorRegistry& registry,
                                RealBlock& out) {
    if (!has_leaf_root(tokens)) {
        evaluator_.evaluate_block(tokens, data, first, count, params, registry, block_.data(), known_);
        block_real_parts(count, out);
        return;
    }
    // Columns from min_row_length on are missing in some row; reading one is
    // absent on every row, which gives the same error as the first absent row.
    row_.resize(data.min_row_length);
    for (std::size_t r = 0; r < count; ++r) {
        for (std::size_t j = 0; j < row_.size(); ++j) row_[j] = data.columns[j][first + r];
        stack_.clear();
        const std::optional<Complex> value = eval_internal(tokens, row_, params, registry, stack_);
        out[r] = value ? std::optional<double>(value->re) : std::nullopt;
    }
}

double ConstantFitter::error_with_params(std::span<const Token> tokens, std::span<const double> p, const Dataset& data,
                                         std::span<const double> targets, const OperatorRegistry& registry,
                                         double alpha, double l1_ratio) {
    require_target_per_row(data, targets);
    taped_blocks_ = 0;
    known_ = {};
    return error_at(tokens, p, data, targets, registry, alpha, l1_ratio);
}

double ConstantFitter::error_at(std::span<const Token> tokens, std::span<const double> p, const Dataset& data,
                                std::span<const double> targets, const OperatorRegistry& registry, double alpha,
                                double l1_ratio) {
    set_params(p);
    tape_complete_ = false;
    double sum = 0.0;
    for (std::size_t first = 0; first < data.rows; first += BlockEvaluator::kBlockRows) {
        const std::size_t count = std::min(BlockEvaluator::kBlockRows, data.rows - first);
        const std::size_t block = first / BlockEvaluator::kBlockRows;
        if (block < taped_blocks_) {
            evaluator_.reevaluate_params(first, count, params_, registry, block_.data());
            block_real_parts(count, values_);
        } else {
            real_parts(tokens, data, first, count, params_, registry, values_);
            if (!has_leaf_root(tokens)) taped_blocks_ = block + 1;
        }
        for (std::size_t r = 0; r < count; ++r) {
            if (!values_[r]) return std::numeric_limits<double>::infinity();
            const double diff = *values_[r] - targets[first + r];
            sum += diff * diff;
        }
    }
    tape_complete_ = !has_leaf_root(tokens);
    const double mse = sum / static_cast<double>(data.rows);
    // p stands for the Param values; Const tokens are never penalized.
    double l1 = 0.0;
    double l2 = 0.0;
    for (const double v : p) {
        l1 += std::fabs(v);
        l2 += v * v;
    }
    for (const Token& token : tokens) {
        if (token.kind != TokenKind::Real) continue;
        l1 += std::fabs(token.value.re);
        l2 += token.value.re * token.value.re;
    }
    return mse + elastic_net_penalty(alpha, l1_ratio, l1, l2);
}

// Real parts with parameter k moved by the difference step, on the block
// that real_parts evaluated last at params_. Below an operator root only the
// operators on the parameter's path are re-applied.
void ConstantFitter::nudged_real_parts(std::span<const Token> tokens, const Dataset& data, std::size_t first,
                                       std::size_t count, std::size_t k, const OperatorRegistry& registry) {
    if (has_leaf_root(tokens)) {
        params_[k].re = p_[k] + kDifferenceStep;
        real_parts(tokens, data, first, count, params_, registry, values_);
        params_[k].re = p_[k];
        return;
    }
    evaluator_.evaluate_with_leaf(first, count, positions_[k], {p_[k] + kDifferenceStep, 0.0}, registry, block_.data());
    block_real_parts(count, values_);
}

// Operator results are screened, so a NaN in block_ can only mean absent.
void ConstantFitter::block_real_parts(std::size_t count, RealBlock& out) const {
    for (std::size_t r = 0; r < count; ++r)
        out[r] = std::isnan(block_[r].re) ? std::nullopt : std::optional<double>(block_[r].re);
}

// Streams the forward-difference Jacobian block by block: each entry is used
// once, so no row-by-parameter matrix is kept. Sums still run in ascending row order.
void ConstantFitter::accumulate_normal_equations(std::span<const Token> tokens, const Dataset& data,
                                                 std::span<const double> targets, const OperatorRegistry& registry) {
    const std::size_t n_params = p_.size();
    d_.assign(n_params, 0.0);
    g_.assign(n_params, 0.0);
    set_params(p_);
    // This always follows the error pass at p_ (a rejected step needs no new
    // normal equations), so a complete tape already holds p_'s values.
    const bool reuse_tape = tape_complete_;
    for (std::size_t first = 0; first < data.rows; first += BlockEvaluator::kBlockRows) {
        const std::size_t count = std::min(BlockEvaluator::kBlockRows, data.rows - first);
        if (reuse_tape) {
            evaluator_.recorded(first, count, block_.data());
            block_real_parts(count, values_);
        } else {
            real_parts(tokens, data, first, count, params_, registry, values_);
        }
        for (std::size_t r = 0; r < count; ++r) {
            f0_[r] = values_[r].value_or(0.0);
            residuals_[r] = f0_[r] - targets[first + r];
        }
        for (std::size_t k = 0; k < n_params; ++k) {
            nudged_real_parts(tokens, data, first, count, k, registry);
            for (std::size_t r = 0; r < count; ++r) {
                const double jacobian = (values_[r].value_or(0.0) - f0_[r]) / kDifferenceStep;
                d_[k] += jacobian * jacobian;
                g_[k] += jacobian * residuals_[r];
            }
        }
    }
}

ConstantFitter::ConstantFitter(double error_scale) : tolerance_(kTolerance * error_scale) {}

double ConstantFitter::refine(std::span<Token> tokens, const Dataset& data, std::span<const double> targets,
                              const OperatorRegistry& registry, std::size_t max_iterations, double alpha,
                              double l1_ratio, double* initial_error, std::span<const KnownValues> known) {
    require_target_per_row(data, targets);
    taped_blocks_ = 0;
    known_ = known;
    positions_.clear();
    p_.clear();
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::Param) continue;
        positions_.push_back(i);
        p_.push_back(tokens[i].value.re);
    }
    double best = error_at(tokens, p_, data, targets, registry, alpha, l1_ratio);
    if (initial_error) *initial_error = best;
    if (p_.empty()) return best;

    q_.resize(p_.size());
    double damping = kInitialDamping;
    unsigned rejections = 0;
    // A rejected step leaves p, and with it the normal equations, unchanged.
    bool normal_equations_current = false;
    for (std::size_t iteration = 0;;) {
        if (damping > kDampingLimit) break;
        if (!normal_equations_current) accumulate_normal_equations(tokens, data, targets, registry);
        normal_equations_current = true;
        // The step descends the plain sum of squares; the penalty and the
        // 1/N factor act only through the acceptance test.
        for (std::size_t k = 0; k < p_.size(); ++k) q_[k] = p_[k] - g_[k] / ((damping + d_[k]) + kDiagonalFloor);
        // A step that moves nothing (every g_k zero) would recompute best.
        const double trial = same_bits(q_, p_) ? best : error_at(tokens, q_, data, targets, registry, alpha, l1_ratio);
        if (trial < best) {
            const double previous = best;
            std::swap(p_, q_);
            normal_equations_current = false;
            best = trial;
            if (std::fabs(previous - trial) < tolerance_) break;
            rejections = 0;
            damping /= kDampingFactor;
        } else {
            if (rejections >= kMaxConsecutiveRejections) break;
            ++rejections;
            damping *= kDampingFactor;
        }
        if (++iteration >= max_iterations) break;
    }
    for (std::size_t k = 0; k < p_.size(); ++k) tokens[positions_[k]].value = {p_[k], 0.0};
    return best;
}

std::pair<Expression, double> refine_constants(const Expression& expression, const Dataset& data,
                                               std::span<const double> targets, const OperatorRegistry& registry,
                                               std::size_t max_iterations, double alpha, double l1_ratio) {
    Expression refined = expression;
    ConstantFitter fitter;
    const double error = fitter.refine(refined.tokens, data, targets, registry, max_iterations, alpha, l1_ratio);
    return {std::move(refined), error};
}

double compute_error_with_params(const Expression& expression, std::span<const double> p, const Dataset& data,
                                 std::span<const double> targets, const OperatorRegistry& registry, double alpha,
                                 double l1_ratio) {
    ConstantFitter fitter;
    return fitter.error_with_params(expression.tokens, p, data, targets, registry, alpha, l1_ratio);
}

}  // namespace kiv
