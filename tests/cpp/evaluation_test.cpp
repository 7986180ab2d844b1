// Batched evaluation and constant fitting, each against a plain row-by-row
// transcription of its rule, on random expressions and data.
#include <algorithm>
#include <array>
#include <random>
#include <regex>

#include "core/block_evaluator.hpp"
#include "engine/optimizer.hpp"
#include "engine/scoring.hpp"
#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

using Rows = std::vector<std::vector<double>>;

// Random well-formed expressions over every token kind, and random numbers of
// which a share are the special values that reach the operators' edge branches.
struct RandomSource {
    std::mt19937_64 rng;
    double special_share = 0.0;

    double number() {
        static constexpr double specials[] = {0.0,   -0.0, 1.0,    -1.0, kNaN, kInf, -kInf,
                                              1e300, -1e300, 1e15, 1e-300, 40.0, 34.0, 0.5};
        if (chance(special_share)) return specials[below(std::size(specials))];
        return std::uniform_real_distribution<double>(-3.0, 3.0)(rng);
    }
    Complex complex() { return {number(), chance(0.5) ? 0.0 : number()}; }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng); }
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }
    std::size_t id(std::uint8_t arity) {
        const auto ids = builtins().ids_by_arity(arity);
        return ids[below(ids.size())];
    }
    // A leaf: Var (columns 0-3), Param, Real, Const token or constant operator.
    Expression leaf() {
        const std::size_t kind = below(10);
        if (kind < 4) return variable_leaf(static_cast<std::uint8_t>(below(4)));
        if (kind < 6) return chance(0.5) ? param_leaf(complex()) : parameter_leaf();
        if (kind < 8) return real_leaf(number());
        if (kind < 9) return {{Token::constant(id(0), complex())}, "k", 1};
        return {{Token::op(0, id(0))}, "k", 1};
    }
    // An expression of exactly `size` tokens.
    Expression tree(std::size_t size) {
        if (size == 1) return leaf();
        if (size == 2 || chance(0.4)) return unary(id(1), tree(size - 1));
        const std::size_t left = 1 + below(size - 2);
        return binary(id(2), tree(left), tree(size - 1 - left));
    }
};

// A random expression, half the time built as the search builds candidates:
// an operator over two operands, those without Param whose columns every row
// has mostly read from their values on all rows.
struct Candidate {
    Expression e;
    std::vector<std::vector<Complex>> values;
    std::vector<KnownValues> known;
};

Candidate candidate(RandomSource& random, const Dataset& data) {
    if (random.chance(0.5)) return {random.tree(1 + random.below(12)), {}, {}};
    Candidate c;
    const Expression left = random.tree(1 + random.below(6)), right = random.tree(1 + random.below(6));
    c.e = binary(random.id(2), left, right);
    c.values.reserve(2);  // `known` points into them
    for (std::size_t first = 0; const Expression* operand : {&left, &right}) {
        const bool complete = std::none_of(operand->tokens.begin(), operand->tokens.end(), [&](const Token& t) {
            return t.kind == TokenKind::Var && t.index >= data.min_row_length;
        });
        if (operand->n_params == 0 && complete && random.chance(0.8)) {
            BlockEvaluator().evaluate(operand->tokens, data, {}, builtins(), c.values.emplace_back(data.rows));
            c.known.push_back({first, first + operand->tokens.size() - 1, c.values.back().data()});
        }
        first += operand->tokens.size();
    }
    return c;
}

bool is_leaf(const Token& t) { return t.kind != TokenKind::Op || t.arity == 0; }

// A plain transcription of the penalized error, row by row, Param k at (p[k], 0).
double reference_error(const Expression& e, const std::vector<double>& p, const Rows& rows,
                       const std::vector<double>& targets, double alpha, double l1_ratio) {
    double s = 0.0, l1 = 0.0, l2 = 0.0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto value = e.eval_with_params(complex_row(rows[i]), complex_row(p), builtins());
        if (!value) return kInf;
        s += (value->re - targets[i]) * (value->re - targets[i]);
    }
    for (const double v : p) l1 += std::fabs(v), l2 += v * v;
    for (const Token& t : e.tokens)
        if (t.kind == TokenKind::Real) l1 += std::fabs(t.value.re), l2 += t.value.re * t.value.re;
    return s / static_cast<double>(rows.size()) + alpha * (l1_ratio * l1 + ((1 - l1_ratio) * 0.5) * l2);
}

