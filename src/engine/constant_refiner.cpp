#include "engine/constant_refiner.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

namespace kiv {

namespace {

constexpr double kInitialDamping = 0.01;
constexpr double kDampingLimit = 10000.0;
constexpr double kDampingFactor = 10.0;
// Absolute forward-difference step, the same whatever a parameter's magnitude.
constexpr double kDifferenceStep = 1e-6;
constexpr double kDiagonalFloor = 1e-6;
constexpr double kTolerance = 1e-9;
// A third rejection in a row ends the refinement.
constexpr unsigned kMaxConsecutiveRejections = 2;
constexpr std::size_t kBlockRows = BlockEvaluator::kBlockRows;

// Equal to the bit, so that -0.0 and 0.0 (which evaluate differently) differ.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) {
        return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
    });
}

// One error evaluation at given constants.
struct ErrorPass {
    double error;
    // The tape holds the values at these constants on every block.
    bool taped;
};

// The errors and normal equations of one refinement, computed through the
// worker's evaluator. Its one state is how many blocks of the tape hold the
// objective's expression: there an error pass evaluates again only what
// depends on a Param.
class RefinementRun {
public:
    RefinementRun(const Objective& objective, BlockEvaluator& evaluator, std::vector<Complex>& params)
        : objective_(objective),
          expression_(objective.expression),
          evaluator_(evaluator),
          params_(params),
          nan_is_absent_(!expression_.has_leaf_root() || expression_.absent_everywhere()) {}

    // The penalized error with Param k at (p[k], 0).
    ErrorPass error_at(std::span<const double> p) {
        set_params(p);
        std::size_t rows_evaluated = 0;
        const double error = penalized_error(objective_, p, [&](std::size_t first, std::size_t count) {
            const std::size_t block = first / kBlockRows;
            if (block < taped_blocks_) {
                evaluator_.reevaluate_params(expression_, first, count, params_, block_.data());
            } else {
                evaluator_.evaluate_block(expression_, first, count, params_, block_.data());
                taped_blocks_ = block + 1;
            }
            rows_evaluated = first + count;
            const bool present =
                std::none_of(block_.begin(), block_.begin() + count, [&](Complex v) { return absent(v); });
            return present ? block_.data() : nullptr;
        });
        return {error, rows_evaluated == expression_.data().rows};
    }

    // The diagonal d and the gradient g of the normal equations of the plain
    // sum of squares at p, from the error pass at p, which must be the last.
    // The forward-difference Jacobian is streamed block by block: each entry
    // is used once, so no row-by-parameter matrix is kept. Sums still run in
    // ascending row order.
    void normal_equations(std::span<const double> p, const ErrorPass& at_p, std::span<double> d, std::span<double> g) {
        std::fill(d.begin(), d.end(), 0.0);
        std::fill(g.begin(), g.end(), 0.0);
        set_params(p);
        const std::span<const std::uint32_t> positions = expression_.param_positions();
        const std::size_t rows = expression_.data().rows;
        std::array<double, kBlockRows> f0, residuals;
        for (std::size_t first = 0; first < rows; first += kBlockRows) {
            const std::size_t count = std::min(kBlockRows, rows - first);
            if (at_p.taped)
                evaluator_.recorded(expression_, first, count, block_.data());
            else
                evaluator_.evaluate_block(expression_, first, count, params_, block_.data());
            for (std::size_t r = 0; r < count; ++r) {
                f0[r] = real_or_zero(block_[r]);
                residuals[r] = f0[r] - objective_.targets[first + r];
            }
            for (std::size_t k = 0; k < p.size(); ++k) {
                evaluator_.evaluate_with_leaf(expression_, first, count, positions[k], {p[k] + kDifferenceStep, 0.0},
                                              block_.data());
                // Local sums: through d[k] and g[k], which may alias anything,
                // each row would wait for the previous row's store.
                double dk = d[k];
                double gk = g[k];
                for (std::size_t r = 0; r < count; ++r) {
                    const double jacobian = (real_or_zero(block_[r]) - f0[r]) / kDifferenceStep;
                    dk += jacobian * jacobian;
                    gk += jacobian * residuals[r];
                }
                d[k] = dk;
                g[k] = gk;
            }
        }
    }

private:
    void set_params(std::span<const double> p) {
        params_.resize(p.size());
        for (std::size_t k = 0; k < p.size(); ++k) params_[k] = {p[k], 0.0};
    }

