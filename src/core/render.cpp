#include "core/render.hpp"

#include <algorithm>
#include <vector>

#include "core/number_text.hpp"

namespace kiv {
namespace {

enum class Notation { LaTeX, Python };

struct Piece {
    std::string text;
    LatexShape shape;
};

Piece number_piece(double value) {
    std::string text = fixed4_text(value);
    const LatexShape shape = text.front() == '-' ? LatexShape::Signed : LatexShape::Atom;
    return {std::move(text), shape};
}

// Operand texts taken from `pieces`, grouped where `layout` says LaTeX needs it.
void collect_operands(std::span<Piece> pieces, const LatexLayout& layout, Notation notation,
                      std::vector<std::string>& operands) {
    operands.clear();
    for (std::size_t slot = 0; slot < pieces.size(); ++slot) {
        Piece& piece = pieces[slot];
        if (notation == Notation::LaTeX && layout.groups(slot, piece.shape))
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
            case TokenKind::Real:
            case TokenKind::Param:
                stack.push_back(number_piece(token.value.re));
                break;
            case TokenKind::Var:
                stack.push_back({"v_{" + std::to_string(token.index) + "}", LatexShape::Atom});
                break;
            case TokenKind::Const:  // a constant operator; its arity is 0
            case TokenKind::Op: {
                const Operator& op = registry.op(token.op_id);
                const LatexLayout layout = op.latex_layout();
                const std::size_t base = stack.size() - std::min<std::size_t>(token.arity, stack.size());
                collect_operands(std::span<Piece>(stack).subspan(base), layout, notation, operands);
                stack.resize(base);
                stack.push_back({apply(op, operands, notation), layout.result});
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
