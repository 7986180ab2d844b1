#include "engine/optimizer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>

#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

struct Data {
    std::vector<std::vector<double>> rows;
    std::vector<double> targets;
};

// A plain transcription of the penalized error, row by row, Param k at (p[k], 0).
double reference_error(const Expression& e, const std::vector<double>& p, const Data& data, double alpha,
                       double l1_ratio) {
    const std::vector<Complex> params = complex_row(p);
    double s = 0.0, l1 = 0.0, l2 = 0.0;
    for (std::size_t i = 0; i < data.rows.size(); ++i) {
        const auto value = e.eval_with_params(complex_row(data.rows[i]), params, builtins());
        if (!value) return kInf;
        s += (value->re - data.targets[i]) * (value->re - data.targets[i]);
    }
    for (const double v : p) l1 += std::fabs(v), l2 += v * v;
    for (const Token& t : e.tokens)
        if (t.kind == TokenKind::Real) l1 += std::fabs(t.value.re), l2 += t.value.re * t.value.re;
    return s / static_cast<double>(data.rows.size()) + alpha * (l1_ratio * l1 + ((1 - l1_ratio) * 0.5) * l2);
}

// What the reference fit did: 'A' accepted, 'R' rejected, per iteration.
struct Trace {
    std::string outcomes;
    std::vector<double> first_jacobian_entry;
    std::vector<std::pair<double, double>> accepted;  // (p_0, error) after each acceptance
};

// A plain transcription of the refinement: forward-difference Jacobian, diagonal
// normal equations, damping that grows on rejection and shrinks on acceptance.
std::pair<Expression, double> reference_refine(const Expression& e, const Data& data, std::size_t max_iterations,
                                               double alpha, double l1_ratio, Trace* trace = nullptr) {
    Trace unused;
    if (!trace) trace = &unused;
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
                if (i == 0 && k == 0) trace->first_jacobian_entry.push_back(jacobian);
                d[k] += jacobian * jacobian, g[k] += jacobian * (f0 - data.targets[i]);
            }
        }
        for (std::size_t k = 0; k < np; ++k) q[k] = p[k] - g[k] / ((lambda + d[k]) + 1e-6);
        const double err = reference_error(e, q, data, alpha, l1_ratio);
        trace->outcomes += err < best ? 'A' : 'R';
        if (err < best) {
            const double previous = best;
            p = q, best = err;
            trace->accepted.push_back({p[0], err});
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

std::pair<Expression, double> refine(const Expression& e, const Data& data, std::size_t limit = 10) {
    return refine_constants(e, Dataset::from_rows(data.rows), data.targets, builtins(), limit, 0.0, 0.5);
}

TEST(ConstantRefinement, WorkedExampleFollowsTheDocumentedCourseDigitForDigit) {
    const Data data{{{0.0}, {0.0}}, {1.0, 1.0}};
    Trace trace;
    const auto expected = reference_refine(parameter_leaf(), data, 10, 0.0, 0.5, &trace);
    EXPECT_EQ(trace.outcomes, "AAA");
    EXPECT_EQ(trace.first_jacobian_entry,
              (std::vector<double>{1.000000000001, 1.0000000000287557, 1.0000000000287557}));
    ASSERT_EQ(trace.accepted.size(), 3u);
    EXPECT_NEAR(trace.accepted[0].first, 0.9955219, 1e-7);
    EXPECT_NEAR(trace.accepted[0].second, 2.0053e-5, 1e-9);
    EXPECT_NEAR(trace.accepted[1].first, 0.9999978, 1e-7);
    EXPECT_NEAR(trace.accepted[1].second, 5.018e-12, 1e-15);
    EXPECT_NEAR(trace.accepted[2].first, 0.9999999999, 1e-10);
    EXPECT_EQ(reference_error(parameter_leaf(), {0.1}, data, 0.0, 0.5), 0.81);
    expect_same_fit(refine(parameter_leaf(), data), expected);
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
        // Every trial repeats the error: the initial values return, imaginary parts cleared.
        {"already at the optimum", param_leaf({1.5, 4.0}), {{{0.0}, {0.0}}, {1.5, 1.5}}, 10, "RRR"},
        // Sin(C) cannot reach 2: steps overshoot, are damped twice, accepted, again.
        {"acceptance resets the rejections", unary(kSin, param_leaf({-1.9, 0.0})), {{{0.0}}, {2.0}}, 30,
         ".*RRARRA.*"},
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
        Trace trace;
        const auto expected = reference_refine(row.expression, row.data, row.limit, 0.0, 0.5, &trace);
        EXPECT_TRUE(std::regex_match(trace.outcomes, std::regex(row.course))) << trace.outcomes;
        expect_same_fit(refine(row.expression, row.data, row.limit), expected);
    }
}

