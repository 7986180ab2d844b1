#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/expression.hpp"
#include "core/render.hpp"
#include "invariant.hpp"
#include "ops/registry.hpp"

namespace kiv {
namespace {

const OperatorRegistry& registry() {
    static const OperatorRegistry instance = with_builtins();
    return instance;
}

std::size_t id_of(std::string_view name) {
    for (std::size_t id = 0; id < registry().size(); ++id)
        if (registry().meta(id).name == name) return id;
    throw InvariantViolation("no operator " + std::string(name));
}

Expression V(std::uint8_t column) { return variable_leaf(column); }

Expression C(double value) {
    Expression e = parameter_leaf();
    e.tokens[0].value = {value, 0.0};
    return e;
}

Expression U(std::string_view op, const Expression& a) { return apply_unary(id_of(op), a, registry()); }

Expression B(std::string_view op, const Expression& a, const Expression& b) {
    return apply_binary(id_of(op), a, b, registry());
}

Expression from_tokens(std::vector<Token> tokens) {
    Expression e;
    e.complexity = tokens.size();
    e.tokens = std::move(tokens);
    return e;
}

struct Row {
    const char* name;
    std::function<Expression()> build;
    const char* latex;
    const char* python;
};

void expect_renders(const Row& row) {
    SCOPED_TRACE(row.name);
    const Expression e = row.build();
    EXPECT_EQ(to_latex(e, registry()), row.latex);
    EXPECT_EQ(to_python(e, registry()), row.python);
}

TEST(Render, LeavesAndOperatorTemplates) {
    const Row rows[] = {
        {"variable", [] { return V(2); }, "v_{2}", "v_{2}"},
        {"parameter", [] { return C(0.1); }, "0.1000", "0.1000"},
        {"refined parameter", [] { return C(-1.23456); }, "-1.2346", "-1.2346"},
        {"sum", [] { return B("Plus", V(0), C(0.1)); }, "v_{0} + 0.1000", "(v_{0})+(0.1000)"},
        {"sum with negative", [] { return B("Plus", V(0), C(-1.5)); }, "v_{0} + -1.5000",
         "(v_{0})+(-1.5000)"},
        {"kiv", [] { return B("KIV", V(0), V(1)); }, "e^{v_{0}} - \\ln(v_{1})",
         "(np.exp(v_{0}) - np.log(v_{1}))"},
        {"fraction", [] { return B("Divide", U("Sqrt", V(0)), U("Square", V(1))); },
         "\\frac{\\sqrt{v_{0}}}{{v_{1}}^2}", "((np.sqrt(v_{0}))/((v_{1})**2))"},
        {"negated cube", [] { return U("Neg", U("Cube", V(0))); }, "(-({v_{0}}^3))", "(-((v_{0})**3))"},
        {"inverse of sine", [] { return U("Inv", U("Sin", V(0))); }, "\\frac{1}{\\sin(v_{0})}",
         "(1/(np.sin(v_{0})))"},
        {"constants", [] { return from_tokens({Token::constant(id_of("Pi"), {}), Token::constant(id_of("I"), {}),
                                               Token::op(2, id_of("Times"))}); },
         "\\pi \\cdot i", "(np.pi)*(1j)"},
        {"real token", [] { return from_tokens({Token::real(2.5), Token::constant(id_of("E"), {}),
                                                Token::op(2, id_of("Subtract"))}); },
         "2.5000 - e", "(2.5000)-(np.e)"},
    };
    for (const Row& row : rows) expect_renders(row);
}

TEST(Render, LatexGroupsOperandsOnlyWherePrecedenceRequires) {
    const Row rows[] = {
        {"sum under product", [] { return B("Times", B("Plus", V(0), V(1)), V(2)); },
         "\\left(v_{0} + v_{1}\\right) \\cdot v_{2}", "((v_{0})+(v_{1}))*(v_{2})"},
        {"difference as right factor", [] { return B("Times", V(0), B("Subtract", V(1), V(2))); },
         "v_{0} \\cdot \\left(v_{1} - v_{2}\\right)", "(v_{0})*((v_{1})-(v_{2}))"},
        {"kiv under product", [] { return B("Times", B("KIV", V(0), V(1)), V(2)); },
         "\\left(e^{v_{0}} - \\ln(v_{1})\\right) \\cdot v_{2}", "((np.exp(v_{0}) - np.log(v_{1})))*(v_{2})"},
        {"difference right of difference", [] { return B("Subtract", V(0), B("Subtract", V(1), V(2))); },
         "v_{0} - \\left(v_{1} - v_{2}\\right)", "(v_{0})-((v_{1})-(v_{2}))"},
        {"sum right of difference", [] { return B("Subtract", V(0), B("Plus", V(1), V(2))); },
         "v_{0} - \\left(v_{1} + v_{2}\\right)", "(v_{0})-((v_{1})+(v_{2}))"},
        {"difference left of difference", [] { return B("Subtract", B("Subtract", V(0), V(1)), V(2)); },
         "v_{0} - v_{1} - v_{2}", "((v_{0})-(v_{1}))-(v_{2})"},
        {"difference inside sum", [] { return B("Plus", V(0), B("Subtract", V(1), V(2))); },
         "v_{0} + v_{1} - v_{2}", "(v_{0})+((v_{1})-(v_{2}))"},
        {"product inside sum", [] { return B("Plus", B("Times", V(0), V(1)), V(2)); },
         "v_{0} \\cdot v_{1} + v_{2}", "((v_{0})*(v_{1}))+(v_{2})"},
        {"product right of difference", [] { return B("Subtract", V(0), B("Times", V(1), V(2))); },
         "v_{0} - v_{1} \\cdot v_{2}", "(v_{0})-((v_{1})*(v_{2}))"},
        {"product of products", [] { return B("Times", V(0), B("Times", V(1), V(2))); },
         "v_{0} \\cdot v_{1} \\cdot v_{2}", "(v_{0})*((v_{1})*(v_{2}))"},
        {"negative factor", [] { return B("Times", V(0), C(-2.0)); }, "v_{0} \\cdot -2.0000",
         "(v_{0})*(-2.0000)"},
        {"sum in fraction", [] { return B("Divide", B("Plus", V(0), V(1)), V(2)); },
         "\\frac{v_{0} + v_{1}}{v_{2}}", "(((v_{0})+(v_{1}))/(v_{2}))"},
        {"sum in exponent", [] { return U("Exp", B("Plus", V(0), V(1))); }, "e^{v_{0} + v_{1}}",
         "np.exp((v_{0})+(v_{1}))"},
        {"squared sum", [] { return U("Square", B("Plus", V(0), V(1))); },
         "{\\left(v_{0} + v_{1}\\right)}^2", "((v_{0})+(v_{1}))**2"},
        {"cubed product", [] { return U("Cube", B("Times", V(0), V(1))); },
         "{\\left(v_{0} \\cdot v_{1}\\right)}^3", "((v_{0})*(v_{1}))**3"},
        {"squared exponential", [] { return U("Square", U("Exp", V(0))); }, "{\\left(e^{v_{0}}\\right)}^2",
         "(np.exp(v_{0}))**2"},
        {"squared square", [] { return U("Square", U("Square", V(0))); }, "{\\left({v_{0}}^2\\right)}^2",
         "((v_{0})**2)**2"},
        {"squared sine", [] { return U("Square", U("Sin", V(0))); }, "{\\left(\\sin(v_{0})\\right)}^2",
         "(np.sin(v_{0}))**2"},
        {"squared negative number", [] { return U("Square", C(-1.5)); }, "{\\left(-1.5000\\right)}^2",
         "(-1.5000)**2"},
        {"squared number", [] { return U("Square", C(1.5)); }, "{1.5000}^2", "(1.5000)**2"},
        {"squared negation", [] { return U("Square", U("Neg", V(0))); }, "{(-(v_{0}))}^2", "((-(v_{0})))**2"},
        {"negated sum", [] { return U("Neg", B("Plus", V(0), V(1))); }, "(-(v_{0} + v_{1}))",
         "(-((v_{0})+(v_{1})))"},
    };
    for (const Row& row : rows) expect_renders(row);
}

TEST(Render, PlainFormulaKeepsParameterNameWhateverItsValue) {
    const Expression e = B("Plus", V(0), C(-1.23456));
    EXPECT_EQ(e.formula, "Plus(v_{0}, C)");
    EXPECT_EQ(to_latex(e, registry()), "v_{0} + -1.2346");
}

TEST(Render, DegenerateTokenSequences) {
    const Row rows[] = {
        {"no tokens", [] { return Expression{}; }, "", ""},
        {"texts left below the top are dropped", [] { return from_tokens({Token::var(0), Token::var(1)}); },
         "v_{1}", "v_{1}"},
    };
    for (const Row& row : rows) expect_renders(row);
}

TEST(Render, BrokenOperatorReferencesAreInvariantViolations) {
    const std::vector<Token> rows[] = {
        {Token::var(0), Token::op(1, 99)},
        {Token::var(0), Token::op(2, id_of("Plus"))},
    };
    for (const auto& tokens : rows) {
        const Expression e = from_tokens(tokens);
        EXPECT_THROW(to_latex(e, registry()), InvariantViolation);
        EXPECT_THROW(to_python(e, registry()), InvariantViolation);
    }
}

}  // namespace
}  // namespace kiv
