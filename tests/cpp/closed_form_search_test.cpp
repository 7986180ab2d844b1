// The closed-form search: every formula it gives has the size asked for and
// its exact value meets the target; known closed forms are found, whether
// looked up or met in the middle; a commutative operator's operands come in
// one order; an operator without a preimage rule is never at a composed
// formula's root; each preimage rule maps its keys back onto the target.
#include <cmath>
#include <memory>
#include <numbers>
#include <set>
#include <string>

#include "engine/closed_form_search.hpp"
#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

constexpr double kSlack = 1e-8;
const double kPhi = (1 + std::sqrt(5.0)) / 2;

RegistryHandle shared_builtins() { return std::make_shared<const OperatorRegistry>(with_builtins()); }

// 1, 2 .. 10, Pi and E: the leaves closed forms are built from.
std::vector<Expression> number_leaves(const OperatorRegistry& registry) {
    std::vector<Expression> leaves{constant_leaf(kOne, registry)};
    for (int k = 2; k <= 10; ++k) leaves.push_back(real_leaf(k));
    leaves.push_back(constant_leaf(kPi, registry));
    leaves.push_back(constant_leaf(kE, registry));
    return leaves;
}

const FormulaTable& table_of_depth(std::size_t depth) {
    static const FormulaTable two(number_leaves(builtins()), 2, {{}}, shared_builtins());
    static const FormulaTable three(number_leaves(builtins()), 3, {{}}, shared_builtins());
    return depth == 2 ? two : three;
}

std::set<std::string> formulas_of(const std::vector<ClosedForm>& found) {
    std::set<std::string> formulas;
    for (const ClosedForm& form : found) formulas.insert(form.expression.formula);
    return formulas;
}

// Formulas of `found` at a commutative root whose operands also appear in
// the other order (splitting the operands' text at each ", " in turn).
std::vector<std::string> swapped_twins(const std::vector<ClosedForm>& found) {
    const std::set<std::string> formulas = formulas_of(found);
    std::vector<std::string> twins;
    for (const ClosedForm& form : found) {
        const Token& root = form.expression.tokens.back();
        if (root.kind != TokenKind::Op || !builtins().meta(root.op_id).commutative) continue;
        const std::string& text = form.expression.formula;
        const std::string& name = builtins().meta(root.op_id).name;
        const std::string operands = text.substr(name.size() + 1, text.size() - name.size() - 2);
        for (std::size_t comma = operands.find(", "); comma != std::string::npos;
             comma = operands.find(", ", comma + 1)) {
            const std::string swapped =
                name + "(" + operands.substr(comma + 2) + ", " + operands.substr(0, comma) + ")";
            if (swapped != text && formulas.count(swapped)) twins.push_back(text);
        }
    }
    return twins;
}

struct Case {
    double target;
    std::size_t size;
    std::size_t depth;
    const char* formula;
};

// Found by a lookup (size <= depth) or met in the middle from a unary or a binary root.
const Case kCases[] = {
    {std::sqrt(2.0), 2, 3, "Sqrt(2.0000)"},
    {std::log(3.0), 2, 3, "Log(3.0000)"},
    {std::log(3.0), 3, 2, "Log(Neg(3.0000))"},
    {std::numbers::pi + std::numbers::e, 3, 2, "Plus(E, Pi)"},
    {std::numbers::pi * std::numbers::pi / 6, 4, 3, "Divide(Square(Pi), 6.0000)"},
    {std::numbers::pi * std::numbers::pi / 6, 4, 2, "Divide(Square(Pi), 6.0000)"},
    {-1 / (2 * std::numbers::pi), 5, 3, "Inv(Neg(Times(2.0000, Pi)))"},
    {kPhi, 6, 3, "Divide(Plus(1, Sqrt(5.0000)), 2.0000)"},
    {(1 + std::sqrt(2.0)) * std::numbers::pi * std::numbers::pi, 7, 3, "Times(Square(Pi), Plus(1, Sqrt(2.0000)))"},
};

TEST(ClosedFormSearch, FindsKnownFormsOfTheSizeAskedWhoseExactValuesMeetTheTarget) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.formula) + " from depth " + std::to_string(c.depth));
        const ClosedFormSearch search(table_of_depth(c.depth));
        const std::vector<ClosedForm> found = search.find(c.target, c.size, kSlack);
        EXPECT_TRUE(formulas_of(found).count(c.formula));
        for (const ClosedForm& form : found) {
            EXPECT_EQ(form.expression.tokens.size(), c.size) << form.expression.formula;
            EXPECT_TRUE(SameBits(form.value, form.expression.eval({}, builtins()))) << form.expression.formula;
            EXPECT_LE(std::fabs(form.value.re - c.target), kSlack * std::fabs(c.target)) << form.expression.formula;
        }
        EXPECT_EQ(swapped_twins(found), std::vector<std::string>{});
        EXPECT_TRUE(search.find(c.target, 0, kSlack).empty());
    }
}

