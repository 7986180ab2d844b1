#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "invariant.hpp"
#include "ops/builtin.hpp"
#include "ops/complex.hpp"
#include "ops/registry.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;

const OperatorRegistry& registry() {
    static const OperatorRegistry instance = with_builtins();
    return instance;
}

// The registered operator whose recorded name is `name`.
const Operator& op_named(std::string_view name) {
    for (std::size_t id = 0; id < registry().size(); ++id)
        if (registry().meta(id).name == name) return registry().op(id);
    throw std::invalid_argument("no operator " + std::string(name));
}

struct EvalRow {
    const char* op;
    std::vector<Complex> args;
    std::optional<Complex> expected;
};

void expect_rows(const std::vector<EvalRow>& rows) {
    for (const EvalRow& row : rows) {
        SCOPED_TRACE(testing::Message() << row.op << testing::PrintToString(row.args));
        const auto value = op_named(row.op).eval(row.args);
        ASSERT_EQ(value.has_value(), row.expected.has_value());
        if (value) {
            EXPECT_BITS_EQ(*value, *row.expected);
        }
    }
}

TEST(Operators, UndefinedPointsAreAbsentAndNeighboursAreExact) {
    expect_rows({
        {"Log", {{0, 0}}, std::nullopt},
        {"Log", {{-0.0, -0.0}}, std::nullopt},
        {"Log", {{-1, 0}}, Complex{0, kPi}},
        {"Log", {{1, 0}}, Complex{0, 0}},
        {"Inv", {{0, 0}}, std::nullopt},
        {"Inv", {{-0.0, -0.0}}, std::nullopt},
        {"Inv", {{0, 2}}, Complex{0, -0.5}},
        {"Divide", {{1, 2}, {0, 0}}, std::nullopt},
        {"Divide", {{0, 0}, {0, 0}}, std::nullopt},
        {"Divide", {{kNaN, kInf}, {-0.0, 0}}, std::nullopt},
        {"Divide", {{0, 0}, {1, 0}}, Complex{0, 0}},
        {"Divide", {{1, 2}, {3, 4}}, Complex{11.0 / 25.0, 2.0 / 25.0}},
        {"KIV", {{0, 0}, {1, 0}}, Complex{1, 0}},
        {"KIV", {{0, 0}, {0, 0}}, std::nullopt},
        {"KIV", {{5, -3}, {0, 0}}, std::nullopt},
        {"KIV", {{kNaN, kNaN}, {-0.0, -0.0}}, std::nullopt},
        {"ArcTan", {{0, 1}}, std::nullopt},
        {"ArcTan", {{0, -1}}, std::nullopt},
        {"ArcTan", {{0, 0}}, Complex{0, 0}},
        {"ArcSin", {{0, 0}}, Complex{0.0, -0.0}},
        {"ArcSin", {{1, 0}}, Complex{kHalfPi, -0.0}},
        {"ArcCos", {{1, 0}}, Complex{0, 0}},
        {"ArcCos", {{0, 0}}, Complex{kHalfPi, 0}},
    });
}

// |z| = 0 is decided by hypot: 1e-200 squared underflows to zero, yet the
// point is not undefined, so the division by d = 0 is carried out.
TEST(Operators, ZeroTestUsesModulusNotSquaredNorm) {
    const auto inv = op_named("Inv").eval(std::vector<Complex>{{1e-200, 0}});
    ASSERT_TRUE(inv.has_value());
    EXPECT_EQ(inv->re, kInf);
    EXPECT_TRUE(std::isnan(inv->im));
    EXPECT_TRUE(op_named("Log").eval(std::vector<Complex>{{1e-320, 0}}).has_value());
}

TEST(Operators, ArithmeticRulesKeepSignedZeros) {
    expect_rows({
        {"Neg", {{0, 0}}, Complex{-0.0, -0.0}},
        {"Neg", {{1, -2}}, Complex{-1, 2}},
        {"Plus", {{1, 2}, {3, -5}}, Complex{4, -3}},
        {"Subtract", {{1, 2}, {3, -5}}, Complex{-2, 7}},
        {"Subtract", {{0, 0}, {0, 0}}, Complex{0, 0}},
        {"Times", {{1, 2}, {3, 4}}, Complex{-5, 10}},
        {"Square", {{1, 2}}, Complex{-3, 4}},
        {"Cube", {{1, 2}}, Complex{-11, -2}},
        {"Sin", {{0, 0}}, Complex{0, 0}},
        {"Cos", {{0, 0}}, Complex{1, -0.0}},
        {"Tan", {{0, 0}}, Complex{0, 0}},
        {"Exp", {{0, 0}}, Complex{1, 0}},
    });
}

