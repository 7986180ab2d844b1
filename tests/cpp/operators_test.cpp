#include <gtest/gtest.h>

#include <random>

#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

constexpr double kPiValue = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;

TEST(Operators, EdgeValuesAreExactWithSignedZerosAndUndefinedPointsAbsent) {
    struct Row {
        std::size_t op;
        std::vector<Complex> args;
        std::optional<Complex> expected;
    };
    const Row rows[] = {
        // Undefined points and their neighbours.
        {kLog, {{-0.0, -0.0}}, std::nullopt}, {kLog, {{-1, 0}}, Complex{0, kPiValue}},
        {kInv, {{0, 0}}, std::nullopt}, {kInv, {{0, 2}}, Complex{0, -0.5}},
        {kDivide, {{kNaN, kInf}, {-0.0, 0}}, std::nullopt}, {kKiv, {{5, -3}, {0, 0}}, std::nullopt},
        {kDivide, {{1, 2}, {3, 4}}, Complex{11.0 / 25.0, 2.0 / 25.0}}, {kKiv, {{0, 0}, {1, 0}}, Complex{1, 0}},
        {kArcTan, {{0, -1}}, std::nullopt},
        {kArcSin, {{1, 0}}, Complex{kHalfPi, -0.0}}, {kArcCos, {{0, 0}}, Complex{kHalfPi, 0}},
        // |z| = 0 is decided by hypot: 1e-200 squared underflows to zero, yet
        // the point is not undefined, so the division by d = 0 is carried out.
        {kInv, {{1e-200, 0}}, Complex{kInf, kNaN}}, {kLog, {{1e-320, 0}}, Complex{std::log(1e-320), 0}},
        // Arithmetic keeps signed zeros.
        {kNeg, {{0, 0}}, Complex{-0.0, -0.0}}, {kSubtract, {{0, 0}, {0, 0}}, Complex{0, 0}},
        {kCube, {{1, 2}}, Complex{-11, -2}},
        // Exp at infinities and NaN.
        {kExp, {{kInf, -0.0}}, Complex{kInf, -0.0}}, {kExp, {{kInf, kInf}}, Complex{kInf, kNaN}},
        {kExp, {{kInf, 1}}, Complex{kInf, kInf}}, {kExp, {{-kInf, kNaN}}, Complex{0, 0}},
        {kExp, {{-kInf, -1}}, Complex{0, -0.0}}, {kExp, {{kNaN, -0.0}}, Complex{kNaN, -0.0}},
        {kExp, {{kNaN, 1}}, Complex{kNaN, kNaN}},
        // Sqrt follows the signs of zero and of the real part.
        {kSqrt, {{-4, -0.0}}, Complex{0, -2}}, {kSqrt, {{-0.0, 2}}, Complex{1, 1}},
        {kSqrt, {{4, -0.0}}, Complex{2, -0.0}}, {kSqrt, {{-0.0, 0}}, Complex{0, 0}},
        {kSqrt, {{-0.0, -0.0}}, Complex{0, -0.0}}, {kSqrt, {{-kInf, -0.0}}, Complex{0, -kInf}},
        {kSqrt, {{std::copysign(kNaN, -1.0), 0}}, Complex{0, kNaN}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << builtins().meta(row.op).name << testing::PrintToString(row.args));
        const auto value = builtins().op(row.op).eval(row.args);
        ASSERT_EQ(value.has_value(), row.expected.has_value());
        if (value) {
            EXPECT_BITS_EQ(*value, *row.expected);
        }
    }
    const auto general = builtins().op(kSqrt).eval(std::vector<Complex>{{3, 4}});
    EXPECT_NEAR(general->re, 2.0, 1e-15);
    EXPECT_NEAR(general->im, 1.0, 1e-15);
}

