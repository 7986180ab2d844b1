// The token order: kinds first (const < op < real), then registry names, and
// reals by their shortest decimal text, so 10 comes before 2; strict and total.
#include <vector>

#include "engine/token_order.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

TEST(TokenOrder, KindThenTextDecidesAtTheFirstDifference) {
    const Expression two = real_leaf(2.0), pi = const_leaf(kPi);
    // Each row: a before b.
    const std::vector<std::pair<Expression, Expression>> rows{
        {const_leaf(kE), pi},
        {pi, two},
        {real_leaf(10.0), two},
        {two, real_leaf(2.5)},
        {unary(kNeg, two), unary(kSqrt, two)},
        {unary(kSqrt, pi), unary(kNeg, two)},
        {binary(kPlus, two, pi), binary(kPlus, two, two)},
    };
    for (const auto& [a, b] : rows) {
        SCOPED_TRACE(a.formula + " before " + b.formula);
        EXPECT_TRUE(tokens_before(a.tokens, b.tokens, builtins()));
        EXPECT_FALSE(tokens_before(b.tokens, a.tokens, builtins()));
        EXPECT_FALSE(tokens_before(a.tokens, a.tokens, builtins()));
    }
}

}  // namespace
}  // namespace kiv
