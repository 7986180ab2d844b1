#include "engine/scoring.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/dataset.hpp"
#include "ops/registry.hpp"

namespace kiv {
namespace {

constexpr std::size_t kPlus = 8, kTimes = 9, kDivide = 11, kSin = 15, kConstPi = 3;
constexpr double kInf = std::numeric_limits<double>::infinity();

class RawError : public testing::Test {
protected:
    const OperatorRegistry registry = with_builtins();

    double error(const Expression& e, const std::vector<std::vector<double>>& rows, const std::vector<double>& targets,
                 double alpha = 0.0, double l1_ratio = 0.5) const {
        return compute_raw_error(alpha, l1_ratio, e, Dataset::from_rows(rows), targets, registry);
    }
};

TEST(ElasticNetPenalty, WeighsL1AndHalfL2ByRatioInTheDocumentedOrder) {
    EXPECT_EQ(elastic_net_penalty(1.0, 0.5, 0.1, 0.1 * 0.1), 0.052500000000000005);
    EXPECT_EQ(elastic_net_penalty(0.0, 0.3, 5.0, 25.0), 0.0);
    EXPECT_EQ(elastic_net_penalty(2.0, 1.0, 3.0, 9.0), 6.0);
    EXPECT_EQ(elastic_net_penalty(2.0, 0.0, 3.0, 9.0), 9.0);
}

TEST_F(RawError, ParameterLeafOnThreeTargets) {
    struct Row {
        double alpha;
        double expected;
    };
    const std::vector<std::vector<double>> rows{{0.0}, {0.0}, {0.0}};
    for (const Row& row : {Row{0.0, 4.276666666666666}, Row{1.0, 4.329166666666667}}) {
        SCOPED_TRACE(row.alpha);
        EXPECT_EQ(error(parameter_leaf(), rows, {1.0, 2.0, 3.0}, row.alpha, 0.5), row.expected);
    }
}

TEST_F(RawError, LeafValuesAreScreenedLikeOperatorResults) {
    struct Row {
        const char* name;
        double input;
        double expected;
    };
    const Row rows[] = {
        {"input equal to target", 3.0, 0.0},
        {"input of magnitude 2e15", 2e15, kInf},
        {"input just below the bound", 9.9e14, 0.0},
        {"infinite input", kInf, kInf},
        {"NaN input", std::nan(""), kInf},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const double second_target = std::isfinite(row.input) && std::fabs(row.input) < 1e15 ? row.input : 0.0;
        EXPECT_EQ(error(variable_leaf(0), {{1.0}, {row.input}, {-2.0}}, {1.0, second_target, -2.0}), row.expected);
    }
}

TEST_F(RawError, RaggedRowsFailOnlyExpressionsThatReadMissingColumns) {
    const std::vector<std::vector<double>> rows{{1.0, 2.0}, {3.0}, {5.0, 6.0}};
    const std::vector<double> targets{1.0, 3.0, 5.0};
    EXPECT_EQ(error(variable_leaf(0), rows, targets), 0.0);
    EXPECT_EQ(error(variable_leaf(1), rows, targets), kInf);
    EXPECT_EQ(error(apply_binary(kPlus, variable_leaf(0), variable_leaf(1), registry), rows, targets), kInf);
}

TEST_F(RawError, UndefinedOrOverlargeOperatorResultIsInfinite) {
    const Expression quotient = apply_binary(kDivide, parameter_leaf(), variable_leaf(0), registry);
    EXPECT_EQ(error(quotient, {{1.0}, {0.0}}, {0.1, 0.0}), kInf);
    EXPECT_EQ(error(quotient, {{1.0}, {1e-17}}, {0.1, 0.0}), kInf);
    EXPECT_EQ(error(quotient, {{1.0}, {2.0}}, {0.1, 0.05}), 0.0);
}

TEST_F(RawError, MeanRunsOverRowsWithTargetsDividedByTargetCount) {
    const Expression v0 = variable_leaf(0);
    // Fewer targets: the third row is screened but not compared.
    EXPECT_EQ(error(v0, {{1.0}, {2.0}, {7.0}}, {0.0, 0.0}), 5.0 / 2.0);
    EXPECT_EQ(error(v0, {{1.0}, {2.0}, {2e15}}, {0.0, 0.0}), kInf);
    // More targets: the sum over the rows is divided by all of them.
    EXPECT_EQ(error(v0, {{1.0}, {2.0}}, {0.0, 0.0, 9.0, 9.0}), 5.0 / 4.0);
}

TEST_F(RawError, PenaltyCountsRealValuesAndParamRealPartsButNotConsts) {
    Expression e = apply_binary(kTimes, parameter_leaf(), variable_leaf(0), registry);
    e.tokens[0].value = {-2.0, 7.0};
    // Times(Param, v_0) + Pi * 0.5, built by hand to hold a Const and a Real.
    e.tokens.push_back(Token::constant(kConstPi, {M_PI, 0.0}));
    e.tokens.push_back(Token::real(0.5));
    e.tokens.push_back(Token::op(2, kTimes));
    e.tokens.push_back(Token::op(2, kPlus));
    e.complexity = e.tokens.size();
    const std::vector<std::vector<double>> rows{{1.0}, {2.0}};
    const std::vector<double> targets{-2.0 + M_PI * 0.5, -4.0 + M_PI * 0.5};
    const double mse = error(e, rows, targets, 0.0);
    EXPECT_LT(mse, 1e-15);
    EXPECT_EQ(error(e, rows, targets, 0.8, 0.3), mse + elastic_net_penalty(0.8, 0.3, 2.5, 4.25));
}

TEST_F(RawError, BlockEvaluationMatchesRowByRowSumOverManyBlocks) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> value(-3.0, 3.0);
    const Expression e =
        apply_unary(kSin, apply_binary(kTimes, parameter_leaf(), variable_leaf(0), registry), registry);
    std::vector<std::vector<double>> rows(200);
    std::vector<double> targets(200);
    double sum = 0.0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = {value(rng)};
        targets[i] = value(rng);
        const double diff = e.eval(std::vector<Complex>{{rows[i][0], 0.0}}, registry)->re - targets[i];
        sum += diff * diff;
    }
    EXPECT_EQ(error(e, rows, targets), sum / 200.0);
    rows[199][0] = 1e300 * 1e10;  // an infinite input in the last block
    EXPECT_EQ(error(e, rows, targets), kInf);
}

}  // namespace
}  // namespace kiv
