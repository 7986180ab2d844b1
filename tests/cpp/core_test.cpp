// Expressions: composition, row-by-row evaluation, number texts, rendering
// and the semantic fingerprint.
#include "core/number_text.hpp"
#include "core/render.hpp"
#include "core/signature.hpp"
#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

Token var(std::uint8_t i) { return Token::var(i); }
Token op1(std::size_t id) { return Token::op(1, id); }
Token op2(std::size_t id) { return Token::op(2, id); }
Expression V(std::uint8_t column) { return variable_leaf(column); }
Expression C(double value) { return param_leaf({value, 0.0}); }
Expression from_tokens(std::vector<Token> tokens) { return {tokens, "", tokens.size(), 0, 0}; }

// A value is absent where evaluation fails or leaves the bound; leaves pass through unchecked.
TEST(Expression, EvaluationEdgeCases) {
    const std::vector<Complex> one{{1, 0}}, one_two{{1, 0}, {2, 0}};
    const auto none = std::nullopt;
    const std::tuple<const char*, std::vector<Token>, std::vector<Complex>, std::optional<Complex>> rows[] = {
        {"empty tokens", {}, one, none},
        {"Var beyond the row", {var(2)}, one_two, none},
        {"NaN leaf passes through", {var(2)}, {{1, 0}, {2, 0}, {kNaN, 7}}, Complex{kNaN, 7}},
        {"two values left", {var(0), var(1)}, one_two, none},
        {"underflow", {var(0), op2(kPlus)}, one, none},
        {"Exp at 40", {var(0), op1(kExp)}, {{40, 0}}, none},
        {"Exp at 34", {var(0), op1(kExp)}, {{34, 0}}, Complex{std::exp(34.0), 0}},
        {"re exactly at the bound", {var(0), Token::real(0), op2(kPlus)}, {{1e15, 0}}, none},
        {"re just below the bound",
         {var(0), Token::real(0), op2(kPlus)},
         {{999999999999999.875, 0}},
         Complex{999999999999999.875, 0}},
        {"im at minus the bound", {var(0), Token::constant(kI, {0, 1}), op2(kTimes)}, {{-1e15, 0}}, none},
        {"non-finite operator result", {var(0), op1(kSqrt)}, {{kInf, 0}}, none},
        {"Const pushes its stored value", {Token::constant(kPi, {7, -7})}, {}, Complex{7, -7}},
        {"absent operand stops evaluation", {var(0), var(1), op2(kDivide), op1(kSin)}, {{1, 0}, {0, 0}}, none},
    };
    std::vector<Complex> stack;
    for (const auto& [name, tokens, row, expected] : rows) {
        stack.clear();
        EXPECT_TRUE(SameBits(eval_internal(tokens, row, {}, builtins(), stack), expected)) << name;
    }
}

// Params are numbered left to right (the values below pin (1 + 2) + 3 * 5)
// and replace stored values below their length; fixed leaves read as their
// name or number text. Broken operator references, an operator taken for a
// constant and columns beyond 8 bits are invariant violations.
TEST(Expression, CompositionNumbersParamsLeftToRightAndChecksItsLimits) {
    const Expression right = binary(kTimes, parameter_leaf(), V(0));
    const Expression e = binary(kPlus, binary(kPlus, parameter_leaf(), parameter_leaf()), right);
    const std::vector<Complex> x{{5, 0}};
    const auto with = [&](std::vector<Complex> params) { return e.eval_with_params(x, params, builtins()); };
    EXPECT_TRUE(SameBits(with({{1, 0}, {2, 0}, {3, 0}, {9, 9}}), Complex{18, 0}));
    EXPECT_TRUE(SameBits(with({{1, 0}}), Complex{(1 + 0.1) + 0.1 * 5, 0}));  // the others keep their stored 0.1
    EXPECT_TRUE(SameBits(e.eval(x, builtins()), Complex{(0.1 + 0.1) + 0.1 * 5, 0}));
    EXPECT_EQ(binary(kKiv, V(254), unary(kSqrt, V(1))).n_vars, 255);
    EXPECT_THROW_MSG(V(255), InvariantViolation, "src/core/expression");
    EXPECT_EQ(binary(kTimes, const_leaf(kPi), real_leaf(-2.5)).formula, "Times(Pi, -2.5000)");
    EXPECT_THROW_MSG(constant_leaf(kSin, builtins()), InvariantViolation, "src/core/expression");
    EXPECT_THROW_MSG(from_tokens({var(0), op1(23)}).eval(x, builtins()), InvariantViolation, "src/ops/registry");
    for (const auto& tokens : {std::vector<Token>{var(0), op1(99)}, std::vector<Token>{var(0), op2(kPlus)}}) {
        EXPECT_THROW(to_latex(from_tokens(tokens), builtins()), InvariantViolation);
        EXPECT_THROW(to_python(from_tokens(tokens), builtins()), InvariantViolation);
    }
}

