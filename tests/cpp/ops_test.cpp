// Operators and their registry: ids, arities and formula texts, and the point
// rules at their edges and branch cuts, bit for bit with signed zeros.
#include <array>

#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

TEST(Registry, BuiltinsInRegistrationOrderWithTextsArityAndCommutativityAndNoFewerArguments) {
    const std::array<const char*, 3> rows[] = {
        // name, LaTeX and Python of the arguments a and b
        {"0", "0", "0"},
        {"1", "1", "1"},
        {"I", "i", "1j"},
        {"Pi", "\\pi", "np.pi"},
        {"E", "e", "np.e"},
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
    EXPECT_EQ(builtins().ids_by_arity(2), (std::vector<std::size_t>{5, 8, 9, 10, 11}));
    EXPECT_EQ(builtins().ids_by_arity(0).size() + builtins().ids_by_arity(1).size(), 5u + 13u);
    EXPECT_THROW_MSG(builtins().op(23), InvariantViolation, "src/ops/registry");
    EXPECT_THROW_MSG(builtins().meta(23), InvariantViolation, "src/ops/registry");
}

// ArcTan's literal rule, -i/2 ln((1 - iz) / (1 + iz)) with both logarithms
// computed by hypot, log and atan2, for rows where the operator takes the
// second as the first's conjugate.
Complex arctan_by_two_logarithms(Complex z) {
    const Complex p{1.0 - (z.re * 0.0 - z.im), 0.0 - (z.re + z.im * 0.0)};
    const Complex m{(z.re * 0.0 - z.im) + 1.0, (z.re + z.im * 0.0) + 0.0};
    const double d_re = std::log(std::hypot(p.re, p.im)) - std::log(std::hypot(m.re, m.im));
    const double d_im = std::atan2(p.im, p.re) - std::atan2(m.im, m.re);
    return {0.0 * d_re - 0.5 * d_im, 0.5 * d_re + 0.0 * d_im};
}

TEST(Operators, EdgeValuesAreExactWithSignedZerosAndUndefinedPointsAbsent) {
    using C = Complex;
    constexpr auto none = std::nullopt;
    constexpr double pi = 3.141592653589793, half_pi = 1.5707963267948966, inf = kInf, nan = kNaN;
    const std::tuple<std::size_t, std::vector<Complex>, std::optional<Complex>> rows[] = {
        // Undefined points and their neighbours; constants ignore their arguments.
        {kLog, {{-0.0, -0.0}}, none},
        {kLog, {{-1, 0}}, C{0, pi}},
        {kInv, {{0, 0}}, none},
        {kInv, {{0, 2}}, C{0, -.5}},
        {kDivide, {{nan, inf}, {-0.0, 0}}, none},
        {kDivide, {{1, 2}, {3, 4}}, C{11.0 / 25.0, 2.0 / 25.0}},
        {kKiv, {{5, -3}, {0, 0}}, none},
        {kKiv, {{0, 0}, {1, 0}}, C{1, 0}},
        {kArcTan, {{0, -1}}, none},
        {kArcTan, {{0.75, 0}}, arctan_by_two_logarithms({0.75, 0})},
        {kArcTan, {{-3e5, -0.0}}, arctan_by_two_logarithms({-3e5, -0.0})},
        {kArcTan, {{1e-300, 0}}, arctan_by_two_logarithms({1e-300, 0})},
        {kArcSin, {{1, 0}}, C{half_pi, -0.0}},
        {kArcCos, {{0, 0}}, C{half_pi, 0}},
        {kZero, {}, C{0, 0}},
        {kOne, {{5, 5}}, C{1, 0}},
        {kI, {}, C{0, 1}},
        {kPi, {{5, 5}, {6, 6}}, C{pi, 0}},
        {kE, {}, C{M_E, 0}},
        // |z| = 0 is decided by hypot: 1e-200 squared underflows to zero, yet
        // the point is not undefined, so the division by d = 0 is carried out.
        {kInv, {{1e-200, 0}}, C{inf, nan}},
        {kLog, {{1e-320, 0}}, C{std::log(1e-320), 0}},
        // Arithmetic keeps signed zeros.
        {kNeg, {{0, 0}}, C{-0.0, -0.0}},
        {kSubtract, {{0, 0}, {0, 0}}, C{0, 0}},
        {kSquare, {{1, 2}}, C{-3, 4}},
        {kPlus, {{1, -0.0}, {2, -0.0}}, C{3, -0.0}},
        {kCube, {{1, 2}}, C{-11, -2}},
        {kTimes, {{1, 2}, {3, 4}}, C{-5, 10}},
        // Exp at infinities and NaN.
        {kExp, {{inf, -0.0}}, C{inf, -0.0}},
        {kExp, {{inf, inf}}, C{inf, nan}},
        {kExp, {{inf, 1}}, C{inf, inf}},
        {kExp, {{-inf, nan}}, C{0, 0}},
        {kExp, {{-inf, -1}}, C{0, -0.0}},
        {kExp, {{nan, 1}}, C{nan, nan}},
        {kExp, {{nan, -0.0}}, C{nan, -0.0}},
        // Shortcuts on the real and imaginary axes give the literal rules, every libm call made, bit for bit.
        {kExp, {{2, -0.0}}, C{std::exp(2.0) * std::cos(-0.0), std::exp(2.0) * std::sin(-0.0)}},
        {kLog, {{-2, -0.0}}, C{std::log(std::hypot(-2.0, -0.0)), std::atan2(-0.0, -2.0)}},
        {kLog, {{-0.0, -3}}, C{std::log(std::hypot(-0.0, -3.0)), std::atan2(-3.0, -0.0)}},
        {kLog, {{0, inf}}, C{std::log(std::hypot(0.0, inf)), std::atan2(inf, 0.0)}},
        {kSin, {{2, -0.0}}, C{std::sin(2.0) * std::cosh(-0.0), std::cos(2.0) * std::sinh(-0.0)}},
        {kCos, {{-700, 0}}, C{std::cos(-700.0) * std::cosh(0.0), -(std::sin(-700.0) * std::sinh(0.0))}},
        // Sqrt follows the signs of zero and of the real part.
        {kSqrt, {{-4, -0.0}}, C{0, -2}},
        {kSqrt, {{-0.0, 2}}, C{1, 1}},
        {kSqrt, {{4, -0.0}}, C{2, -0.0}},
        {kSqrt, {{-0.0, 0}}, C{0, 0}},
        {kSqrt, {{-0.0, -0.0}}, C{0, -0.0}},
        {kSqrt, {{-inf, -0.0}}, C{0, -inf}},
        {kSqrt, {{std::copysign(nan, -1.0), 0}}, C{0, nan}},
    };
    for (const auto& [op, args, expected] : rows)
        EXPECT_TRUE(SameBits(builtins().op(op).eval(args), expected))
            << builtins().meta(op).name << testing::PrintToString(args);
}

// Block evaluation, which does the arithmetic several rows per instruction
// and any last rows one by one, gives every row the bits of the point rule,
// screened, also in place. Every pair of the edge values is a row (an odd
// number of rows in all): signed zeros, infinities, NaN, a subnormal, the
// magnitude bound and values whose squares or cubes overflow or cross it.
class BlockRows : public testing::TestWithParam<std::size_t> {};

TEST_P(BlockRows, EqualThePointRuleScreenedOnEdgeValues) {
    constexpr double parts[] = {0.0, -0.0, 1.5, -2.5, kInf, -kInf, kNaN, 1e-310, 9.99e14, -1e15, 3e7, 1e160};
    std::vector<Complex> first, second;
    for (const double a : parts)
        for (const double b : parts)
            for (const double c : parts)
                for (const double d : parts) {
                    first.push_back({a, b});
                    second.push_back({c, d});
                }
    first.push_back({1.0, 2.0});
    second.push_back({3.0, 4.0});
    const Operator& op = builtins().op(GetParam());
    std::vector<Complex> out(first.size()), in_place = first;
    const Complex* args[] = {first.data(), second.data()};
    op.eval_block(args, out.data(), out.size());
    const Complex* in_place_args[] = {in_place.data(), second.data()};
    op.eval_block(in_place_args, in_place.data(), in_place.size());
    for (std::size_t r = 0; r < out.size(); ++r) {
        const Complex reference = op.eval(std::array{first[r], second[r]}).value_or(kAbsent);
        const Complex expected = is_acceptable(reference) ? reference : kAbsent;
        ASSERT_TRUE(SameBits(out[r], expected) && SameBits(in_place[r], expected))
            << "row " << r << testing::PrintToString(std::array{first[r], second[r]});
    }
}

INSTANTIATE_TEST_SUITE_P(Builtins, BlockRows, testing::Range<std::size_t>(kKiv, kCube + 1),
                         [](const auto& row) { return std::string(builtins().meta(row.param).name); });

}  // namespace
}  // namespace kiv