TEST(ClosedFormSearch, IsTheSameOnEveryCallAndRefusesTablesOfOtherThanOneRow) {
    const ClosedFormSearch search(table_of_depth(2));
    const std::vector<ClosedForm> first = search.find(kPhi, 6, kSlack), again = search.find(kPhi, 6, kSlack);
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(first.size(), again.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].expression.formula, again[i].expression.formula);
        EXPECT_TRUE(SameBits(first[i].value, again[i].value));
    }
    const FormulaTable two_rows({real_leaf(2.0)}, 1, {{}, {}}, shared_builtins());
    EXPECT_THROW_MSG(ClosedFormSearch{two_rows}, InvariantViolation, "one data row");
}

// Square's rule under a name that has no preimage rule.
class Squared final : public Operator {
public:
    explicit Squared(std::unique_ptr<Operator> square) : square_(std::move(square)) {}
    std::string_view name() const override { return "Squared"; }
    unsigned arity() const override { return 1; }
    std::optional<Complex> eval(std::span<const Complex> args) const override { return square_->eval(args); }
    void eval_block(const Complex* const* args, Complex* out, std::size_t rows) const override {
        square_->eval_block(args, out, rows);
    }
    std::string to_latex(std::span<const std::string> args) const override { return square_->to_latex(args); }
    LatexLayout latex_layout() const override { return square_->latex_layout(); }
    std::string to_python(std::span<const std::string> args) const override { return square_->to_python(args); }
    std::string debug_text() const override { return "Squared"; }

private:
    std::unique_ptr<Operator> square_;
};

TEST(ClosedFormSearch, OperatorWithoutPreimageRuleIsNeverAtAComposedRoot) {
    auto registry = std::make_shared<OperatorRegistry>();
    for (auto& op : builtin_constants()) registry->register_operator(std::move(op));
    for (auto& op : all_builtins())
        registry->register_operator(op->name() == "Square" ? std::make_unique<Squared>(std::move(op)) : std::move(op));
    const std::vector<Expression> leaves{constant_leaf(kOne, *registry), constant_leaf(kPi, *registry)};
    const double pi = std::numbers::pi;
    const FormulaTable renamed(leaves, 2, {{}}, registry), builtin(leaves, 2, {{}}, shared_builtins());
    // (1 + pi)^2 is met from its root only where Square has its rule; pi^2 + 1 either way.
    EXPECT_TRUE(
        formulas_of(ClosedFormSearch(builtin).find((1 + pi) * (1 + pi), 4, kSlack)).count("Square(Plus(1, Pi))"));
    for (const ClosedForm& form : ClosedFormSearch(renamed).find((1 + pi) * (1 + pi), 4, kSlack))
        EXPECT_NE(form.expression.tokens.back().op_id, kSquare) << form.expression.formula;
    EXPECT_TRUE(formulas_of(ClosedFormSearch(renamed).find(pi * pi + 1, 4, kSlack)).count("Plus(1, Squared(Pi))"));
}

// Each usable key of each rule, put back through the operator, gives the target.
TEST(OperandPreimages, KeysMapBackOntoTheTarget) {
    const double targets[] = {-2.5, -0.75, -1e-3, 0.3, 1.0, 1.25, 2.0, 3.5};
    const Complex knowns[] = {{2.0, 0.0}, {-0.5, 0.0}, {1.5, 0.5}, {-3.0, -2.0}, {0.0, 0.25}};
    for (std::size_t id = 0; id < builtins().size(); ++id) {
        const OperatorMeta& meta = builtins().meta(id);
        if (meta.arity == 0) continue;
        for (const KnownOperand side : {KnownOperand::Left, KnownOperand::Right}) {
            if (meta.arity == 1 && side == KnownOperand::Right) continue;
            SCOPED_TRACE(meta.name + (side == KnownOperand::Left ? " left known" : " right known"));
            const bool unary = meta.arity == 1;
            const std::size_t rules =
                unary ? unary_preimages(meta.name).size() : binary_preimages(meta.name, side).size();
            // Every rule exists but a commutative operator's with its right operand known, which the search never
            // takes.
            EXPECT_EQ(rules == 0, !unary && side == KnownOperand::Right && meta.commutative);
            std::size_t usable = 0;
            for (const double t : targets) {
                for (const Complex known : knowns) {
                    for (std::size_t k = 0; k < rules; ++k) {
                        const double z =
                            unary ? unary_preimages(meta.name)[k](t) : binary_preimages(meta.name, side)[k](t, known);
                        if (!std::isfinite(z)) continue;
                        const Complex operand{z, 0.0};
                        const Complex pair[] = {side == KnownOperand::Left ? known : operand,
                                                side == KnownOperand::Left ? operand : known};
                        const std::optional<Complex> value = builtins().op(id).eval(
                            unary ? std::span<const Complex>(&operand, 1) : std::span<const Complex>(pair));
                        ASSERT_TRUE(value) << "t " << t << " key " << z;
                        EXPECT_NEAR(value->re, t, 1e-12 * std::max(1.0, std::fabs(t))) << "key " << z;
                        ++usable;
                    }
                    if (unary) break;
                }
            }
            EXPECT_EQ(usable == 0, rules == 0);
        }
    }
    EXPECT_TRUE(unary_preimages("Cosh").empty());
}

}  // namespace
}  // namespace kiv
