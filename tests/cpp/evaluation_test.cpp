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

// Random well-formed expressions over every token kind, and random data; a
// share of the numbers are the special values that reach the operators' edge branches.
class RandomSource {
public:
    RandomSource(std::uint64_t seed, double special_share, std::uint8_t columns)
        : rng_(seed), special_share_(special_share), columns_(columns) {}

    double number() {
        static constexpr double specials[] = {0.0,   -0.0,   1.0,  -1.0,   kNaN, kInf, -kInf,
                                              1e300, -1e300, 1e15, 1e-300, 40.0, 34.0, 0.5};
        if (chance(special_share_)) return specials[below(std::size(specials))];
        return std::uniform_real_distribution<double>(-3.0, 3.0)(rng_);
    }
    Complex complex() { return {number(), chance(0.5) ? 0.0 : number()}; }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
    std::size_t id(std::uint8_t arity) {
        const auto ids = builtins().ids_by_arity(arity);
        return ids[below(ids.size())];
    }
    // A leaf: Var, Param (with its default or a random value), Real, Const token or constant operator.
    Expression leaf() {
        const std::size_t kind = below(10);
        if (kind < 4) return variable_leaf(static_cast<std::uint8_t>(below(columns_)));
        if (kind < 6) return chance(0.5) ? param_leaf(complex()) : parameter_leaf();
        if (kind < 8) return real_leaf(number());
        if (kind < 9) return {{Token::constant(id(0), complex())}, "k", 1, 0, 0};
        return {{Token::op(0, id(0))}, "k", 1, 0, 0};
    }
    // An expression of exactly `size` tokens.
    Expression tree(std::size_t size) {
        if (size == 1) return leaf();
        if (size == 2 || chance(0.4)) return unary(id(1), tree(size - 1));
        const std::size_t left = 1 + below(size - 2);
        return binary(id(2), tree(left), tree(size - 1 - left));
    }
    // Rows of `width` values; when ragged, each row's length varies from 1 to width + 1.
    std::vector<std::vector<double>> rows(std::size_t count, std::size_t width, bool ragged) {
        std::vector<std::vector<double>> out(count);
        for (auto& row : out) {
            row.resize(ragged ? 1 + below(width + 1) : width);
            for (double& v : row) v = number();
        }
        return out;
    }

private:
    std::mt19937_64 rng_;
    double special_share_;
    std::uint8_t columns_;
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
    Candidate c;
    if (random.chance(0.5)) return {random.tree(1 + random.below(12)), {}, {}};
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

// Block evaluation may read a NaN leaf value as absent and vice versa.
bool agrees(Complex block, Complex reference, const Expression& e) {
    const bool nan_either =
        std::isnan(block.re) || std::isnan(block.im) || std::isnan(reference.re) || std::isnan(reference.im);
    if (is_leaf(e.tokens.back()) && nan_either) return !is_acceptable(block) && !is_acceptable(reference);
    return SameBits(block, reference);
}

// Every block path gives the bits of the row-by-row reference or of a fresh
// evaluation: the whole data, a block at an offset with known operands, new
// Param values re-applied on the tape, and one Param leaf changed.
TEST(BlockEvaluator, RandomExpressionsMatchRowByRowEvaluationOnEveryPath) {
    RandomSource random(0x6b69765f7372, 0.25, 4);
    BlockEvaluator evaluator;
    const std::size_t row_counts[] = {0, 1, 5, 63, 64, 65, 127, 128, 129, 200};
    std::size_t present = 0, absent = 0, whole_absent = 0, known_used = 0, reevaluated = 0;
    std::vector<Complex> stack;
    std::array<Complex, BlockEvaluator::kBlockRows> block{}, fresh{};
    for (int dataset = 0; dataset < 40; ++dataset) {
        const auto rows = random.rows(row_counts[dataset % std::size(row_counts)], 3, dataset % 3 == 2);
        const Dataset data = Dataset::from_rows(rows);
        std::vector<Complex> out(data.rows);
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
                    or_absent(eval_internal(e.tokens, complex_row(rows[r]), params, builtins(), stack));
                if (missing) {
                    ASSERT_TRUE(SameBits(out[r], kAbsent)) << "row " << r;
                    continue;
                }
                ASSERT_TRUE(agrees(out[r], reference, e)) << "row " << r << ": " << testing::PrintToString(out[r])
                                                          << " vs " << testing::PrintToString(reference);
                (is_acceptable(reference) ? present : absent) += 1;
            }
            if (data.rows == 0) continue;
            const std::size_t first = random.below(data.rows);
            const std::size_t count = 1 + random.below(std::min(BlockEvaluator::kBlockRows, data.rows - first));
            evaluator.evaluate_block(e.tokens, data, first, count, params, builtins(), block.data(), c.known);
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], out[first + r])) << first + r;
            known_used += c.known.size();
            if (e.n_params == 0 || is_leaf(e.tokens.back())) continue;
            for (Complex& p : params) p = random.complex();
            evaluator.reevaluate_params(first, count, params, builtins(), block.data());
            BlockEvaluator().evaluate_block(e.tokens, data, first, count, params, builtins(), fresh.data());
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], fresh[r])) << first + r;
            // Param k changed: in `params` when it covers k, else in the token's stored value.
            const std::size_t k = random.below(e.n_params);
            std::size_t position = 0;
            while (e.tokens[position].kind != TokenKind::Param || e.tokens[position].index != k) ++position;
            std::vector<Token> tokens = e.tokens;
            const Complex value = random.complex();
            (k < params.size() ? params[k] : tokens[position].value) = value;
            evaluator.evaluate_with_leaf(first, count, position, value, builtins(), block.data());
            BlockEvaluator().evaluate_block(tokens, data, first, count, params, builtins(), fresh.data());
            for (std::size_t r = 0; r < count; ++r) ASSERT_TRUE(SameBits(block[r], fresh[r])) << first + r;
            ++reevaluated;
        }
    }
    // The random cases must reach both outcomes, the ragged rule and every shortcut.
    EXPECT_GT(present, 5000u);
    EXPECT_GT(absent, 5000u);
    EXPECT_GT(whole_absent, 30u);
    EXPECT_GT(known_used, 200u);
    EXPECT_GT(reevaluated, 200u);
}