TEST(Operators, ExpSpecialValues) {
    expect_rows({
        {"Exp", {{kInf, 0}}, Complex{kInf, 0}},
        {"Exp", {{kInf, -0.0}}, Complex{kInf, -0.0}},
        {"Exp", {{kInf, kInf}}, Complex{kInf, kNaN}},
        {"Exp", {{kInf, -kInf}}, Complex{kInf, kNaN}},
        {"Exp", {{kInf, kNaN}}, Complex{kInf, kNaN}},
        {"Exp", {{kInf, 1}}, Complex{kInf, kInf}},
        {"Exp", {{-kInf, kInf}}, Complex{0, 0}},
        {"Exp", {{-kInf, -kInf}}, Complex{0, 0}},
        {"Exp", {{-kInf, kNaN}}, Complex{0, 0}},
        {"Exp", {{-kInf, -1}}, Complex{0, -0.0}},
        {"Exp", {{kNaN, 0}}, Complex{kNaN, 0}},
        {"Exp", {{kNaN, -0.0}}, Complex{kNaN, -0.0}},
        {"Exp", {{kNaN, 1}}, Complex{kNaN, kNaN}},
        {"Exp", {{1, -0.0}}, Complex{std::exp(1.0), -0.0}},
    });
}

TEST(Operators, SqrtFollowsSignsOfZeroAndOfTheRealPart) {
    expect_rows({
        {"Sqrt", {{-4, 0}}, Complex{0, 2}},
        {"Sqrt", {{-4, -0.0}}, Complex{0, -2}},
        {"Sqrt", {{0, 2}}, Complex{1, 1}},
        {"Sqrt", {{-0.0, 2}}, Complex{1, 1}},
        {"Sqrt", {{0, -2}}, Complex{1, -1}},
        {"Sqrt", {{4, 0}}, Complex{2, 0}},
        {"Sqrt", {{4, -0.0}}, Complex{2, -0.0}},
        {"Sqrt", {{0, 0}}, Complex{0, 0}},
        {"Sqrt", {{-0.0, 0}}, Complex{0, 0}},
        {"Sqrt", {{-0.0, -0.0}}, Complex{0, -0.0}},
        {"Sqrt", {{kInf, 0}}, Complex{kInf, 0}},
        {"Sqrt", {{-kInf, 0}}, Complex{0, kInf}},
        {"Sqrt", {{-kInf, -0.0}}, Complex{0, -kInf}},
        {"Sqrt", {{std::copysign(kNaN, -1.0), 0}}, Complex{0, kNaN}},
    });
    const auto general = op_named("Sqrt").eval(std::vector<Complex>{{3, 4}});
    ASSERT_TRUE(general.has_value());
    EXPECT_NEAR(general->re, 2.0, 1e-15);
    EXPECT_NEAR(general->im, 1.0, 1e-15);
}

TEST(Operators, ConstantsIgnoreTheirArguments) {
    const std::vector<Complex> some_args{{5, 5}, {6, 6}};
    for (std::size_t id : registry().ids_by_arity(0)) {
        const auto& constant = static_cast<const ConstOp&>(registry().op(id));
        SCOPED_TRACE(std::string(constant.name()));
        const auto empty = constant.eval({});
        ASSERT_TRUE(empty.has_value());
        EXPECT_BITS_EQ(*empty, constant.value());
        ASSERT_TRUE(constant.eval(some_args).has_value());
        EXPECT_BITS_EQ(*constant.eval(some_args), constant.value());
    }
    EXPECT_BITS_EQ(*op_named("I").eval({}), (Complex{0, 1}));
}

TEST(Operators, ConstantValuesAndTexts) {
    struct Row {
        const char* name;
        const char* latex;
        const char* python;
        Complex value;
    };
    const Row rows[] = {
        {"0", "0", "0", {0.0, 0.0}},
        {"1", "1", "1", {1.0, 0.0}},
        {"I", "i", "1j", {0.0, 1.0}},
        {"Pi", "\\pi", "np.pi", {3.141592653589793, 0.0}},
        {"E", "e", "np.e", {2.718281828459045, 0.0}},
    };
    const std::vector<std::string> ignored{"a", "b"};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Operator& constant = op_named(row.name);
        EXPECT_EQ(constant.arity(), 0u);
        EXPECT_FALSE(constant.is_commutative());
        EXPECT_BITS_EQ(*constant.eval({}), row.value);
        EXPECT_EQ(constant.to_latex({}), row.latex);
        EXPECT_EQ(constant.to_latex(ignored), row.latex);
        EXPECT_EQ(constant.to_python({}), row.python);
        EXPECT_EQ(constant.to_python(ignored), row.python);
    }
}