// A plain transcription of the refinement: forward-difference Jacobian, diagonal
// normal equations, damping that grows on rejection and shrinks on acceptance.
// `course` receives 'A' for each accepted trial and 'R' for each rejected one.
std::pair<Expression, double> reference_refine(const Expression& e, const Rows& rows,
                                               const std::vector<double>& targets, std::size_t max_iterations,
                                               double alpha, double l1_ratio, std::string* course = nullptr) {
    std::vector<double> p;
    for (const Token& t : e.tokens)
        if (t.kind == TokenKind::Param) p.push_back(t.value.re);
    const std::size_t np = p.size();
    double best = reference_error(e, p, rows, targets, alpha, l1_ratio), lambda = 0.01;
    const auto f = [&](std::size_t i, const std::vector<double>& at) {
        const auto v = e.eval_with_params(complex_row(rows[i]), complex_row(at), builtins());
        return v ? v->re : 0.0;
    };
    for (std::size_t iteration = 0, rejections = 0; np > 0 && lambda <= 10000 && iteration < max_iterations;
         ++iteration) {
        std::vector<double> d(np), g(np), q(np);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const double f0 = f(i, p);
            for (std::size_t k = 0; k < np; ++k) {
                std::vector<double> shifted = p;
                shifted[k] += 1e-6;
                const double jacobian = (f(i, shifted) - f0) / 1e-6;
                d[k] += jacobian * jacobian, g[k] += jacobian * (f0 - targets[i]);
            }
        }
        for (std::size_t k = 0; k < np; ++k) q[k] = p[k] - g[k] / ((lambda + d[k]) + 1e-6);
        const double err = reference_error(e, q, rows, targets, alpha, l1_ratio);
        if (course) *course += err < best ? 'A' : 'R';
        if (err < best) {
            const double previous = best;
            p = q, best = err;
            if (std::fabs(previous - err) < 1e-9) break;
            rejections = 0, lambda /= 10;
        } else {
            if (rejections++ > 1) break;
            lambda *= 10;
        }
    }
    Expression result = e;
    for (std::size_t i = 0, k = 0; i < e.tokens.size(); ++i)
        if (e.tokens[i].kind == TokenKind::Param) result.tokens[i].value = {p[k++], 0.0};
    return {result, best};
}

// Every token value identical bit for bit, and the error too.
void expect_same_fit(const Expression& e, double error, const std::pair<Expression, double>& expected) {
    EXPECT_TRUE(same_bits(error, expected.second)) << error << " vs " << expected.second;
    ASSERT_EQ(e.tokens.size(), expected.first.tokens.size());
    for (std::size_t i = 0; i < e.tokens.size(); ++i)
        EXPECT_TRUE(SameBits(e.tokens[i].value, expected.first.tokens[i].value)) << "token " << i;
}

