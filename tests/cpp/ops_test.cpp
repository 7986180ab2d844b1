// Operators and their registry: ids, arities, point rules at their edges and
// branch cuts (bit for bit, signed zeros included) and formula texts.
#include <array>
#include <random>

#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

constexpr double kPiValue = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;

TEST(Registry, BuiltinsInRegistrationOrderWithTextsArityAndCommutativityAndNoFewerArguments) {
    const std::array<const char*, 3> rows[] = {  // name, LaTeX and Python of the arguments a and b
        {"0", "0", "0"}, {"1", "1", "1"}, {"I", "i", "1j"}, {"Pi", "\\pi", "np.pi"}, {"E", "e", "np.e"},
        {"KIV", "e^{a} - \\ln(b)", "(np.exp(a) - np.log(b))"}, {"Neg", "(-(a))", "(-(a))"},
        {"Inv", "\\frac{1}{a}", "(1/(a))"}, {"Plus", "a + b", "(a)+(b)"}, {"Times", "a \\cdot b", "(a)*(b)"},
        {"Subtract", "a - b", "(a)-(b)"}, {"Divide", "\\frac{a}{b}", "((a)/(b))"}, {"Exp", "e^{a}", "np.exp(a)"},
        {"Log", "\\ln(a)", "np.log(a)"}, {"Sqrt", "\\sqrt{a}", "np.sqrt(a)"}, {"Sin", "\\sin(a)", "np.sin(a)"},
        {"Cos", "\\cos(a)", "np.cos(a)"}, {"Tan", "\\tan(a)", "np.tan(a)"},
        {"ArcSin", "\\arcsin(a)", "np.arcsin(a)"}, {"ArcCos", "\\arccos(a)", "np.arccos(a)"},
        {"ArcTan", "\\arctan(a)", "np.arctan(a)"}, {"Square", "{a}^2", "(a)**2"}, {"Cube", "{a}^3", "(a)**3"},
    };
    ASSERT_EQ(builtins().size(), std::size(rows));
    const std::vector<std::string> args{"a", "b"};
    for (std::size_t id = 0; id < std::size(rows); ++id) {
        SCOPED_TRACE(rows[id][0]);
        const Operator& op = builtins().op(id);
        EXPECT_EQ(builtins().meta(id).name, rows[id][0]);
        EXPECT_EQ(op.name(), rows[id][0]);
        EXPECT_EQ(op.to_latex(args), rows[id][1]);
        EXPECT_EQ(op.to_python(args), rows[id][2]);
        EXPECT_EQ(builtins().meta(id).arity, op.arity());
        EXPECT_EQ(builtins().meta(id).commutative, id == kPlus || id == kTimes);
        if (op.arity() == 0) continue;
        const std::vector<Complex> too_few(op.arity() - 1, Complex{1, 0});
        const std::vector<std::string> texts(op.arity() - 1, "a");
        EXPECT_THROW_MSG(op.eval(too_few), InvariantViolation, "src/ops/builtin");
        EXPECT_THROW_MSG(op.to_latex(texts), InvariantViolation, "src/ops/builtin");
        EXPECT_THROW_MSG(op.to_python(texts), InvariantViolation, "src/ops/builtin");
    }
    EXPECT_EQ(builtins().op(kKiv).to_latex(std::vector<std::string>{"x + 1", "\\pi"}), "e^{x + 1} - \\ln(\\pi)");
    EXPECT_EQ(builtins().ids_by_arity(0), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(builtins().ids_by_arity(1), (std::vector<std::size_t>{6, 7, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22}));
    EXPECT_EQ(builtins().ids_by_arity(2), (std::vector<std::size_t>{5, 8, 9, 10, 11}));
    EXPECT_TRUE(builtins().ids_by_arity(3).empty());
    EXPECT_EQ(builtins().op(kI).debug_text(),
              "ConstOp { name: \"I\", latex: \"i\", python: \"1j\", value: Complex { re: 0, im: 1 } }");
}

// Reports an arity that does not fit in the meta's 8 bits.
struct WideOperator final : Operator {
    std::string_view name() const override { return "Plus"; }
    unsigned arity() const override { return 258; }
    std::optional<Complex> eval(std::span<const Complex>) const override { return Complex{}; }
    std::string to_latex(std::span<const std::string>) const override { return ""; }
    std::string to_python(std::span<const std::string>) const override { return ""; }
    std::string debug_text() const override { return "WideOperator"; }
};

TEST(Registry, UnknownIdsFailAndRegistrationAddsIdsWithLowArityBitsAndAnyName) {
    EXPECT_THROW_MSG(builtins().op(23), InvariantViolation, "src/ops/registry");
    EXPECT_THROW_MSG(builtins().meta(23), InvariantViolation, "src/ops/registry");
    OperatorRegistry registry = with_builtins();
    registry.register_operator(std::make_unique<WideOperator>());
    registry.register_operator(std::make_unique<ConstOp>("Two", "2", "2", Complex{2.0, 0.0}));
    EXPECT_EQ(registry.meta(23).arity, 2);
    EXPECT_EQ(registry.meta(23).name, "Plus");
    EXPECT_FALSE(registry.meta(23).commutative);
    EXPECT_EQ(registry.ids_by_arity(2).back(), 23u);
    EXPECT_EQ(registry.meta(24).name, "Two");
    EXPECT_EQ(registry.ids_by_arity(0).back(), 24u);
}

TEST(Operators, EdgeValuesAreExactWithSignedZerosAndUndefinedPointsAbsent) {
    struct Row {
        std::size_t op;
        std::vector<Complex> args;
        std::optional<Complex> expected;
    };
    const Row rows[] = {
        // Undefined points and their neighbours; constants ignore their arguments.
        {kLog, {{-0.0, -0.0}}, std::nullopt}, {kLog, {{-1, 0}}, Complex{0, kPiValue}},
        {kInv, {{0, 0}}, std::nullopt}, {kInv, {{0, 2}}, Complex{0, -0.5}},
        {kDivide, {{kNaN, kInf}, {-0.0, 0}}, std::nullopt}, {kKiv, {{5, -3}, {0, 0}}, std::nullopt},
        {kDivide, {{1, 2}, {3, 4}}, Complex{11.0 / 25.0, 2.0 / 25.0}}, {kKiv, {{0, 0}, {1, 0}}, Complex{1, 0}},
        {kArcTan, {{0, -1}}, std::nullopt},
        {kArcSin, {{1, 0}}, Complex{kHalfPi, -0.0}}, {kArcCos, {{0, 0}}, Complex{kHalfPi, 0}},
        {kZero, {}, Complex{0, 0}}, {kOne, {{5, 5}}, Complex{1, 0}}, {kI, {}, Complex{0, 1}},
        {kPi, {{5, 5}, {6, 6}}, Complex{kPiValue, 0}}, {kE, {}, Complex{2.718281828459045, 0}},
        // |z| = 0 is decided by hypot: 1e-200 squared underflows to zero, yet
        // the point is not undefined, so the division by d = 0 is carried out.
        {kInv, {{1e-200, 0}}, Complex{kInf, kNaN}}, {kLog, {{1e-320, 0}}, Complex{std::log(1e-320), 0}},
        // Arithmetic keeps signed zeros.
        {kNeg, {{0, 0}}, Complex{-0.0, -0.0}}, {kSubtract, {{0, 0}, {0, 0}}, Complex{0, 0}},
        {kCube, {{1, 2}}, Complex{-11, -2}}, {kSquare, {{1, 2}}, Complex{-3, 4}},
        {kPlus, {{1, -0.0}, {2, -0.0}}, Complex{3, -0.0}}, {kTimes, {{1, 2}, {3, 4}}, Complex{-5, 10}},
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
        EXPECT_TRUE(SameBits(builtins().op(row.op).eval(row.args), row.expected));
    }
    const auto general = builtins().op(kSqrt).eval(std::vector<Complex>{{3, 4}});
    EXPECT_NEAR(general->re, 2.0, 1e-15);
    EXPECT_NEAR(general->im, 1.0, 1e-15);
}

// The elementary rules written out literally, every libm call made; the
// library skips calls whose results it knows exactly and must agree bit for bit.
TEST(Operators, ShortcutsOnTheRealAxisMatchTheLiteralRulesBitForBit) {
    const auto same = [](std::size_t id, Complex z, double re, double im) {
        return SameBits(builtins().op(id).eval(std::span(&z, 1)), Complex{re, im});
    };
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> wide(-800.0, 800.0), narrow(-3.0, 3.0);
    for (int i = 0; i < 10000; ++i) {
        const double x = i % 3 == 0 ? wide(rng) : narrow(rng);
        const double specials[] = {0.0, -0.0, x, kInf, 5e-324};
        for (const double re : {x, specials[i % 5]}) {
            for (const double im : {0.0, -0.0, narrow(rng)}) {
                const Complex z{re, im};
                SCOPED_TRACE(testing::PrintToString(z));
                const double e = std::exp(re);
                ASSERT_TRUE(!std::isfinite(re) || same(kExp, z, e * std::cos(im), e * std::sin(im)));
                ASSERT_TRUE(is_zero(z) || same(kLog, z, std::log(std::hypot(re, im)), std::atan2(im, re)));
                ASSERT_TRUE(same(kSin, z, std::sin(re) * std::cosh(im), std::cos(re) * std::sinh(im)));
                ASSERT_TRUE(same(kCos, z, std::cos(re) * std::cosh(im), -(std::sin(re) * std::sinh(im))));
            }
        }
    }
}

}  // namespace
}  // namespace kiv
