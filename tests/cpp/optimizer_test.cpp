#include "engine/optimizer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/dataset.hpp"
#include "engine/scoring.hpp"
#include "invariant.hpp"
#include "ops/builtin.hpp"
#include "ops/registry.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

constexpr std::size_t kNeg = 6, kPlus = 8, kTimes = 9, kSubtract = 10, kLog = 13, kSin = 15, kConstZero = 0,
                      kConstI = 2, kConstPi = 3;
constexpr double kInf = std::numeric_limits<double>::infinity();

// Rows in both layouts: complex rows for the reference, columns for the fitter.
struct Data {
    std::vector<std::vector<Complex>> rows;
    Dataset columns;
    std::vector<double> targets;
};

Data make_data(const std::vector<std::vector<double>>& rows, std::vector<double> targets) {
    Data data{{}, Dataset::from_rows(rows), std::move(targets)};
    for (const auto& row : rows) {
        std::vector<Complex> complex_row;
        for (const double x : row) complex_row.push_back({x, 0.0});
        data.rows.push_back(std::move(complex_row));
    }
    return data;
}

Expression real_leaf(double value) { return {{Token::real(value)}, std::to_string(value), 1, 0, 0}; }

Expression const_leaf(const OperatorRegistry& registry, std::size_t id) {
    const auto& op = static_cast<const ConstOp&>(registry.op(id));
    return {{Token::constant(id, op.value())}, std::string(op.name()), 1, 0, 0};
}

Expression parameter_leaf_at(Complex value) {
    Expression leaf = parameter_leaf();
    leaf.tokens[0].value = value;
    return leaf;
}

std::vector<Complex> as_params(const std::vector<double>& p) {
    std::vector<Complex> params;
    for (const double v : p) params.push_back({v, 0.0});
    return params;
}

// What the reference fit did, for checks on its course.
struct Trace {
    std::string outcomes;  // 'A' accepted, 'R' rejected, per iteration
    std::vector<double> first_jacobian_entry;
    std::vector<double> accepted_values;  // p_0 after each acceptance
    std::vector<double> accepted_errors;
};

// A plain transcription of the penalized error, row by row.
double reference_error(const Expression& e, const std::vector<double>& p, const Data& data,
                       const OperatorRegistry& registry, double alpha, double l1_ratio) {
    const std::vector<Complex> params = as_params(p);
    double s = 0.0;
    for (std::size_t i = 0; i < data.rows.size(); ++i) {
        const auto value = e.eval_with_params(data.rows[i], params, registry);
        if (!value) return kInf;
        s += (value->re - data.targets[i]) * (value->re - data.targets[i]);
    }
    const double mse = s / static_cast<double>(data.rows.size());
    double l1 = 0.0, l2 = 0.0;
    for (const double v : p) l1 += std::fabs(v), l2 += v * v;
    for (const Token& t : e.tokens)
        if (t.kind == TokenKind::Real) l1 += std::fabs(t.value.re), l2 += t.value.re * t.value.re;
    return mse + alpha * (l1_ratio * l1 + ((1 - l1_ratio) * 0.5) * l2);
}

