#include "engine/token_order.hpp"

#include <charconv>
#include <string>

namespace kiv {
namespace {

// Kinds in the alphabetical order of their state names: const, op, param, real, var.
int kind_rank(TokenKind kind) {
    switch (kind) {
        case TokenKind::Const:
            return 0;
        case TokenKind::Op:
            return 1;
        case TokenKind::Param:
            return 2;
        case TokenKind::Real:
            return 3;
        case TokenKind::Var:
            return 4;
    }
    return 5;
}

// The shortest fixed-point text that reads back as `value` ("2", "10", "0.5").
std::string number_text(double value) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, result.ptr);
}

std::string token_text(const Token& token, const OperatorRegistry& registry) {
    switch (token.kind) {
        case TokenKind::Const:
        case TokenKind::Op:
            return registry.meta(token.op_id).name;
        case TokenKind::Real:
            return number_text(token.value.re);
        case TokenKind::Param:
            return number_text(token.value.re) + "," + number_text(token.value.im);
        case TokenKind::Var:
            return std::to_string(token.index);
    }
    return {};
}

}  // namespace

bool tokens_before(std::span<const Token> a, std::span<const Token> b, const OperatorRegistry& registry) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (kind_rank(a[i].kind) != kind_rank(b[i].kind)) return kind_rank(a[i].kind) < kind_rank(b[i].kind);
        const std::string x = token_text(a[i], registry), y = token_text(b[i], registry);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

}  // namespace kiv
