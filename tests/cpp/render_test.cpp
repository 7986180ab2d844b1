#include "core/render.hpp"

#include <gtest/gtest.h>

#include <string>

#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

Expression V(std::uint8_t column) { return variable_leaf(column); }
Expression C(double value) { return param_leaf({value, 0.0}); }

Expression from_tokens(std::vector<Token> tokens) {
    Expression e;
    e.complexity = tokens.size();
    e.tokens = std::move(tokens);
    return e;
}

TEST(Render, LeavesNumbersAndGroupingWherePrecedenceRequires) {
    struct Row {
        const char* name;
        Expression expression;
        const char* latex;
        const char* python;
    };
    const Row rows[] = {
        {"no tokens", Expression{}, "", ""},
        {"texts left below the top are dropped", from_tokens({Token::var(0), Token::var(1)}), "v_{1}", "v_{1}"},
        {"refined parameter", C(-1.23456), "-1.2346", "-1.2346"},
        {"constants", from_tokens({Token::constant(kPi, {}), Token::constant(kI, {}), Token::op(2, kTimes)}),
         "\\pi \\cdot i", "(np.pi)*(1j)"},
        {"real token", from_tokens({Token::real(2.5), Token::constant(kE, {}), Token::op(2, kSubtract)}),
         "2.5000 - e", "(2.5000)-(np.e)"},
        {"sum under product", binary(kTimes, binary(kPlus, V(0), V(1)), V(2)),
         "\\left(v_{0} + v_{1}\\right) \\cdot v_{2}", "((v_{0})+(v_{1}))*(v_{2})"},
        {"difference as right factor", binary(kTimes, V(0), binary(kSubtract, V(1), V(2))),
         "v_{0} \\cdot \\left(v_{1} - v_{2}\\right)", "(v_{0})*((v_{1})-(v_{2}))"},
        {"kiv under product", binary(kTimes, binary(kKiv, V(0), V(1)), V(2)),
         "\\left(e^{v_{0}} - \\ln(v_{1})\\right) \\cdot v_{2}", "((np.exp(v_{0}) - np.log(v_{1})))*(v_{2})"},
        {"difference right of difference", binary(kSubtract, V(0), binary(kSubtract, V(1), V(2))),
         "v_{0} - \\left(v_{1} - v_{2}\\right)", "(v_{0})-((v_{1})-(v_{2}))"},
        {"sum right of difference", binary(kSubtract, V(0), binary(kPlus, V(1), V(2))),
         "v_{0} - \\left(v_{1} + v_{2}\\right)", "(v_{0})-((v_{1})+(v_{2}))"},
        {"difference left of difference", binary(kSubtract, binary(kSubtract, V(0), V(1)), V(2)),
         "v_{0} - v_{1} - v_{2}", "((v_{0})-(v_{1}))-(v_{2})"},
        {"difference inside sum", binary(kPlus, V(0), binary(kSubtract, V(1), V(2))), "v_{0} + v_{1} - v_{2}",
         "(v_{0})+((v_{1})-(v_{2}))"},
        {"negative factor", binary(kTimes, V(0), C(-2.0)), "v_{0} \\cdot -2.0000", "(v_{0})*(-2.0000)"},
        {"sum in fraction", binary(kDivide, binary(kPlus, V(0), V(1)), V(2)), "\\frac{v_{0} + v_{1}}{v_{2}}",
         "(((v_{0})+(v_{1}))/(v_{2}))"},
        {"cubed product", unary(kCube, binary(kTimes, V(0), V(1))), "{\\left(v_{0} \\cdot v_{1}\\right)}^3",
         "((v_{0})*(v_{1}))**3"},
        {"squared exponential", unary(kSquare, unary(kExp, V(0))), "{\\left(e^{v_{0}}\\right)}^2",
         "(np.exp(v_{0}))**2"},
        {"squared negative number", unary(kSquare, C(-1.5)), "{\\left(-1.5000\\right)}^2", "(-1.5000)**2"},
        {"squared number", unary(kSquare, C(1.5)), "{1.5000}^2", "(1.5000)**2"},
        {"squared negation", unary(kSquare, unary(kNeg, V(0))), "{(-(v_{0}))}^2", "((-(v_{0})))**2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(to_latex(row.expression, builtins()), row.latex);
        EXPECT_EQ(to_python(row.expression, builtins()), row.python);
    }
    EXPECT_EQ(binary(kPlus, V(0), C(-1.23456)).formula, "Plus(v_{0}, C)") << "the plain formula keeps the name";
}

TEST(Render, BrokenOperatorReferencesAreInvariantViolations) {
    for (const auto& tokens : {std::vector<Token>{Token::var(0), Token::op(1, 99)},
                               std::vector<Token>{Token::var(0), Token::op(2, kPlus)}}) {
        const Expression e = from_tokens(tokens);
        EXPECT_THROW(to_latex(e, builtins()), InvariantViolation);
        EXPECT_THROW(to_python(e, builtins()), InvariantViolation);
    }
}

}  // namespace
}  // namespace kiv
