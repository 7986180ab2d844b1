#include "core/expression.hpp"

#include <gtest/gtest.h>

#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

Token var(std::uint8_t i) { return Token::var(i); }
Token op1(std::size_t id) { return Token::op(1, id); }
Token op2(std::size_t id) { return Token::op(2, id); }

TEST(Expression, EvaluationEdgeCases) {
    struct Row {
        const char* what;
        std::vector<Token> tokens;
        std::vector<Complex> row;
        std::optional<Complex> expected;
    };
    const Row rows[] = {
        {"empty tokens", {}, {{1, 0}}, std::nullopt},
        {"Var beyond the row", {var(2)}, {{1, 0}, {2, 0}}, std::nullopt},
        {"NaN leaf passes through", {var(2)}, {{1, 0}, {2, 0}, {kNaN, 7}}, Complex{kNaN, 7}},
        {"two values left", {var(0), var(1)}, {{1, 0}, {2, 0}}, std::nullopt},
        {"underflow", {var(0), op2(kPlus)}, {{1, 0}}, std::nullopt},
        {"Exp at 40", {var(0), op1(kExp)}, {{40, 0}}, std::nullopt},
        {"Exp at 34", {var(0), op1(kExp)}, {{34, 0}}, Complex{std::exp(34.0), 0}},
        {"re exactly at the bound", {var(0), Token::real(0), op2(kPlus)}, {{1e15, 0}}, std::nullopt},
        {"re just below the bound", {var(0), Token::real(0), op2(kPlus)}, {{999999999999999.875, 0}},
         Complex{999999999999999.875, 0}},
        {"im at minus the bound", {var(0), Token::constant(kI, {0, 1}), op2(kTimes)}, {{-1e15, 0}}, std::nullopt},
        {"non-finite operator result", {var(0), op1(kSqrt)}, {{kInf, 0}}, std::nullopt},
        {"Const pushes its stored value", {Token::constant(kPi, {7, -7})}, {}, Complex{7, -7}},
        {"constant operator token", {Token::op(0, kI)}, {}, Complex{0, 1}},
        {"absent operand stops evaluation", {var(0), var(1), op2(kDivide), op1(kSin)}, {{1, 0}, {0, 0}},
         std::nullopt},
    };
    std::vector<Complex> stack;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        stack.clear();
        const auto value = eval_internal(row.tokens, row.row, {}, builtins(), stack);
        ASSERT_EQ(value.has_value(), row.expected.has_value());
        if (value) {
            EXPECT_BITS_EQ(*value, *row.expected);
        }
    }
}

TEST(Expression, CompositionNumbersParamsLeftToRightAndParamsReplaceStoredValuesBelowTheirLength) {
    const Expression right = binary(kTimes, parameter_leaf(), variable_leaf(0));
    const Expression e = binary(kPlus, binary(kPlus, parameter_leaf(), parameter_leaf()), right);
    EXPECT_EQ(e.formula, "Plus(Plus(C, C), Times(C, v_{0}))");
    EXPECT_EQ(e.complexity, 7u);
    EXPECT_EQ(e.n_params, 3);
    std::vector<int> param_indices;
    for (const Token& t : e.tokens)
        if (t.kind == TokenKind::Param) param_indices.push_back(t.index);
    EXPECT_EQ(param_indices, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(right.tokens[0].index, 0) << "operands stay unchanged";
    const std::vector<Complex> x{{5, 0}};
    const auto with = [&](std::vector<Complex> params) { return *e.eval_with_params(x, params, builtins()); };
    EXPECT_BITS_EQ(with({{1, 0}, {2, 0}, {3, 0}, {9, 9}}), (Complex{18, 0}));
    EXPECT_BITS_EQ(with({{1, 0}}), (Complex{(1 + 0.1) + 0.1 * 5, 0}));  // the others keep their stored 0.1
    EXPECT_BITS_EQ(*e.eval(x, builtins()), (Complex{(0.1 + 0.1) + 0.1 * 5, 0}));
    const Expression k = binary(kKiv, variable_leaf(4), unary(kSqrt, variable_leaf(1)));
    EXPECT_EQ(k.formula, "KIV(v_{4}, Sqrt(v_{1}))");
    EXPECT_EQ(k.n_vars, 5);
}

TEST(Expression, BrokenOperatorIdsAndCountersBeyondEightBitsAreInvariantViolations) {
    const Expression unknown{{Token::real(1), Token::op(1, 23)}, "?", 2, 0, 0};
    EXPECT_THROW_MSG(unknown.eval({}, builtins()), InvariantViolation, "src/ops/registry");

    EXPECT_EQ(variable_leaf(254).n_vars, 255);
    EXPECT_THROW_MSG(variable_leaf(255), InvariantViolation, "src/core/expression");
    Expression many = parameter_leaf();
    many.n_params = 255;
    EXPECT_EQ(binary(kPlus, many, variable_leaf(0)).n_params, 255);
    EXPECT_THROW_MSG(binary(kPlus, many, parameter_leaf()), InvariantViolation, "src/core/expression");
}

}  // namespace
}  // namespace kiv