// A plain transcription of the refinement with a full Jacobian matrix.
std::pair<Expression, double> reference_refine(const Expression& e, const Data& data,
                                               const OperatorRegistry& registry, std::size_t max_iterations,
                                               double alpha, double l1_ratio, Trace* trace = nullptr) {
    std::vector<std::size_t> positions;
    std::vector<double> p;
    for (std::size_t i = 0; i < e.tokens.size(); ++i)
        if (e.tokens[i].kind == TokenKind::Param) positions.push_back(i), p.push_back(e.tokens[i].value.re);
    const std::size_t n = data.rows.size(), np = p.size();
    double best = reference_error(e, p, data, registry, alpha, l1_ratio);
    if (np == 0) return {e, best};
    double lambda = 0.01;
    int rejections = 0;
    std::size_t iterations = 0;
    while (true) {
        if (lambda > 10000) break;
        std::vector<std::vector<double>> jac(n, std::vector<double>(np));
        std::vector<double> r(n);
        for (std::size_t i = 0; i < n; ++i) {
            const auto v0 = e.eval_with_params(data.rows[i], as_params(p), registry);
            const double f0 = v0 ? v0->re : 0.0;
            r[i] = f0 - data.targets[i];
            for (std::size_t k = 0; k < np; ++k) {
                std::vector<double> shifted = p;
                shifted[k] += 1e-6;
                const auto v1 = e.eval_with_params(data.rows[i], as_params(shifted), registry);
                jac[i][k] = ((v1 ? v1->re : 0.0) - f0) / 1e-6;
            }
        }
        if (trace) trace->first_jacobian_entry.push_back(jac[0][0]);
        std::vector<double> q(np);
        for (std::size_t k = 0; k < np; ++k) {
            double d = 0.0, g = 0.0;
            for (std::size_t i = 0; i < n; ++i) d += jac[i][k] * jac[i][k], g += jac[i][k] * r[i];
            q[k] = p[k] - g / ((lambda + d) + 1e-6);
        }
        const double err = reference_error(e, q, data, registry, alpha, l1_ratio);
        if (err < best) {
            const double previous = best;
            p = q;
            best = err;
            if (trace) {
                trace->outcomes += 'A';
                trace->accepted_values.push_back(p[0]);
                trace->accepted_errors.push_back(err);
            }
            if (std::fabs(previous - err) < 1e-9) break;
            rejections = 0;
            lambda /= 10;
        } else {
            if (trace) trace->outcomes += 'R';
            if (rejections > 1) break;
            ++rejections;
            lambda *= 10;
        }
        if (++iterations == max_iterations) break;
    }
    Expression result = e;
    for (std::size_t k = 0; k < np; ++k) result.tokens[positions[k]].value = {p[k], 0.0};
    return {result, best};
}

std::vector<Complex> param_values(const Expression& e) {
    std::vector<Complex> values;
    for (const Token& t : e.tokens)
        if (t.kind == TokenKind::Param) values.push_back(t.value);
    return values;
}

std::vector<double> param_reals(const Expression& e) {
    std::vector<double> values;
    for (const Complex& v : param_values(e)) values.push_back(v.re);
    return values;
}

// Every token identical bit for bit, and the error too.
void expect_same_fit(const std::pair<Expression, double>& actual, const std::pair<Expression, double>& expected) {
    EXPECT_TRUE(same_bits(actual.second, expected.second)) << actual.second << " vs " << expected.second;
    ASSERT_EQ(actual.first.tokens.size(), expected.first.tokens.size());
    for (std::size_t i = 0; i < actual.first.tokens.size(); ++i) {
        const Token& a = actual.first.tokens[i];
        const Token& b = expected.first.tokens[i];
        EXPECT_EQ(a.kind, b.kind);
        EXPECT_EQ(a.op_id, b.op_id);
        EXPECT_TRUE(SameBits(a.value, b.value)) << "token " << i;
    }
    EXPECT_EQ(actual.first.formula, expected.first.formula);
    EXPECT_EQ(actual.first.complexity, expected.first.complexity);
    EXPECT_EQ(actual.first.n_vars, expected.first.n_vars);
    EXPECT_EQ(actual.first.n_params, expected.first.n_params);
}

class ConstantRefinement : public testing::Test {
protected:
    const OperatorRegistry registry = with_builtins();

    Expression unary(std::size_t id, const Expression& e) const { return apply_unary(id, e, registry); }
    Expression binary(std::size_t id, const Expression& a, const Expression& b) const {
        return apply_binary(id, a, b, registry);
    }

    std::pair<Expression, double> refine(const Expression& e, const Data& data, std::size_t limit = 10,
                                         double alpha = 0.0, double l1_ratio = 0.5) const {
        return refine_constants(e, data.columns, data.targets, registry, limit, alpha, l1_ratio);
    }
};

