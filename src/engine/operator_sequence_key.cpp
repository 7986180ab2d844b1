#include "engine/operator_sequence_key.hpp"

#include <charconv>

namespace kiv {
namespace {

// Appends `part` to `key`, with a "-" between two non-empty parts.
void append_part(std::string& key, std::string_view part) {
    if (!key.empty() && !part.empty()) key += '-';
    key += part;
}

void append_id(std::string& key, std::size_t op_id) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, op_id);
    append_part(key, std::string_view(digits, written.ptr));
}

}  // namespace

std::string operator_sequence_key(std::span<const Token> tokens) {
    std::string key;
    for (const Token& token : tokens)
        if (token.kind == TokenKind::Op) append_id(key, token.op_id);
    return key;
}

std::string operator_sequence_key(std::string_view left, std::string_view right, std::size_t op_id) {
    std::string key(left);
    append_part(key, right);
    append_id(key, op_id);
    return key;
}

}  // namespace kiv
