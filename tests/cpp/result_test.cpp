#include "result.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "test_util.hpp"

namespace kiv {
namespace {

TEST(SearchResultEvalMulti, RealPartAtPointOrNaNWhereUndefined) {
    const RegistryHandle registry = std::make_shared<const OperatorRegistry>(with_builtins());
    struct Row {
        const char* name;
        Expression expression;
        std::vector<double> x;
        double expected;
    };
    const Row rows[] = {
        {"sum of both columns", binary(kPlus, variable_leaf(0), variable_leaf(1)), {1.0, 2.0}, 3.0},
        {"missing column", binary(kPlus, variable_leaf(0), variable_leaf(1)), {1.0}, kNaN},
        {"fitted constant is used", binary(kTimes, param_leaf({2.5, 0.0}), variable_leaf(0)), {2.0}, 5.0},
        {"imaginary part is dropped", unary(kLog, variable_leaf(0)), {-1.0}, 0.0},
        {"operator undefined", unary(kLog, variable_leaf(0)), {0.0}, kNaN},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(same_bits(SearchResult{row.expression, registry, 0.0}.eval_multi(row.x), row.expected));
    }
}

}  // namespace
}  // namespace kiv
