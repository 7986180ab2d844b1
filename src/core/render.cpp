#include "core/render.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

#include "core/number_text.hpp"

namespace kiv {
namespace {

enum class Notation { LaTeX, Python };

// How a LaTeX text groups at its top level, which decides whether an
// enclosing operator must parenthesise it.
enum class Shape {
    Atom,      // variable, constant, non-negative number
    Signed,    // number with a leading minus
    Sum,       // Plus, Subtract, KIV: "a + b", "a - b", "e^{a} - \ln(b)"
    Product,   // Times: "a \cdot b"
    Power,     // Exp, Square, Cube: "e^{a}", "{a}^2"
    Applied,   // a function call or fraction: "\sin(a)", "\frac{a}{b}"
    Enclosed,  // wrapped whole in parentheses: Neg's "(-(a))", a grouped operand
};

struct Piece {
    std::string text;
    Shape shape;
};

Shape result_shape(std::string_view op) {
    if (op == "Plus" || op == "Subtract" || op == "KIV") return Shape::Sum;
    if (op == "Times") return Shape::Product;
    if (op == "Exp" || op == "Square" || op == "Cube") return Shape::Power;
    if (op == "Neg") return Shape::Enclosed;
    return Shape::Applied;
}

// True when operand `slot` of `op`, of the given shape, would lose its
// grouping if inserted bare into the operator's LaTeX template.
bool needs_group(std::string_view op, std::size_t slot, Shape operand) {
    if (op == "Times") return operand == Shape::Sum;
    if (op == "Subtract") return slot == 1 && operand == Shape::Sum;
    if (op == "Square" || op == "Cube") return operand != Shape::Atom && operand != Shape::Enclosed;
    return false;
}

Piece number_piece(double value) {
    std::string text = fixed4_text(value);
    const Shape shape = text.front() == '-' ? Shape::Signed : Shape::Atom;
    return {std::move(text), shape};
}

// Operand texts for `op` taken from `pieces`, grouped where LaTeX needs it.
void collect_operands(std::span<Piece> pieces, std::string_view op, Notation notation,
                      std::vector<std::string>& operands) {
    operands.clear();
    for (std::size_t slot = 0; slot < pieces.size(); ++slot) {
        Piece& piece = pieces[slot];
        if (notation == Notation::LaTeX && needs_group(op, slot, piece.shape))
            operands.push_back("\\left(" + piece.text + "\\right)");
        else
            operands.push_back(std::move(piece.text));
    }
}

std::string apply(const Operator& op, std::span<const std::string> operands, Notation notation) {
    return notation == Notation::LaTeX ? op.to_latex(operands) : op.to_python(operands);
}

std::string render(const Expression& expression, const OperatorRegistry& registry, Notation notation) {
    std::vector<Piece> stack;
    stack.reserve(expression.complexity);
    std::vector<std::string> operands;
    for (const Token& token : expression.tokens) {
        switch (token.kind) {
            case TokenKind::Const:
                stack.push_back({apply(registry.op(token.op_id), {}, notation), Shape::Atom});
                break;
            case TokenKind::Real:
            case TokenKind::Param:
                stack.push_back(number_piece(token.value.re));
                break;
            case TokenKind::Var:
                stack.push_back({"v_{" + std::to_string(token.index) + "}", Shape::Atom});
                break;
            case TokenKind::Op: {
                const Operator& op = registry.op(token.op_id);
                const std::size_t base = stack.size() - std::min<std::size_t>(token.arity, stack.size());
                collect_operands(std::span<Piece>(stack).subspan(base), op.name(), notation, operands);
                stack.resize(base);
                stack.push_back({apply(op, operands, notation), result_shape(op.name())});
                break;
            }
        }
    }
    return stack.empty() ? std::string() : std::move(stack.back().text);
}

}  // namespace

std::string to_latex(const Expression& expression, const OperatorRegistry& registry) {
    return render(expression, registry, Notation::LaTeX);
}

std::string to_python(const Expression& expression, const OperatorRegistry& registry) {
    return render(expression, registry, Notation::Python);
}

}  // namespace kiv
