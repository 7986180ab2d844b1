#include "result.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "ops/registry.hpp"

namespace kiv {
namespace {

constexpr std::size_t kPlus = 8, kTimes = 9, kLog = 13;

TEST(SearchResultEvalMulti, RealPartAtPointOrNaNWhereUndefined) {
    const RegistryHandle registry = std::make_shared<const OperatorRegistry>(with_builtins());
    Expression scaled = apply_binary(kTimes, parameter_leaf(), variable_leaf(0), *registry);
    scaled.tokens[0].value = {2.5, 0.0};
    struct Row {
        const char* name;
        Expression expression;
        std::vector<double> x;
        double expected;
    };
    const Row rows[] = {
        {"sum of both columns", apply_binary(kPlus, variable_leaf(0), variable_leaf(1), *registry), {1.0, 2.0}, 3.0},
        {"missing column", apply_binary(kPlus, variable_leaf(0), variable_leaf(1), *registry), {1.0}, std::nan("")},
        {"fitted constant is used", scaled, {2.0}, 5.0},
        {"imaginary part is dropped", apply_unary(kLog, variable_leaf(0), *registry), {-1.0}, 0.0},
        {"operator undefined", apply_unary(kLog, variable_leaf(0), *registry), {0.0}, std::nan("")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SearchResult result{row.expression, registry, 0.0};
        const double value = result.eval_multi(row.x);
        if (std::isnan(row.expected))
            EXPECT_TRUE(std::isnan(value)) << value;
        else
            EXPECT_EQ(value, row.expected);
    }
}

}  // namespace
}  // namespace kiv