    // Operator results are screened, so there a NaN can only mean absent. A
    // leaf root's values are the leaf's own, a NaN among them a value; they
    // are absent only all together, from a missing column.
    bool absent(Complex v) const { return nan_is_absent_ && std::isnan(v.re); }
    // An absent value counts as 0 in the normal equations.
    double real_or_zero(Complex v) const { return absent(v) ? 0.0 : v.re; }

    const Objective& objective_;
    const PreparedExpression& expression_;
    BlockEvaluator& evaluator_;
    std::vector<Complex>& params_;  // the constants being evaluated, as evaluation reads them
    const bool nan_is_absent_;
    std::size_t taped_blocks_ = 0;
    std::array<Complex, kBlockRows> block_;
};

}  // namespace

ConstantRefiner::ConstantRefiner(std::size_t max_iterations, double error_scale)
    : max_iterations_(max_iterations), tolerance_(kTolerance * error_scale) {}

Refinement ConstantRefiner::refine(const Objective& objective, BlockEvaluator& evaluator) {
    const PreparedExpression& expression = objective.expression;
    p_.clear();
    for (const std::uint32_t position : expression.param_positions())
        p_.push_back(expression.tokens()[position].value.re);
    RefinementRun run(objective, evaluator, params_);
    ErrorPass at_p = run.error_at(p_);
    const double starting_error = at_p.error;
    double best = starting_error;
    if (p_.empty()) return {best, starting_error, p_};

    q_.resize(p_.size());
    d_.resize(p_.size());
    g_.resize(p_.size());
    double damping = kInitialDamping;
    unsigned rejections = 0;
    // The normal equations are formed right after the error pass at p: the
    // first pass, then each accepted step's. A rejected step leaves p, and
    // with it the normal equations, unchanged.
    bool normal_equations_current = false;
    for (std::size_t iteration = 0;;) {
        if (damping > kDampingLimit) break;
        if (!normal_equations_current) run.normal_equations(p_, at_p, d_, g_);
        normal_equations_current = true;
        // The step descends the plain sum of squares; the penalty and the
        // 1/N factor act only through the acceptance test.
        for (std::size_t k = 0; k < p_.size(); ++k) q_[k] = p_[k] - g_[k] / ((damping + d_[k]) + kDiagonalFloor);
        // A step that moves nothing (every g_k zero) would recompute best.
        const ErrorPass trial = same_bits(q_, p_) ? ErrorPass{best, false} : run.error_at(q_);
        if (trial.error < best) {
            const double previous = best;
            std::swap(p_, q_);
            at_p = trial;
            normal_equations_current = false;
            best = trial.error;
            if (std::fabs(previous - best) < tolerance_) break;
            rejections = 0;
            damping /= kDampingFactor;
        } else {
            if (rejections >= kMaxConsecutiveRejections) break;
            ++rejections;
            damping *= kDampingFactor;
        }
        if (++iteration >= max_iterations_) break;
    }
    return {best, starting_error, p_};
}

std::pair<Expression, double> refine_constants(const Expression& expression, const Dataset& data,
                                               std::span<const double> targets, const OperatorRegistry& registry,
                                               std::size_t max_iterations, Penalty penalty) {
    const PreparedExpression prepared(expression.tokens, data, registry);
    BlockEvaluator evaluator;
    ConstantRefiner refiner(max_iterations);
    const Refinement refined = refiner.refine({prepared, targets, penalty}, evaluator);
    Expression result = expression;
    set_param_values(result.tokens, refined.constants);
    return {std::move(result), refined.error};
}

double compute_error_with_params(const Expression& expression, std::span<const double> p, const Dataset& data,
                                 std::span<const double> targets, const OperatorRegistry& registry, Penalty penalty) {
    const PreparedExpression prepared(expression.tokens, data, registry);
    BlockEvaluator evaluator;
    std::vector<Complex> params;
    return RefinementRun({prepared, targets, penalty}, evaluator, params).error_at(p).error;
}

}  // namespace kiv