TEST(Operators, TextsInsertArgumentsVerbatimAndConstantsIgnoreThem) {
    struct Row {
        std::size_t op;
        const char* latex;
        const char* python;
    };
    const Row rows[] = {
        {kZero, "0", "0"},          {kOne, "1", "1"},
        {kI, "i", "1j"},            {kPi, "\\pi", "np.pi"},
        {kE, "e", "np.e"},          {kKiv, "e^{a} - \\ln(b)", "(np.exp(a) - np.log(b))"},
        {kNeg, "(-(a))", "(-(a))"}, {kInv, "\\frac{1}{a}", "(1/(a))"},
        {kPlus, "a + b", "(a)+(b)"}, {kTimes, "a \\cdot b", "(a)*(b)"},
        {kSubtract, "a - b", "(a)-(b)"}, {kDivide, "\\frac{a}{b}", "((a)/(b))"},
        {kExp, "e^{a}", "np.exp(a)"}, {kLog, "\\ln(a)", "np.log(a)"},
        {kSqrt, "\\sqrt{a}", "np.sqrt(a)"}, {kSin, "\\sin(a)", "np.sin(a)"},
        {kCos, "\\cos(a)", "np.cos(a)"}, {kTan, "\\tan(a)", "np.tan(a)"},
        {kArcSin, "\\arcsin(a)", "np.arcsin(a)"}, {kArcCos, "\\arccos(a)", "np.arccos(a)"},
        {kArcTan, "\\arctan(a)", "np.arctan(a)"}, {kSquare, "{a}^2", "(a)**2"},
        {kCube, "{a}^3", "(a)**3"},
    };
    ASSERT_EQ(std::size(rows), builtins().size());
    const std::vector<std::string> args{"a", "b"};
    for (const Row& row : rows) {
        SCOPED_TRACE(builtins().meta(row.op).name);
        EXPECT_EQ(builtins().op(row.op).to_latex(args), row.latex);
        EXPECT_EQ(builtins().op(row.op).to_python(args), row.python);
    }
    EXPECT_EQ(builtins().op(kKiv).to_latex(std::vector<std::string>{"x + 1", "\\pi"}), "e^{x + 1} - \\ln(\\pi)");

    const std::pair<std::size_t, Complex> constants[] = {
        {kZero, {0, 0}}, {kOne, {1, 0}}, {kI, {0, 1}}, {kPi, {kPiValue, 0}}, {kE, {2.718281828459045, 0}}};
    for (const auto& [id, value] : constants) {
        SCOPED_TRACE(builtins().meta(id).name);
        EXPECT_EQ(builtins().op(id).to_latex({}), rows[id].latex);
        EXPECT_BITS_EQ(*builtins().op(id).eval({}), value);
        EXPECT_BITS_EQ(*builtins().op(id).eval(std::vector<Complex>{{5, 5}, {6, 6}}), value);
    }
}

TEST(Operators, TooFewArgumentsIsAnInvariantViolation) {
    for (std::uint8_t arity : {1, 2}) {
        for (std::size_t id : builtins().ids_by_arity(arity)) {
            const Operator& op = builtins().op(id);
            SCOPED_TRACE(std::string(op.name()));
            const std::vector<Complex> values(arity - 1u, Complex{1, 0});
            const std::vector<std::string> texts(arity - 1u, "a");
            EXPECT_THROW_MSG(op.eval(values), InvariantViolation, "src/ops/builtin");
            EXPECT_THROW_MSG(op.to_latex(texts), InvariantViolation, "src/ops/builtin");
            EXPECT_THROW_MSG(op.to_python(texts), InvariantViolation, "src/ops/builtin");
        }
    }
}

// The elementary rules written out literally, every libm call made; the
// library skips calls whose results it knows exactly and must agree bit for bit.
TEST(Operators, ShortcutsOnTheRealAxisMatchTheLiteralRulesBitForBit) {
    const auto at = [](std::size_t id, Complex z) { return *builtins().op(id).eval(std::span(&z, 1)); };
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> wide(-800.0, 800.0);
    std::uniform_real_distribution<double> narrow(-3.0, 3.0);
    for (int i = 0; i < 40000; ++i) {
        const double x = i % 3 == 0 ? wide(rng) : narrow(rng);
        const double specials[] = {0.0, -0.0, x, kInf, 5e-324};
        for (const double re : {x, specials[i % 5]}) {
            for (const double im : {0.0, -0.0, narrow(rng)}) {
                const Complex z{re, im};
                SCOPED_TRACE(testing::PrintToString(z));
                if (std::isfinite(re)) {
                    const double e = std::exp(re);
                    ASSERT_TRUE(SameBits(at(kExp, z), {e * std::cos(im), e * std::sin(im)}));
                }
                if (!is_zero(z)) {
                    ASSERT_TRUE(SameBits(at(kLog, z), {std::log(std::hypot(re, im)), std::atan2(im, re)}));
                }
                ASSERT_TRUE(SameBits(at(kSin, z), {std::sin(re) * std::cosh(im), std::cos(re) * std::sinh(im)}));
                ASSERT_TRUE(
                    SameBits(at(kCos, z), {std::cos(re) * std::cosh(im), -(std::sin(re) * std::sinh(im))}));
            }
        }
    }
}

}  // namespace
}  // namespace kiv