TEST(BlockEvaluator, MalformedTokensAndRowsOutsideTheDataAreInvariantViolations) {
    const Dataset data = Dataset::from_rows(std::vector<std::vector<double>>(100, {1.0, 2.0}));
    BlockEvaluator evaluator;
    std::vector<Complex> out(200);
    const std::vector<Token> v0{Token::var(0)}, two_values{Token::var(0), Token::var(1)},
        underflow{Token::var(0), Token::op(2, kPlus)};
    const auto all = std::span(out).first(100);
    EXPECT_THROW(evaluator.evaluate(two_values, data, {}, builtins(), all), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate(underflow, data, {}, builtins(), all), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate(v0, data, {}, builtins(), std::span(out).first(99)), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate_block(v0, data, 0, 65, {}, builtins(), out.data()), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate_block(v0, data, 50, 51, {}, builtins(), out.data()), InvariantViolation);
    EXPECT_THROW(evaluator.evaluate_block(v0, data, 101, 0, {}, builtins(), out.data()), InvariantViolation);
    evaluator.evaluate_block(v0, data, 36, 64, {}, builtins(), out.data());
    EXPECT_BITS_EQ(out[63], (Complex{1, 0}));
}

struct Data {
    std::vector<std::vector<double>> rows;
    std::vector<double> targets;
};

// A plain transcription of the penalized error, row by row, Param k at (p[k], 0).
double reference_error(const Expression& e, const std::vector<double>& p, const Data& data, double alpha,
                       double l1_ratio) {
    double s = 0.0, l1 = 0.0, l2 = 0.0;
    for (std::size_t i = 0; i < data.rows.size(); ++i) {
        const auto value = e.eval_with_params(complex_row(data.rows[i]), complex_row(p), builtins());
        if (!value) return kInf;
        s += (value->re - data.targets[i]) * (value->re - data.targets[i]);
    }
    for (const double v : p) l1 += std::fabs(v), l2 += v * v;
    for (const Token& t : e.tokens)
        if (t.kind == TokenKind::Real) l1 += std::fabs(t.value.re), l2 += t.value.re * t.value.re;
    return s / static_cast<double>(data.rows.size()) + alpha * (l1_ratio * l1 + ((1 - l1_ratio) * 0.5) * l2);
}