// Block evaluation gives the bits of the row-by-row reference, over all rows
// and in a block at an offset with known operands; refinement gives the fit
// of the reference, on data without special values every other time so that
// fits make progress.
TEST(Evaluation, RandomExpressionsMatchTheRowByRowReferenceOnEveryPathAndInRefinement) {
    RandomSource random{std::mt19937_64(0x6b69765f7372)};
    BlockEvaluator evaluator;
    ConstantFitter fitter;  // reused, as a worker reuses it across candidates
    const std::size_t row_counts[] = {0, 1, 5, 63, 64, 65, 127, 128, 129, 200};
    std::size_t present = 0, absent = 0, whole_absent = 0, known_used = 0, refined = 0, improved = 0;
    std::array<Complex, BlockEvaluator::kBlockRows> block{};
    for (int dataset = 0; dataset < 40; ++dataset) {
        random.special_share = dataset % 2 == 0 ? 0.25 : 0.0;
        // Three columns, read as up to four; rows ragged from 1 to 4 values every third time.
        Rows rows(row_counts[dataset % std::size(row_counts)]);
        for (auto& row : rows) {
            row.resize(dataset % 3 == 2 ? 1 + random.below(4) : 3);
            for (double& v : row) v = random.number();
        }
        const Dataset data = Dataset::from_rows(rows);
        std::vector<Complex> out(data.rows), stack;
        for (int n = 0; n < 50; ++n) {
            const Candidate c = candidate(random, data);
            const Expression& e = c.e;
            std::vector<Complex> params(random.below(e.n_params + 2));
            for (Complex& p : params) p = random.complex();
            SCOPED_TRACE(testing::Message() << "dataset " << dataset << ", " << e.formula << ", " << params.size()
                                            << " params");
            evaluator.evaluate(e.tokens, data, params, builtins(), out);
            // A column missing from any row makes the expression absent on every row.
            const bool missing = std::any_of(e.tokens.begin(), e.tokens.end(), [&](const Token& t) {
                return t.kind == TokenKind::Var && t.index >= data.min_row_length;
            });
            whole_absent += missing && data.rows > 0;
            for (std::size_t r = 0; r < data.rows; ++r) {
                stack.clear();
                const Complex reference =
                    eval_internal(e.tokens, complex_row(rows[r]), params, builtins(), stack).value_or(kAbsent);
                // Block evaluation may read a NaN leaf value as absent and vice versa.
                const bool nan_leaf = is_leaf(e.tokens.back()) && (std::isnan(out[r].re) || std::isnan(out[r].im) ||
                                                                   std::isnan(reference.re) || std::isnan(reference.im));
                if (missing || nan_leaf) {
                    ASSERT_FALSE(is_acceptable(out[r]) || (!missing && is_acceptable(reference))) << "row " << r;
                    ASSERT_TRUE(!missing || SameBits(out[r], kAbsent)) << "row " << r;
                    continue;
                }
                ASSERT_TRUE(SameBits(out[r], reference)) << "row " << r;
                (is_acceptable(reference) ? present : absent) += 1;
            }
            if (data.rows == 0) continue;
            const std::size_t first = random.below(data.rows);
            const std::size_t count = 1 + random.below(std::min(BlockEvaluator::kBlockRows, data.rows - first));
            evaluator.evaluate_block(e.tokens, data, first, count, params, builtins(), block.data(), c.known);
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], out[first + r])) << first + r;
            known_used += c.known.size();
            // Refinement re-applies new Param values and nudged Param leaves on the tape.
            std::vector<double> targets(data.rows);
            for (double& t : targets) t = random.number();
            const double alpha = n % 3 == 0 ? 0.0 : 0.05 * (dataset % 7), l1_ratio = 0.25 * (dataset % 5);
            const std::size_t limit = n % 4 == 0 ? 10 : 30;
            Expression fit = e;
            double initial = 0.0;
            const double error =
                fitter.refine(fit.tokens, data, targets, builtins(), limit, alpha, l1_ratio, &initial, c.known);
            expect_same_fit(fit, error, reference_refine(e, rows, targets, limit, alpha, l1_ratio));
            std::vector<double> p;
            for (const Token& t : e.tokens)
                if (t.kind == TokenKind::Param) p.push_back(t.value.re);
            const double at_p = fitter.error_with_params(e.tokens, p, data, targets, builtins(), alpha, l1_ratio);
            EXPECT_TRUE(same_bits(at_p, reference_error(e, p, rows, targets, alpha, l1_ratio)));
            // Scoring sums the same squares over the blocks (its penalty adds the constants in token order).
            const double raw = compute_raw_error(0.0, l1_ratio, fit, data, targets, builtins());
            EXPECT_TRUE(alpha != 0.0 || is_leaf(e.tokens.back()) || same_bits(raw, error)) << raw << ", " << error;
            refined += e.n_params > 0, improved += error < initial;
        }
    }
    // The random cases must reach both outcomes, the ragged rule, every shortcut and fits that progress.
    EXPECT_GT(present, 10000u);
    EXPECT_GT(absent, 5000u);
    EXPECT_GT(whole_absent, 300u);
    EXPECT_GT(known_used, 300u);
    EXPECT_GT(improved, refined / 4);
}

