#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "core/expression.hpp"
#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Registry ids of the builtins used below.
constexpr std::size_t kI = 2, kPi = 3, kKiv = 5, kPlus = 8, kTimes = 9, kDivide = 11, kExp = 12,
                      kSqrt = 14, kSin = 15;

const OperatorRegistry& registry() {
    static const OperatorRegistry instance = with_builtins();
    return instance;
}

Token var(std::uint8_t i) { return Token::var(i); }
Token op1(std::size_t id) { return Token::op(1, id); }
Token op2(std::size_t id) { return Token::op(2, id); }

struct EvalRow {
    const char* what;
    std::vector<Token> tokens;
    std::vector<Complex> row;
    std::optional<Complex> expected;
};

TEST(Expression, EvaluationEdgeCases) {
    const std::vector<EvalRow> rows = {
        {"empty tokens", {}, {{1, 0}}, std::nullopt},
        {"empty tokens, empty row", {}, {}, std::nullopt},
        {"Var beyond the row", {var(2)}, {{1, 0}, {2, 0}}, std::nullopt},
        {"NaN leaf passes through", {var(2)}, {{1, 0}, {2, 0}, {kNaN, 7}}, Complex{kNaN, 7}},
        {"infinite leaf passes through", {var(0)}, {{-kInf, 0}}, Complex{-kInf, 0}},
        {"huge leaf passes through", {var(0)}, {{1e300, 0}}, Complex{1e300, 0}},
        {"two values left", {var(0), var(1)}, {{1, 0}, {2, 0}}, std::nullopt},
        {"value left under the result", {var(0), var(0), op2(kPlus), var(0)}, {{1, 0}}, std::nullopt},
        {"underflow, empty stack", {op2(kPlus)}, {{1, 0}}, std::nullopt},
        {"underflow, one value", {var(0), op2(kPlus)}, {{1, 0}}, std::nullopt},
        {"Divide by zero", {var(0), var(1), op2(kDivide)}, {{1, 0}, {0, 0}}, std::nullopt},
        {"Divide beyond the bound", {var(0), var(1), op2(kDivide)}, {{1e20, 0}, {1, 0}}, std::nullopt},
        {"Divide inside the bound", {var(0), var(1), op2(kDivide)}, {{9.9e14, 0}, {1, 0}}, Complex{9.9e14, 0}},
        {"Exp at 40", {var(0), op1(kExp)}, {{40, 0}}, std::nullopt},
        {"Exp at 34", {var(0), op1(kExp)}, {{34, 0}}, Complex{std::exp(34.0), 0}},
        {"re exactly at the bound", {var(0), Token::real(0), op2(kPlus)}, {{1e15, 0}}, std::nullopt},
        {"re just below the bound", {var(0), Token::real(0), op2(kPlus)}, {{999999999999999.875, 0}},
         Complex{999999999999999.875, 0}},
        {"im at the bound", {var(0), Token::constant(kI, {0, 1}), op2(kTimes)}, {{1e15, 0}}, std::nullopt},
        {"im at minus the bound", {var(0), Token::constant(kI, {0, 1}), op2(kTimes)}, {{-1e15, 0}}, std::nullopt},
        {"non-finite operator result", {var(0), op1(kSqrt)}, {{kInf, 0}}, std::nullopt},
        {"NaN operator result", {var(0), var(0), op2(kPlus)}, {{kNaN, 0}}, std::nullopt},
        {"Real pushes (value, 0)", {Token::real(-2.5)}, {}, Complex{-2.5, 0}},
        {"Const pushes its stored value", {Token::constant(kPi, {7, -7})}, {}, Complex{7, -7}},
        {"constant operator token", {Token::op(0, kI)}, {}, Complex{0, 1}},
        {"absent operand stops evaluation", {var(0), var(1), op2(kDivide), op1(kSin)}, {{1, 0}, {0, 0}},
         std::nullopt},
    };
    for (const EvalRow& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<Complex> stack;
        const auto value = eval_internal(row.tokens, row.row, {}, registry(), stack);
        ASSERT_EQ(value.has_value(), row.expected.has_value());
        if (value) {
            EXPECT_BITS_EQ(*value, *row.expected);
        }
    }
}