TEST(Operators, TemplatesInsertArgumentTextsVerbatim) {
    struct Row {
        const char* name;
        const char* latex;
        const char* python;
    };
    const Row rows[] = {
        {"KIV", "e^{a} - \\ln(b)", "(np.exp(a) - np.log(b))"},
        {"Neg", "(-(a))", "(-(a))"},
        {"Inv", "\\frac{1}{a}", "(1/(a))"},
        {"Plus", "a + b", "(a)+(b)"},
        {"Times", "a \\cdot b", "(a)*(b)"},
        {"Subtract", "a - b", "(a)-(b)"},
        {"Divide", "\\frac{a}{b}", "((a)/(b))"},
        {"Exp", "e^{a}", "np.exp(a)"},
        {"Log", "\\ln(a)", "np.log(a)"},
        {"Sqrt", "\\sqrt{a}", "np.sqrt(a)"},
        {"Sin", "\\sin(a)", "np.sin(a)"},
        {"Cos", "\\cos(a)", "np.cos(a)"},
        {"Tan", "\\tan(a)", "np.tan(a)"},
        {"ArcSin", "\\arcsin(a)", "np.arcsin(a)"},
        {"ArcCos", "\\arccos(a)", "np.arccos(a)"},
        {"ArcTan", "\\arctan(a)", "np.arctan(a)"},
        {"Square", "{a}^2", "(a)**2"},
        {"Cube", "{a}^3", "(a)**3"},
    };
    const std::vector<std::string> args{"a", "b"};
    ASSERT_EQ(std::size(rows), registry().ids_by_arity(1).size() + registry().ids_by_arity(2).size());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(op_named(row.name).to_latex(args), row.latex);
        EXPECT_EQ(op_named(row.name).to_python(args), row.python);
    }
    EXPECT_EQ(op_named("Neg").to_python(std::vector<std::string>{"v_{0}"}), "(-(v_{0}))");
    EXPECT_EQ(op_named("KIV").to_latex(std::vector<std::string>{"x + 1", "\\pi"}), "e^{x + 1} - \\ln(\\pi)");
}

TEST(Operators, TooFewArgumentsIsAnInvariantViolation) {
    for (std::uint8_t arity : {1, 2}) {
        for (std::size_t id : registry().ids_by_arity(arity)) {
            const Operator& op = registry().op(id);
            SCOPED_TRACE(std::string(op.name()));
            const std::vector<Complex> values(arity - 1u, Complex{1, 0});
            const std::vector<std::string> texts(arity - 1u, "a");
            EXPECT_THROW_MSG(op.eval(values), InvariantViolation, "src/ops/builtin");
            EXPECT_THROW_MSG(op.to_latex(texts), InvariantViolation, "src/ops/builtin");
            EXPECT_THROW_MSG(op.to_python(texts), InvariantViolation, "src/ops/builtin");
        }
    }
}

TEST(Operators, ArgumentsBeyondTheArityAreIgnored) {
    const std::vector<Complex> extra{{2, 1}, {3, -1}, {kNaN, kNaN}};
    for (std::uint8_t arity : {1, 2}) {
        for (std::size_t id : registry().ids_by_arity(arity)) {
            const Operator& op = registry().op(id);
            SCOPED_TRACE(std::string(op.name()));
            const auto exact = op.eval(std::span<const Complex>(extra.data(), arity));
            const auto longer = op.eval(extra);
            ASSERT_EQ(exact.has_value(), longer.has_value());
            if (exact) {
                EXPECT_BITS_EQ(*longer, *exact);
            }
        }
    }
}

// Points mixing special values with ordinary ones, so that every branch of
// the rules (signed zeros, infinities, NaN, huge and tiny magnitudes) is hit.
Complex random_point(std::mt19937_64& rng) {
    static constexpr std::array<double, 14> specials = {0.0,  -0.0,   1.0,   -1.0, 0.5,  kHalfPi, 1e300,
                                                        -1e300, 1e-300, 40.0, kInf, -kInf,  kNaN,   2.0};
    std::uniform_int_distribution<std::size_t> pick(0, specials.size() - 1);
    std::uniform_real_distribution<double> uniform(-4.0, 4.0);
    std::bernoulli_distribution special(0.3);
    auto part = [&] { return special(rng) ? specials[pick(rng)] : uniform(rng); };
    if (std::bernoulli_distribution(0.05)(rng)) return kAbsent;
    const double re = part();
    return {re, part()};
}