TEST(ConstantRefinement, TargetsOfAnotherLengthAreAnInvariantViolation) {
    const Data data{{{1.0}, {2.0}}, {1.0}};
    EXPECT_THROW(refine(parameter_leaf(), data), InvariantViolation);
    EXPECT_THROW(compute_error_with_params(parameter_leaf(), std::vector<double>{1.0}, Dataset::from_rows(data.rows),
                                          data.targets, builtins(), 0.0, 0.5),
                 InvariantViolation);
}

// Random expressions over both columns, Param (twice as likely as the other leaves), Real and Const.
Expression random_expression(std::mt19937_64& rng, int depth) {
    std::uniform_real_distribution<double> value(-2.0, 2.0);
    const auto choice = rng() % 10;
    if (depth == 0 || choice < 3) {
        switch (rng() % 6) {
            case 0: return variable_leaf(0);
            case 1: return variable_leaf(1);
            case 2:
            case 3: return param_leaf({value(rng), value(rng)});
            case 4: return real_leaf(value(rng));
            default: return const_leaf(rng() % 5);
        }
    }
    const std::vector<std::size_t> ids = builtins().ids_by_arity(choice < 6 ? 1 : 2);
    const std::size_t id = ids[rng() % ids.size()];
    if (choice < 6) return unary(id, random_expression(rng, depth - 1));
    const Expression a = random_expression(rng, depth - 1);
    return binary(id, a, random_expression(rng, depth - 1));
}

TEST(ConstantRefinement, MatchesPerRowReferenceBitForBitOnRandomExpressions) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> value(-3.0, 3.0);
    ConstantFitter fitter;  // reused, as a worker reuses it across candidates
    std::size_t known_operands = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 150)(rng);
        Data data{std::vector<std::vector<double>>(n), std::vector<double>(n)};
        for (std::size_t i = 0; i < n; ++i) data.rows[i] = {value(rng), value(rng)}, data.targets[i] = value(rng);
        // Now and then a short row: every expression reading v_{1} fails there.
        if (rng() % 8 == 0) data.rows[rng() % n].pop_back();
        const Dataset columns = Dataset::from_rows(data.rows);
        // Every other expression is built as the search builds candidates:
        // an operator over two operands, those without constants read from
        // their values on all rows.
        const bool composed = trial % 2 == 1;
        const Expression left = random_expression(rng, 2), right = random_expression(rng, 2);
        const std::vector<std::size_t> binary_ids = builtins().ids_by_arity(2);
        const Expression e =
            composed ? binary(binary_ids[rng() % binary_ids.size()], left, right) : random_expression(rng, 3);
        std::vector<std::vector<Complex>> operand_values;
        std::vector<KnownValues> known;
        for (std::size_t first = 0; const Expression* operand : {&left, &right}) {
            const bool complete = std::none_of(operand->tokens.begin(), operand->tokens.end(), [&](const Token& t) {
                return t.kind == TokenKind::Var && t.index >= columns.min_row_length;
            });
            if (composed && operand->n_params == 0 && complete) {
                operand_values.emplace_back(n);
                BlockEvaluator().evaluate(operand->tokens, columns, {}, builtins(), operand_values.back());
                known.push_back({first, first + operand->tokens.size() - 1, operand_values.back().data()});
            }
            first += operand->tokens.size();
        }
        known_operands += known.size();
        const double alpha = trial % 3 == 0 ? 0.0 : 0.05 * (trial % 7);
        const double l1_ratio = 0.25 * (trial % 5);
        const std::size_t limit = trial % 2 == 0 ? 10 : 30;
        SCOPED_TRACE(testing::Message() << "trial " << trial << ": " << e.formula << " on " << n << " rows");
        Expression refined = e;
        const double error =
            fitter.refine(refined.tokens, columns, data.targets, builtins(), limit, alpha, l1_ratio, nullptr, known);
        expect_same_fit({refined, error}, reference_refine(e, data, limit, alpha, l1_ratio));

        std::vector<double> p;
        for (const Token& t : e.tokens)
            if (t.kind == TokenKind::Param) p.push_back(t.value.re);
        EXPECT_TRUE(same_bits(
            fitter.error_with_params(e.tokens, p, columns, data.targets, builtins(), alpha, l1_ratio),
            reference_error(e, p, data, alpha, l1_ratio)));
    }
    EXPECT_GT(known_operands, 100u);
}

}  // namespace
}  // namespace kiv