TEST(Expression, UnknownOperatorIdIsAnInvariantViolation) {
    const Expression e{{Token::real(1), Token::op(1, 23)}, "?", 2, 0, 0};
    EXPECT_THROW_MSG(e.eval({}, registry()), InvariantViolation, "src/ops/registry");
}

TEST(Expression, ParamsReplaceStoredValuesBelowTheirLength) {
    const Expression c = parameter_leaf();
    EXPECT_BITS_EQ(*c.eval_with_params({}, std::vector<Complex>{{2, 0}}, registry()), (Complex{2, 0}));
    EXPECT_BITS_EQ(*c.eval_with_params({}, {}, registry()), (Complex{0.1, 0}));
    EXPECT_BITS_EQ(*c.eval({}, registry()), (Complex{0.1, 0}));

    const Expression sum = apply_binary(kPlus, parameter_leaf(), parameter_leaf(), registry());
    EXPECT_BITS_EQ(*sum.eval_with_params({}, std::vector<Complex>{{1, 0}, {2, 0}}, registry()), (Complex{3, 0}));
    // Only Param 0 is supplied; Param 1 keeps its stored 0.1.
    EXPECT_BITS_EQ(*sum.eval_with_params({}, std::vector<Complex>{{1, 0}}, registry()), (Complex{1.1, 0}));
    // Extra params are ignored.
    EXPECT_BITS_EQ(*sum.eval_with_params({}, std::vector<Complex>{{1, 0}, {2, 0}, {9, 9}}, registry()),
                   (Complex{3, 0}));
}

TEST(Expression, LeavesHaveTheirTextAndCounters) {
    const Expression v = variable_leaf(3);
    ASSERT_EQ(v.tokens.size(), 1u);
    EXPECT_EQ(v.tokens[0].kind, TokenKind::Var);
    EXPECT_EQ(v.tokens[0].index, 3);
    EXPECT_EQ(v.formula, "v_{3}");
    EXPECT_EQ(v.complexity, 1u);
    EXPECT_EQ(v.n_vars, 4);
    EXPECT_EQ(v.n_params, 0);
    EXPECT_EQ(variable_leaf(12).formula, "v_{12}");

    const Expression c = parameter_leaf();
    ASSERT_EQ(c.tokens.size(), 1u);
    EXPECT_EQ(c.tokens[0].kind, TokenKind::Param);
    EXPECT_EQ(c.tokens[0].index, 0);
    EXPECT_BITS_EQ(c.tokens[0].value, (Complex{0.1, 0}));
    EXPECT_EQ(c.formula, "C");
    EXPECT_EQ(c.complexity, 1u);
    EXPECT_EQ(c.n_vars, 0);
    EXPECT_EQ(c.n_params, 1);
}

TEST(Expression, UnaryApplicationAppendsTheOperator) {
    const Expression leaf = variable_leaf(3);
    const Expression e = apply_unary(kSin, leaf, registry());
    EXPECT_EQ(e.formula, "Sin(v_{3})");
    EXPECT_EQ(e.complexity, 2u);
    EXPECT_EQ(e.n_vars, 4);
    EXPECT_EQ(e.n_params, 0);
    ASSERT_EQ(e.tokens.size(), 2u);
    EXPECT_EQ(e.tokens[1].kind, TokenKind::Op);
    EXPECT_EQ(e.tokens[1].arity, 1);
    EXPECT_EQ(e.tokens[1].op_id, kSin);
    EXPECT_EQ(leaf.tokens.size(), 1u);
    EXPECT_EQ(leaf.formula, "v_{3}");
}