// Correctly rounded from the binary value, ties to even, the sign bit kept.
TEST(NumberText, FixedAndExponentTexts) {
    const std::tuple<double, const char*, const char*> rows[] = {
        // value, fixed text, exponent text
        {0.0, "0.0000", "0.000000e0"},
        {-0.0, "-0.0000", "-0.000000e0"},
        {-1.23456, "-1.2346", "-1.234560e0"},
        {0.03125, "0.0312", "3.125000e-2"},
        {0.09375, "0.0938", "9.375000e-2"},  // fixed ties
        {0.00005, "0.0001", "5.000000e-5"},  // just above the tie in binary
        {-0.00001, "-0.0000", "-1.000000e-5"},
        {1e20, "100000000000000000000.0000", "1.000000e20"},
        {12345685.0, "12345685.0000", "1.234568e7"},
        {12345675.0, "12345675.0000", "1.234568e7"},  // ties
        {1.5e-300, "0.0000", "1.500000e-300"},
        {-kInf, "-inf", "-inf"},
        {-kNaN, "NaN", "NaN"},
    };
    for (const auto& [value, fixed, exponent] : rows) {
        EXPECT_EQ(fixed4_text(value), fixed) << value;
        EXPECT_EQ(exponent_text(value), exponent) << value;
    }
}

// LaTeX groups an operand where precedence requires; Python encloses every
// operand. Texts left below the top are dropped.
TEST(Render, LeavesNumbersAndGroupingWherePrecedenceRequires) {
    const std::pair<Expression, const char*> rows[] = {
        {Expression{}, ""},
        {from_tokens({var(0), var(1)}), "v_{1}"},
        {C(-1.23456), "-1.2346"},
        {from_tokens({Token::constant(kPi, {}), Token::constant(kI, {}), op2(kTimes)}), "\\pi \\cdot i"},
        {from_tokens({Token::real(2.5), Token::constant(kE, {}), op2(kSubtract)}), "2.5000 - e"},
        {binary(kTimes, binary(kPlus, V(0), V(1)), V(2)), "\\left(v_{0} + v_{1}\\right) \\cdot v_{2}"},
        {binary(kTimes, V(0), binary(kSubtract, V(1), V(2))), "v_{0} \\cdot \\left(v_{1} - v_{2}\\right)"},
        {binary(kTimes, binary(kKiv, V(0), V(1)), V(2)), "\\left(e^{v_{0}} - \\ln(v_{1})\\right) \\cdot v_{2}"},
        {binary(kSubtract, V(0), binary(kSubtract, V(1), V(2))), "v_{0} - \\left(v_{1} - v_{2}\\right)"},
        {binary(kSubtract, V(0), binary(kPlus, V(1), V(2))), "v_{0} - \\left(v_{1} + v_{2}\\right)"},
        {binary(kSubtract, binary(kSubtract, V(0), V(1)), V(2)), "v_{0} - v_{1} - v_{2}"},
        {binary(kPlus, V(0), binary(kSubtract, V(1), V(2))), "v_{0} + v_{1} - v_{2}"},
        {binary(kTimes, V(0), C(-2.0)), "v_{0} \\cdot -2.0000"},
        {binary(kDivide, binary(kPlus, V(0), V(1)), V(2)), "\\frac{v_{0} + v_{1}}{v_{2}}"},
        {unary(kCube, binary(kTimes, V(0), V(1))), "{\\left(v_{0} \\cdot v_{1}\\right)}^3"},
        {unary(kSquare, unary(kExp, V(0))), "{\\left(e^{v_{0}}\\right)}^2"},
        {unary(kSquare, C(-1.5)), "{\\left(-1.5000\\right)}^2"},
        {unary(kSquare, unary(kNeg, V(0))), "{(-(v_{0}))}^2"}};
    for (const auto& [expression, latex] : rows) EXPECT_EQ(to_latex(expression, builtins()), latex);
    const Expression python = binary(kSubtract, from_tokens({Token::constant(kPi, {})}), binary(kPlus, V(1), C(-1.5)));
    EXPECT_EQ(to_python(unary(kSquare, python), builtins()), "((np.pi)-((v_{1})+(-1.5000)))**2");
}

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max(), kMin = std::numeric_limits<std::int64_t>::min();