TEST(Evaluation, MalformedTokensRowsOutsideTheDataAndTargetsOfAnotherLengthAreInvariantViolations) {
    const Dataset data = Dataset::from_rows(Rows(100, {1.0, 2.0}));
    BlockEvaluator evaluator;
    std::vector<Complex> out(100);
    const std::vector<Token> v0{Token::var(0)};
    for (const auto& tokens : {std::vector<Token>{Token::var(0), Token::var(1)}, {Token::var(0), Token::op(2, kPlus)}})
        EXPECT_THROW(evaluator.evaluate(tokens, data, {}, builtins(), out), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate(v0, data, {}, builtins(), std::span(out).first(99)), InvariantViolation);
    for (const auto& [first, count] : {std::pair{0, 65}, {50, 51}, {101, 0}})
        EXPECT_THROW(evaluator.evaluate_block(v0, data, first, count, {}, builtins(), out.data()), InvariantViolation);
    evaluator.evaluate_block(v0, data, 36, 64, {}, builtins(), out.data());
    EXPECT_TRUE(SameBits(out[63], Complex{1, 0}));
    const std::vector<double> short_targets(99), p{1.0};
    EXPECT_THROW(refine_constants(parameter_leaf(), data, short_targets, builtins(), 10, 0, 0.5), InvariantViolation);
    EXPECT_THROW(compute_error_with_params(parameter_leaf(), p, data, short_targets, builtins(), 0.0, 0.5),
                 InvariantViolation);
}

TEST(Evaluation, RefinementCoursesMatchTheReference) {
    const Expression sin_c = unary(kSin, param_leaf({-1.9, 0.0}));
    const std::tuple<const char*, Expression, Rows, std::vector<double>, std::size_t, const char*> rows[] = {
        // From 0.1 to 1 in three accepted steps, the last one within the tolerance.
        {"worked example", parameter_leaf(), {{0.0}, {0.0}}, {1.0, 1.0}, 10, "AAA"},
        // Every trial repeats the error: the initial values return, imaginary parts cleared.
        {"already at the optimum", param_leaf({1.5, 4.0}), {{0.0}, {0.0}}, {1.5, 1.5}, 10, "RRR"},
        // Sin(C) cannot reach 2: steps overshoot, are damped twice, accepted, again.
        {"acceptance resets the rejections", sin_c, {{0.0}}, {2.0}, 30, ".*RRARRA.*"},
        {"iteration limit", sin_c, {{0.0}}, {2.0}, 4, "...."},
        // Times(0, C) is 0 whatever C is: a zero Jacobian column, so that C never moves.
        {"parameter without influence",
         binary(kPlus, binary(kTimes, parameter_leaf(), variable_leaf(0)),
                binary(kTimes, const_leaf(kZero), param_leaf({0.25, 0}))),
         {{1.0}, {2.0}, {3.0}}, {2.0, 4.0, 6.0}, 10, "A.*"},
    };
    for (const auto& [name, e, data, targets, limit, pattern] : rows) {
        SCOPED_TRACE(name);
        std::string course;
        const auto expected = reference_refine(e, data, targets, limit, 0.0, 0.5, &course);
        EXPECT_TRUE(std::regex_match(course, std::regex(pattern))) << course;
        const auto [fit, error] = refine_constants(e, Dataset::from_rows(data), targets, builtins(), limit, 0.0, 0.5);
        expect_same_fit(fit, error, expected);
        EXPECT_TRUE(std::string(name) != "worked example" || std::fabs(fit.tokens[0].value.re - 1.0) < 1e-9);
    }
}

}  // namespace
}  // namespace kiv