TEST(Expression, BinaryApplicationOfTwoParametersNumbersThemLeftToRight) {
    const Expression e = apply_binary(kPlus, parameter_leaf(), parameter_leaf(), registry());
    EXPECT_EQ(e.formula, "Plus(C, C)");
    EXPECT_EQ(e.complexity, 3u);
    EXPECT_EQ(e.n_params, 2);
    EXPECT_EQ(e.n_vars, 0);
    ASSERT_EQ(e.tokens.size(), 3u);
    EXPECT_EQ(e.tokens[0].kind, TokenKind::Param);
    EXPECT_EQ(e.tokens[0].index, 0);
    EXPECT_EQ(e.tokens[1].kind, TokenKind::Param);
    EXPECT_EQ(e.tokens[1].index, 1);
    EXPECT_EQ(e.tokens[2].kind, TokenKind::Op);
    EXPECT_EQ(e.tokens[2].arity, 2);
    EXPECT_EQ(e.tokens[2].op_id, kPlus);
}

TEST(Expression, NestedCompositionShiftsEveryParamOfTheSecondOperand) {
    const Expression left = apply_binary(kPlus, parameter_leaf(), parameter_leaf(), registry());
    const Expression right = apply_binary(kTimes, parameter_leaf(), variable_leaf(0), registry());
    const Expression e = apply_binary(kPlus, left, right, registry());
    EXPECT_EQ(e.formula, "Plus(Plus(C, C), Times(C, v_{0}))");
    EXPECT_EQ(e.complexity, 7u);
    EXPECT_EQ(e.n_params, 3);
    EXPECT_EQ(e.n_vars, 1);
    std::vector<int> param_indices;
    for (const Token& t : e.tokens)
        if (t.kind == TokenKind::Param) param_indices.push_back(t.index);
    EXPECT_EQ(param_indices, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(right.tokens[0].index, 0) << "operands stay unchanged";
    const std::vector<Complex> params{{1, 0}, {2, 0}, {3, 0}};
    EXPECT_BITS_EQ(*e.eval_with_params(std::vector<Complex>{{5, 0}}, params, registry()), (Complex{18, 0}));
}

TEST(Expression, FormulaUsesTheRegisteredName) {
    const Expression e =
        apply_binary(kKiv, variable_leaf(1), apply_unary(kSqrt, parameter_leaf(), registry()), registry());
    EXPECT_EQ(e.formula, "KIV(v_{1}, Sqrt(C))");
    EXPECT_EQ(e.complexity, 4u);
    EXPECT_EQ(e.n_vars, 2);
    EXPECT_EQ(e.n_params, 1);
    EXPECT_EQ(apply_binary(kPlus, variable_leaf(4), variable_leaf(1), registry()).n_vars, 5);
}

TEST(Expression, CountersBeyondEightBitsAreAnInvariantViolation) {
    EXPECT_EQ(variable_leaf(254).n_vars, 255);
    EXPECT_THROW_MSG(variable_leaf(255), InvariantViolation, "src/core/expression");

    Expression many = parameter_leaf();
    many.n_params = 255;
    EXPECT_EQ(apply_binary(kPlus, many, variable_leaf(0), registry()).n_params, 255);
    EXPECT_THROW_MSG(apply_binary(kPlus, many, parameter_leaf(), registry()), InvariantViolation,
                     "src/core/expression");
}

TEST(Expression, ReusedStackGivesTheSameValuesAsFreshEvaluation) {
    const Expression e = apply_binary(kDivide, apply_unary(kSin, variable_leaf(0), registry()), variable_leaf(1),
                                      registry());
    const std::vector<std::vector<Complex>> rows = {
        {{1, 0}, {2, 0}}, {{1, 0}, {0, 0}}, {{-3, 0}, {0.5, 0}}, {{0, 0}}, {{2, 0}, {kNaN, 0}}};
    std::vector<Complex> stack;
    for (const auto& row : rows) {
        stack.clear();
        const auto reused = eval_internal(e.tokens, row, {}, registry(), stack);
        EXPECT_BITS_EQ(or_absent(reused), or_absent(e.eval(row, registry())));
    }
}

}  // namespace
}  // namespace kiv
