#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "batch_eval.hpp"
#include "core/expression.hpp"

namespace kiv {
namespace {

std::size_t id_of(const OperatorRegistry& registry, std::string_view name) {
    for (std::size_t id = 0; id < registry.size(); ++id)
        if (registry.meta(id).name == name) return id;
    return registry.size();
}

// "Plus(Log(v_{0}), v_{1})": reads two columns and has a complex branch.
SearchResult log_plus_result() {
    auto registry = std::make_shared<const OperatorRegistry>(with_builtins());
    const Expression log_x = apply_unary(id_of(*registry, "Log"), variable_leaf(0), *registry);
    Expression e = apply_binary(id_of(*registry, "Plus"), log_x, variable_leaf(1), *registry);
    return SearchResult{std::move(e), std::move(registry), 0.0};
}

TEST(BatchEval, EachRowEqualsSingleRowEvaluation) {
    const SearchResult result = log_plus_result();
    const std::vector<std::vector<double>> rows = {
        {1.0, 2.0}, {-1.0, 0.5}, {0.0, 1.0}, {3.0}, {}, {2.0, 1.0, 99.0}, {NAN, 1.0},
    };
    const std::vector<double> values = eval_rows(result, rows);
    ASSERT_EQ(values.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const double single = result.eval_multi(rows[i]);
        if (std::isnan(single))
            EXPECT_TRUE(std::isnan(values[i]));
        else
            EXPECT_EQ(values[i], single);
    }
}

TEST(BatchEval, RealPartOrNaNPerRow) {
    const SearchResult result = log_plus_result();
    const std::vector<double> values = eval_rows(result, {{1.0, 2.0}, {-1.0, 0.5}, {3.0}, {0.0, 1.0}});
    EXPECT_EQ(values[0], 2.0);
    EXPECT_EQ(values[1], 0.5);        // real part of log(-1) is 0
    EXPECT_TRUE(std::isnan(values[2]));  // missing column
    EXPECT_TRUE(std::isnan(values[3]));  // log(0) has no value
}

TEST(BatchEval, NoRowsGiveNoValues) {
    EXPECT_TRUE(eval_rows(log_plus_result(), {}).empty());
}

}  // namespace
}  // namespace kiv