TEST_F(ConstantRefinement, WorkedExampleFollowsTheDocumentedCourseDigitForDigit) {
    const Data data = make_data({{0.0}, {0.0}}, {1.0, 1.0});
    Trace trace;
    const auto expected = reference_refine(parameter_leaf(), data, registry, 10, 0.0, 0.5, &trace);

    EXPECT_EQ(trace.outcomes, "AAA");
    ASSERT_EQ(trace.first_jacobian_entry.size(), 3u);
    EXPECT_EQ(trace.first_jacobian_entry[0], 1.000000000001);
    EXPECT_EQ(trace.first_jacobian_entry[1], 1.0000000000287557);
    EXPECT_EQ(trace.first_jacobian_entry[2], 1.0000000000287557);
    EXPECT_NEAR(trace.accepted_values[0], 0.9955219, 1e-7);
    EXPECT_NEAR(trace.accepted_errors[0], 2.0053e-5, 1e-9);
    EXPECT_NEAR(trace.accepted_values[1], 0.9999978, 1e-7);
    EXPECT_NEAR(trace.accepted_errors[1], 5.018e-12, 1e-15);
    EXPECT_NEAR(trace.accepted_values[2], 0.9999999999, 1e-10);
    EXPECT_EQ(reference_error(parameter_leaf(), {0.1}, data, registry, 0.0, 0.5), 0.81);

    expect_same_fit(refine(parameter_leaf(), data), expected);
}

TEST_F(ConstantRefinement, ExpressionWithoutParamIsReturnedUnchangedWithItsPenalizedError) {
    const Data data = make_data({{1.0}, {2.0}, {4.0}}, {3.0, 5.0, 6.0});
    const Expression e = binary(kPlus, binary(kTimes, const_leaf(registry, kConstPi), unary(kNeg, variable_leaf(0))),
                                real_leaf(2.5));
    const auto [refined, error] = refine(e, data, 10, 0.7, 0.25);
    expect_same_fit({refined, error}, {e, reference_error(e, {}, data, registry, 0.7, 0.25)});
    // Pi is not penalized, 2.5 is.
    double s = 0.0;
    for (std::size_t i = 0; i < 3; ++i) {
        const double diff = e.eval(data.rows[i], registry)->re - data.targets[i];
        s += diff * diff;
    }
    EXPECT_EQ(error, s / 3.0 + elastic_net_penalty(0.7, 0.25, 2.5, 6.25));
}

TEST_F(ConstantRefinement, ZeroAlphaGivesPlainMeanSquaredErrorWhateverL1Ratio) {
    const Data data = make_data({{1.0}, {2.0}, {3.0}}, {2.1, 3.9, 6.2});
    const Expression e = binary(kTimes, parameter_leaf(), variable_leaf(0));
    for (const double l1_ratio : {0.0, 0.5, 1.0, -3.0, 7.0}) {
        SCOPED_TRACE(l1_ratio);
        const auto [refined, error] = refine(e, data, 10, 0.0, l1_ratio);
        double s = 0.0;
        for (std::size_t i = 0; i < 3; ++i) {
            const double diff = refined.eval(data.rows[i], registry)->re - data.targets[i];
            s += diff * diff;
        }
        EXPECT_EQ(error, s / 3.0);
    }
}

TEST_F(ConstantRefinement, ParameterWithoutInfluenceNeverMoves) {
    const Data data = make_data({{1.0}, {2.0}, {3.0}}, {2.0, 4.0, 6.0});
    // Times(0, C) is (0, 0) whatever C is, so the second C has a zero Jacobian column.
    const Expression e = binary(kPlus, binary(kTimes, parameter_leaf(), variable_leaf(0)),
                                binary(kTimes, const_leaf(registry, kConstZero), parameter_leaf_at({0.25, 0.0})));
    const auto [refined, error] = refine(e, data);
    const std::vector<Complex> values = param_values(refined);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_NE(values[0].re, 0.1);
    EXPECT_EQ(values[1].re, 0.25);
    EXPECT_LT(error, 1e-6);
}

TEST_F(ConstantRefinement, ThreeRejectionsReturnInitialValuesWithImaginaryPartsCleared) {
    // Already at the optimum: every trial step repeats the error and is rejected.
    const Data data = make_data({{0.0}, {0.0}}, {1.5, 1.5});
    Trace trace;
    const Expression e = parameter_leaf_at({1.5, 4.0});
    const auto expected = reference_refine(e, data, registry, 10, 0.0, 0.5, &trace);
    EXPECT_EQ(trace.outcomes, "RRR");
    const auto [refined, error] = refine(e, data);
    EXPECT_EQ(error, 0.0);
    EXPECT_EQ(param_values(refined), (std::vector<Complex>{{1.5, 0.0}}));
    expect_same_fit({refined, error}, expected);
}

