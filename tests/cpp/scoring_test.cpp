#include "engine/scoring.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/dataset.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

double raw_error(const Expression& e, const std::vector<std::vector<double>>& rows,
                 const std::vector<double>& targets, double alpha = 0.0, double l1_ratio = 0.5) {
    return compute_raw_error(alpha, l1_ratio, e, Dataset::from_rows(rows), targets, builtins());
}

TEST(ElasticNetPenalty, WeighsL1AndHalfL2ByRatioInTheDocumentedOrder) {
    EXPECT_EQ(elastic_net_penalty(1.0, 0.5, 0.1, 0.1 * 0.1), 0.052500000000000005);
    EXPECT_EQ(elastic_net_penalty(2.0, 1.0, 3.0, 9.0), 6.0);
    EXPECT_EQ(elastic_net_penalty(2.0, 0.0, 3.0, 9.0), 9.0);
}

TEST(RawError, MeanSquaredErrorOrInfinityWhereAnyRowHasNoAcceptableValue) {
    const Expression c = parameter_leaf(), v0 = variable_leaf(0), v1 = variable_leaf(1);
    const Expression quotient = binary(kDivide, c, v0);
    const std::vector<std::vector<double>> ragged{{1.0, 2.0}, {3.0}, {5.0, 6.0}};
    struct Row {
        const char* name;
        Expression expression;
        std::vector<std::vector<double>> rows;
        std::vector<double> targets;
        double alpha;
        double expected;
    };
    const Row rows[] = {
        {"parameter leaf", c, {{0.0}, {0.0}, {0.0}}, {1.0, 2.0, 3.0}, 0.0, 4.276666666666666},
        {"parameter leaf, alpha 1", c, {{0.0}, {0.0}, {0.0}}, {1.0, 2.0, 3.0}, 1.0, 4.329166666666667},
        {"leaf just below the bound", v0, {{1.0}, {9.9e14}}, {1.0, 9.9e14}, 0.0, 0.0},
        {"leaf of magnitude 2e15", v0, {{1.0}, {2e15}}, {1.0, 0.0}, 0.0, kInf},
        {"infinite leaf", v0, {{1.0}, {kInf}}, {1.0, 0.0}, 0.0, kInf},
        {"NaN leaf", v0, {{1.0}, {kNaN}}, {1.0, 0.0}, 0.0, kInf},
        {"ragged rows, column on every row", v0, ragged, {1.0, 3.0, 5.0}, 0.0, 0.0},
        {"ragged rows, column missing from one", binary(kPlus, v0, v1), ragged, {1.0, 3.0, 5.0}, 0.0, kInf},
        {"division by zero", quotient, {{1.0}, {0.0}}, {0.1, 0.0}, 0.0, kInf},
        {"quotient beyond the bound", quotient, {{1.0}, {1e-17}}, {0.1, 0.0}, 0.0, kInf},
        {"quotient", quotient, {{1.0}, {2.0}}, {0.1, 0.05}, 0.0, 0.0},
        // Fewer targets: the last row is screened but not compared.
        {"fewer targets", v0, {{1.0}, {2.0}, {7.0}}, {0.0, 0.0}, 0.0, 5.0 / 2.0},
        {"fewer targets, unacceptable last row", v0, {{1.0}, {2.0}, {2e15}}, {0.0, 0.0}, 0.0, kInf},
        // More targets: the sum over the rows is divided by all of them.
        {"more targets", v0, {{1.0}, {2.0}}, {0.0, 0.0, 9.0, 9.0}, 0.0, 5.0 / 4.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(raw_error(row.expression, row.rows, row.targets, row.alpha), row.expected);
    }
}

TEST(RawError, PenaltyCountsRealValuesAndParamRealPartsButNotConsts) {
    const Expression e = binary(kPlus, binary(kTimes, param_leaf({-2.0, 7.0}), variable_leaf(0)),
                                binary(kTimes, const_leaf(kPi), real_leaf(0.5)));
    const std::vector<std::vector<double>> rows{{1.0}, {2.0}};
    const std::vector<double> targets{-2.0 + M_PI * 0.5, -4.0 + M_PI * 0.5};
    const double mse = raw_error(e, rows, targets, 0.0);
    EXPECT_LT(mse, 1e-15);
    EXPECT_EQ(raw_error(e, rows, targets, 0.8, 0.3), mse + elastic_net_penalty(0.8, 0.3, 2.5, 4.25));
}

TEST(RawError, BlockEvaluationMatchesRowByRowSumOverManyBlocks) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> value(-3.0, 3.0);
    const Expression e = unary(kSin, binary(kTimes, parameter_leaf(), variable_leaf(0)));
    std::vector<std::vector<double>> rows(200);
    std::vector<double> targets(200);
    double sum = 0.0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = {value(rng)};
        targets[i] = value(rng);
        const double diff = e.eval(complex_row(rows[i]), builtins())->re - targets[i];
        sum += diff * diff;
    }
    EXPECT_EQ(raw_error(e, rows, targets), sum / 200.0);
    rows[199][0] = kInf;  // an infinite input in the last block
    EXPECT_EQ(raw_error(e, rows, targets), kInf);
}

}  // namespace
}  // namespace kiv