// A plain transcription of the refinement: forward-difference Jacobian, diagonal
// normal equations, damping that grows on rejection and shrinks on acceptance.
// `course` receives 'A' for each accepted trial and 'R' for each rejected one.
std::pair<Expression, double> reference_refine(const Expression& e, const Data& data, std::size_t max_iterations,
                                               double alpha, double l1_ratio, std::string* course = nullptr) {
    std::vector<double> p;
    for (const Token& t : e.tokens)
        if (t.kind == TokenKind::Param) p.push_back(t.value.re);
    const std::size_t n = data.rows.size(), np = p.size();
    double best = reference_error(e, p, data, alpha, l1_ratio), lambda = 0.01;
    const auto f = [&](std::size_t i, const std::vector<double>& at) {
        const auto v = e.eval_with_params(complex_row(data.rows[i]), complex_row(at), builtins());
        return v ? v->re : 0.0;
    };
    for (std::size_t iteration = 0, rejections = 0; np > 0 && lambda <= 10000 && iteration < max_iterations;
         ++iteration) {
        std::vector<double> d(np), g(np), q(np);
        for (std::size_t i = 0; i < n; ++i) {
            const double f0 = f(i, p);
            for (std::size_t k = 0; k < np; ++k) {
                std::vector<double> shifted = p;
                shifted[k] += 1e-6;
                const double jacobian = (f(i, shifted) - f0) / 1e-6;
                d[k] += jacobian * jacobian, g[k] += jacobian * (f0 - data.targets[i]);
            }
        }
        for (std::size_t k = 0; k < np; ++k) q[k] = p[k] - g[k] / ((lambda + d[k]) + 1e-6);
        const double err = reference_error(e, q, data, alpha, l1_ratio);
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
void expect_same_fit(const std::pair<Expression, double>& actual, const std::pair<Expression, double>& expected) {
    EXPECT_TRUE(same_bits(actual.second, expected.second)) << actual.second << " vs " << expected.second;
    ASSERT_EQ(actual.first.tokens.size(), expected.first.tokens.size());
    for (std::size_t i = 0; i < actual.first.tokens.size(); ++i)
        EXPECT_TRUE(SameBits(actual.first.tokens[i].value, expected.first.tokens[i].value)) << "token " << i;
}

std::pair<Expression, double> refine(const Expression& e, const Data& data, std::size_t limit) {
    return refine_constants(e, Dataset::from_rows(data.rows), data.targets, builtins(), limit, 0.0, 0.5);
}

TEST(ConstantRefinement, EdgeCoursesMatchTheReference) {
    struct Row {
        const char* name;
        Expression expression;
        Data data;
        std::size_t limit;
        const char* course;  // pattern of the reference's outcomes
    };
    const Expression scaled = binary(kTimes, parameter_leaf(), variable_leaf(0));
    const Row rows[] = {
        // From 0.1 to 1 in three accepted steps, the last one within the tolerance.
        {"worked example", parameter_leaf(), {{{0.0}, {0.0}}, {1.0, 1.0}}, 10, "AAA"},
        // Every trial repeats the error: the initial values return, imaginary parts cleared.
        {"already at the optimum", param_leaf({1.5, 4.0}), {{{0.0}, {0.0}}, {1.5, 1.5}}, 10, "RRR"},
        // Sin(C) cannot reach 2: steps overshoot, are damped twice, accepted, again.
        {"acceptance resets the rejections", unary(kSin, param_leaf({-1.9, 0.0})), {{{0.0}}, {2.0}}, 30,
         ".*RRARRA.*"},
        {"iteration limit", unary(kSin, param_leaf({-1.9, 0.0})), {{{0.0}}, {2.0}}, 4, "...."},
        {"NaN parameter value", param_leaf({kNaN, 3.0}), {{{1.0}, {2.0}}, {1.0, 1.0}}, 10, "RRR"},
        {"NaN target", scaled, {{{1.0}, {2.0}}, {1.0, kNaN}}, 10, "RRR"},
        {"infinite starting error", unary(kLog, param_leaf({0.0, 0.0})), {{{1.0}, {2.0}}, {1.0, 1.0}}, 10, "A.*"},
        // Times(0, C) is 0 whatever C is: a zero Jacobian column, so that C never moves.
        {"parameter without influence",
         binary(kPlus, scaled, binary(kTimes, const_leaf(kZero), param_leaf({0.25, 0}))),
         {{{1.0}, {2.0}, {3.0}}, {2.0, 4.0, 6.0}}, 10, "A.*"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string course;
        const auto expected = reference_refine(row.expression, row.data, row.limit, 0.0, 0.5, &course);
        EXPECT_TRUE(std::regex_match(course, std::regex(row.course))) << course;
        expect_same_fit(refine(row.expression, row.data, row.limit), expected);
    }
    const Data worked = {{{0.0}, {0.0}}, {1.0, 1.0}};
    EXPECT_NEAR(refine(parameter_leaf(), worked, 10).first.tokens[0].value.re, 1.0, 1e-9);
    EXPECT_THROW(refine(parameter_leaf(), {{{1.0}, {2.0}}, {1.0}}, 10), InvariantViolation);
    EXPECT_THROW(compute_error_with_params(parameter_leaf(), std::vector<double>{1.0}, Dataset::from_rows({{1.0}}),
                                           std::vector<double>{}, builtins(), 0.0, 0.5),
                 InvariantViolation);
}

TEST(ConstantRefinement, MatchesPerRowReferenceBitForBitOnRandomExpressions) {
    RandomSource random(20240611, 0.0, 2);
    ConstantFitter fitter;  // reused, as a worker reuses it across candidates
    std::size_t known_operands = 0;
    for (int trial = 0; trial < 400; ++trial) {
        Data data{random.rows(1 + random.below(150), 2, false), {}};
        for (std::size_t i = 0; i < data.rows.size(); ++i) data.targets.push_back(random.number());
        // Now and then a short row: every expression reading v_{1} fails there.
        if (random.chance(0.125)) data.rows[random.below(data.rows.size())].pop_back();
        const Dataset columns = Dataset::from_rows(data.rows);
        const Candidate c = candidate(random, columns);
        known_operands += c.known.size();
        const double alpha = trial % 3 == 0 ? 0.0 : 0.05 * (trial % 7), l1_ratio = 0.25 * (trial % 5);
        const std::size_t limit = trial % 2 == 0 ? 10 : 30;
        SCOPED_TRACE(testing::Message() << "trial " << trial << ": " << c.e.formula << " on " << data.rows.size());
        Expression refined = c.e;
        const double error = fitter.refine(refined.tokens, columns, data.targets, builtins(), limit, alpha, l1_ratio,
                                           nullptr, c.known);
        expect_same_fit({refined, error}, reference_refine(c.e, data, limit, alpha, l1_ratio));
        std::vector<double> p;
        for (const Token& t : c.e.tokens)
            if (t.kind == TokenKind::Param) p.push_back(t.value.re);
        const double at_p = fitter.error_with_params(c.e.tokens, p, columns, data.targets, builtins(), alpha, l1_ratio);
        EXPECT_TRUE(same_bits(at_p, reference_error(c.e, p, data, alpha, l1_ratio)));
        // Scoring sums the same squares over the blocks (its penalty adds the constants in token order).
        const double raw = compute_raw_error(0.0, l1_ratio, refined, columns, data.targets, builtins());
        EXPECT_TRUE(alpha != 0.0 || same_bits(raw, error)) << raw << " vs " << error;
    }
    EXPECT_GT(known_operands, 50u);
}

}  // namespace
}  // namespace kiv