TEST(Operators, BlockEvaluationEqualsPointEvaluation) {
    std::mt19937_64 rng(20240611);
    constexpr std::size_t kRows = 257;
    std::vector<Complex> a(kRows), b(kRows), out(kRows);
    for (std::size_t id = 0; id < registry().size(); ++id) {
        const Operator& op = registry().op(id);
        SCOPED_TRACE(std::string(op.name()));
        for (std::size_t r = 0; r < kRows; ++r) {
            a[r] = random_point(rng);
            b[r] = random_point(rng);
        }
        const std::array<const Complex*, 2> args{a.data(), b.data()};
        op.eval_block(args.data(), out.data(), kRows);
        for (std::size_t r = 0; r < kRows; ++r) {
            const auto expected = op.eval(std::array<Complex, 2>{a[r], b[r]});
            ASSERT_TRUE(SameBits(out[r], or_absent(expected))) << "row " << r;
        }
        // The output may overwrite the first argument in place.
        std::vector<Complex> in_place = a;
        const std::array<const Complex*, 2> aliased{in_place.data(), b.data()};
        op.eval_block(aliased.data(), in_place.data(), kRows);
        for (std::size_t r = 0; r < kRows; ++r) ASSERT_TRUE(SameBits(in_place[r], out[r])) << "row " << r;
    }
}

TEST(Operators, BlockEvaluationMarksUndefinedRowsAbsent) {
    const std::vector<Complex> zs{{0, 0}, {1, 0}, {0, 1}, {0, -1}};
    std::vector<Complex> out(zs.size());
    const std::array<const Complex*, 2> args{zs.data(), zs.data()};
    op_named("Log").eval_block(args.data(), out.data(), zs.size());
    EXPECT_BITS_EQ(out[0], kAbsent);
    EXPECT_BITS_EQ(out[1], (Complex{0, 0}));
    op_named("ArcTan").eval_block(args.data(), out.data(), zs.size());
    EXPECT_BITS_EQ(out[2], kAbsent);
    EXPECT_BITS_EQ(out[3], kAbsent);
    EXPECT_BITS_EQ(out[0], (Complex{0, 0}));
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

// The elementary rules written out literally, every libm call made; the
// library skips calls whose results it knows exactly and must agree bit for bit.
Complex literal_exp(Complex z) {
    const double e = std::exp(z.re);
    return {e * std::cos(z.im), e * std::sin(z.im)};
}
Complex literal_log(Complex z) { return {std::log(std::hypot(z.re, z.im)), std::atan2(z.im, z.re)}; }
Complex literal_sin(Complex z) {
    return {std::sin(z.re) * std::cosh(z.im), std::cos(z.re) * std::sinh(z.im)};
}
Complex literal_cos(Complex z) {
    return {std::cos(z.re) * std::cosh(z.im), -(std::sin(z.re) * std::sinh(z.im))};
}

TEST(Operators, ShortcutsOnTheRealAxisMatchTheLiteralRulesBitForBit) {
    const OperatorRegistry registry = with_builtins();
    const Operator& exp_op = registry.op(12);
    const Operator& log_op = registry.op(13);
    const Operator& sin_op = registry.op(15);
    const Operator& cos_op = registry.op(16);
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> wide(-800.0, 800.0);
    std::uniform_real_distribution<double> narrow(-3.0, 3.0);
    for (int i = 0; i < 40000; ++i) {
        const double x = i % 3 == 0 ? wide(rng) : narrow(rng);
        const double specials[] = {0.0, -0.0, x, std::numeric_limits<double>::infinity(), 5e-324};
        for (const double re : {x, specials[i % 5]}) {
            for (const double im : {0.0, -0.0, narrow(rng)}) {
                const Complex z{re, im};
                SCOPED_TRACE(testing::PrintToString(z));
                if (std::isfinite(re)) {
                    ASSERT_TRUE(SameBits(*exp_op.eval(std::span(&z, 1)), literal_exp(z)));
                }
                if (!is_zero(z)) {
                    ASSERT_TRUE(SameBits(*log_op.eval(std::span(&z, 1)), literal_log(z)));
                }
                ASSERT_TRUE(SameBits(*sin_op.eval(std::span(&z, 1)), literal_sin(z)));
                ASSERT_TRUE(SameBits(*cos_op.eval(std::span(&z, 1)), literal_cos(z)));
            }
        }
    }
}

}  // namespace
}  // namespace kiv