std::optional<Fingerprint> fp(const Expression& e) { return fingerprint(e, builtins()); }

// The double v nearest to target / 1e10 whose product v * 1e10 is exactly
// `target`, so that quantisation sees an exact half.
double with_exact_product(double target) {
    double v = target / 1e10;
    for (int step = 0; step < 64 && v * 1e10 != target; ++step) v = std::nextafter(v, v * 1e10 < target ? kInf : -kInf);
    EXPECT_EQ(v * 1e10, target) << "no double with that exact product";
    return v;
}

TEST(Fingerprint, LeavesGiveTheQuantisedSamplePointsUndefinedValuesNoneAndNearValuesTheSame) {
    EXPECT_EQ(fp(V(0)), (Fingerprint{5772156649, 0, 12824271291, 1000000000, 16180339887, 0, 6931471806, 1000000000,
                                     12020569032, 0}));
    // Columns rotate the real parts; odd samples' imaginary parts grow with the column.
    EXPECT_EQ(fp(V(1)), (Fingerprint{12824271291, 0, 16180339887, 2000000000, 6931471806, 0, 12020569032, 2000000000,
                                     5772156649, 0}));
    EXPECT_EQ(fp(parameter_leaf()),
              (Fingerprint{1000000000, 0, 1000000000, 0, 1000000000, 0, 1000000000, 0, 1000000000, 0}));
    // Exp(Exp(Exp(v_0))) leaves the bound at the third sample only.
    EXPECT_FALSE(fp(unary(kLog, binary(kSubtract, V(0), V(0)))).has_value());
    EXPECT_FALSE(fp(unary(kExp, unary(kExp, unary(kExp, V(0))))).has_value());
    for (const Complex leaf : {Complex{kNaN, 0}, Complex{0, kNaN}, Complex{kInf, 0}, Complex{1e15, 0}, {0, -1e15}})
        EXPECT_FALSE(fp(param_leaf(leaf)).has_value()) << testing::PrintToString(leaf);
    // Equal values, and values within half a quantum, share a fingerprint.
    EXPECT_EQ(fp(binary(kPlus, V(0), V(1))), fp(binary(kPlus, V(1), V(0))));
    EXPECT_NE(fp(binary(kSubtract, V(0), V(1))), fp(binary(kSubtract, V(1), V(0))));
    EXPECT_EQ(fp(unary(kNeg, unary(kNeg, V(0)))), fp(V(0)));
    // v0's scaled sample values have fractions .015, .006, .499, .599, .596:
    // a shift of 0.001 quanta crosses no rounding boundary, 1 quantum does.
    EXPECT_EQ(fp(binary(kPlus, V(0), real_leaf(1e-13))), fp(V(0)));
    EXPECT_NE(fp(binary(kPlus, V(0), real_leaf(1e-10))), fp(V(0)));
    EXPECT_EQ(fp(real_leaf(0.1e-10)), fp(real_leaf(-0.3e-10)));
    EXPECT_NE(fp(real_leaf(0.3e-10)), fp(real_leaf(0.7e-10)));
}

TEST(Fingerprint, QuantaRoundHalfAwayFromZeroAndClampToTheIntegerRange) {
    const std::pair<double, std::int64_t> rows[] = {
        {with_exact_product(0.5), 1},
        {with_exact_product(2.5), 3},
        {with_exact_product(1234567.5), 1234568},
        {with_exact_product(0.25), 0},
        {with_exact_product(0.75), 1},
        {1e9, kMax},
        {9.99e14, kMax},
        {with_exact_product(0x1p63), kMax},
        {922337203.0, 9223372030000000000},
    };
    for (const auto& [value, expected] : rows) {
        SCOPED_TRACE(value);
        const auto f = fp(param_leaf({value, -value}));
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ((*f)[0], expected);
        EXPECT_EQ((*f)[1], expected == kMax ? kMin : -expected);
    }
}

}  // namespace
}  // namespace kiv
