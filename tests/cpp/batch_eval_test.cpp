#include "batch_eval.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "test_util.hpp"

namespace kiv {
namespace {

TEST(BatchEval, EachRowEqualsSingleRowEvaluation) {
    // "Plus(Log(v_{0}), v_{1})": reads two columns and has a complex branch.
    const SearchResult result{binary(kPlus, unary(kLog, variable_leaf(0)), variable_leaf(1)),
                              std::make_shared<const OperatorRegistry>(with_builtins()), 0.0};
    const std::vector<std::vector<double>> rows = {
        {1.0, 2.0}, {-1.0, 0.5}, {0.0, 1.0}, {3.0}, {}, {2.0, 1.0, 99.0}, {kNaN, 1.0},
    };
    const std::vector<double> values = eval_rows(result, rows);
    ASSERT_EQ(values.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_TRUE(same_bits(values[i], result.eval_multi(rows[i]))) << i;
    EXPECT_EQ(values[1], 0.5);  // real part of log(-1) is 0
    EXPECT_TRUE(eval_rows(result, {}).empty());
}

}  // namespace
}  // namespace kiv