TEST_F(ConstantRefinement, AcceptanceResetsTheRejectionCounter) {
    // Sin(C) cannot reach 2: near its maximum the Gauss-Newton step
    // overshoots, is damped twice, accepted, and the same happens again.
    const Data data = make_data({{0.0}}, {2.0});
    const Expression e = unary(kSin, parameter_leaf_at({-1.9, 0.0}));
    Trace trace;
    const auto expected = reference_refine(e, data, registry, 30, 0.0, 0.5, &trace);
    EXPECT_NE(trace.outcomes.find("RRARRA"), std::string::npos) << trace.outcomes;
    expect_same_fit(refine(e, data, 30), expected);
}

TEST_F(ConstantRefinement, ReturnedErrorIsTheErrorAtTheReturnedValues) {
    const Data data = make_data({{0.5, 1.0}, {1.5, -2.0}, {2.5, 0.25}}, {1.0, -0.5, 2.0});
    const Expression e = binary(kSubtract, unary(kSin, binary(kTimes, parameter_leaf(), variable_leaf(0))),
                                binary(kTimes, parameter_leaf(), variable_leaf(1)));
    for (const double alpha : {0.0, 0.3}) {
        SCOPED_TRACE(alpha);
        const auto [refined, error] = refine(e, data, 10, alpha, 0.4);
        EXPECT_EQ(error, compute_error_with_params(e, param_reals(refined), data.columns, data.targets, registry,
                                                   alpha, 0.4));
    }
}

TEST_F(ConstantRefinement, RealIsPenalizedButNotAdjustedAndConstIsNeither) {
    const Data data = make_data({{1.0}, {2.0}, {3.0}}, {4.0, 7.0, 10.0});
    const Expression e = binary(kPlus, binary(kTimes, parameter_leaf(), variable_leaf(0)),
                                binary(kTimes, real_leaf(0.5), const_leaf(registry, kConstPi)));
    const auto [refined, error] = refine(e, data, 10, 0.2, 0.6);
    EXPECT_EQ(refined.tokens[3].value, e.tokens[3].value);
    EXPECT_EQ(refined.tokens[4].value, e.tokens[4].value);
    const double p = refined.tokens[0].value.re;
    double s = 0.0;
    for (std::size_t i = 0; i < 3; ++i) {
        const double diff = refined.eval(data.rows[i], registry)->re - data.targets[i];
        s += diff * diff;
    }
    EXPECT_EQ(error, s / 3.0 + elastic_net_penalty(0.2, 0.6, std::fabs(p) + 0.5, p * p + 0.25));
}

TEST_F(ConstantRefinement, ImaginaryPartOfValuesIsIgnored) {
    const Data data = make_data({{1.0}, {2.0}, {3.0}}, {2.0, 4.0, 6.0});
    // Adds 1e6 i to every value.
    const Expression e = binary(kPlus, binary(kTimes, parameter_leaf(), variable_leaf(0)),
                                binary(kTimes, const_leaf(registry, kConstI), real_leaf(1e6)));
    const auto [refined, error] = refine(e, data, 30);
    EXPECT_LT(error, 1e-9);
    EXPECT_NEAR(refined.tokens[0].value.re, 2.0, 1e-6);
}

TEST_F(ConstantRefinement, NaNStartingErrorIsReturnedWithTheInitialValues) {
    struct Row {
        const char* name;
        Expression expression;
        std::vector<double> targets;
    };
    const Row rows[] = {
        {"NaN parameter value", parameter_leaf_at({std::nan(""), 3.0}), {1.0, 1.0}},
        {"NaN target", binary(kTimes, parameter_leaf(), variable_leaf(0)), {1.0, std::nan("")}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Data data = make_data({{1.0}, {2.0}}, row.targets);
        Trace trace;
        const auto expected = reference_refine(row.expression, data, registry, 10, 0.0, 0.5, &trace);
        EXPECT_EQ(trace.outcomes, "RRR");
        const auto [refined, error] = refine(row.expression, data);
        EXPECT_TRUE(std::isnan(error));
        EXPECT_TRUE(same_bits(refined.tokens[0].value.re, row.expression.tokens[0].value.re));
        EXPECT_EQ(refined.tokens[0].value.im, 0.0);
        expect_same_fit({refined, error}, expected);
    }
}

TEST_F(ConstantRefinement, InfiniteStartingErrorAcceptsAnyFiniteTrial) {
    const Data data = make_data({{1.0}, {2.0}}, {1.0, 1.0});
    const Expression e = unary(kLog, parameter_leaf_at({0.0, 0.0}));
    Trace trace;
    const auto expected = reference_refine(e, data, registry, 10, 0.0, 0.5, &trace);
    ASSERT_FALSE(trace.outcomes.empty());
    EXPECT_EQ(trace.outcomes[0], 'A');
    const auto fitted = refine(e, data);
    EXPECT_TRUE(std::isfinite(fitted.second));
    expect_same_fit(fitted, expected);
}

TEST_F(ConstantRefinement, TargetsOfAnotherLengthAreAnInvariantViolation) {
    const Data data = make_data({{1.0}, {2.0}}, {1.0});
    EXPECT_THROW(refine(parameter_leaf(), data), InvariantViolation);
    EXPECT_THROW(compute_error_with_params(parameter_leaf(), std::vector<double>{1.0}, data.columns, data.targets,
                                          registry, 0.0, 0.5),
                 InvariantViolation);
}

// Random leaves: both columns, Param (twice as likely), Real and Const.
Expression random_leaf(std::mt19937_64& rng, const OperatorRegistry& registry) {
    std::uniform_real_distribution<double> value(-2.0, 2.0);
    switch (rng() % 6) {
        case 0: return variable_leaf(0);
        case 1: return variable_leaf(1);
        case 2:
        case 3: return parameter_leaf_at({value(rng), value(rng)});
        case 4: return real_leaf(value(rng));
        default: return const_leaf(registry, rng() % 5);
    }
}

Expression random_expression(std::mt19937_64& rng, const OperatorRegistry& registry, int depth) {
    const auto choice = rng() % 10;
    if (depth == 0 || choice < 3) return random_leaf(rng, registry);
    if (choice < 6) {
        const std::vector<std::size_t> ids = registry.ids_by_arity(1);
        return apply_unary(ids[rng() % ids.size()], random_expression(rng, registry, depth - 1), registry);
    }
    const std::vector<std::size_t> ids = registry.ids_by_arity(2);
    const std::size_t id = ids[rng() % ids.size()];
    const Expression a = random_expression(rng, registry, depth - 1);
    return apply_binary(id, a, random_expression(rng, registry, depth - 1), registry);
}

Data random_data(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> value(-3.0, 3.0);
    const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 150)(rng);
    std::vector<std::vector<double>> rows(n);
    std::vector<double> targets(n);
    for (std::size_t i = 0; i < n; ++i) {
        rows[i] = {value(rng), value(rng)};
        targets[i] = value(rng);
    }
    // Now and then a short row: every expression reading v_{1} fails there.
    if (rng() % 8 == 0) rows[rng() % n].pop_back();
    return make_data(rows, targets);
}

TEST_F(ConstantRefinement, MatchesPerRowReferenceBitForBitOnRandomExpressions) {
    std::mt19937_64 rng(20240611);
    ConstantFitter fitter;  // reused, as a worker reuses it across candidates
    for (int trial = 0; trial < 400; ++trial) {
        const Data data = random_data(rng);
        const Expression e = random_expression(rng, registry, 3);
        const double alpha = trial % 3 == 0 ? 0.0 : 0.05 * (trial % 7);
        const double l1_ratio = 0.25 * (trial % 5);
        const std::size_t limit = trial % 2 == 0 ? 10 : 30;
        SCOPED_TRACE(testing::Message() << "trial " << trial << ": " << e.formula << " on " << data.rows.size()
                                        << " rows");
        Expression refined = e;
        const double error =
            fitter.refine(refined.tokens, data.columns, data.targets, registry, limit, alpha, l1_ratio);
        expect_same_fit({refined, error}, reference_refine(e, data, registry, limit, alpha, l1_ratio));

        const std::vector<double> p = param_reals(e);
        EXPECT_TRUE(same_bits(fitter.error_with_params(e.tokens, p, data.columns, data.targets, registry, alpha,
                                                       l1_ratio),
                              reference_error(e, p, data, registry, alpha, l1_ratio)));
    }
}

}  // namespace
}  // namespace kiv
