// The operator-sequence key: the registry ids of an expression's Op tokens in
// token order, joined by "-" ("15-8-16"); empty for a leaf. Retention prefers
// candidates whose key few elites share, so the key's text decides which
// candidates a search keeps.
//
// A composed expression's postfix tokens are its left operand's, its right
// operand's, then its operator, so its key is its operands' keys and the
// operator's id joined alike. The beam builds keys that way, from the keys it
// caches; both forms append through one joining rule and cannot disagree.
// Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "core/token.hpp"

namespace kiv {

// Key of the expression written as `tokens`.
std::string operator_sequence_key(std::span<const Token> tokens);

// Key of operator `op_id` applied to operands whose keys are `left` and
// `right` (empty for a one-argument operator).
std::string operator_sequence_key(std::string_view left, std::string_view right, std::size_t op_id);

}  // namespace kiv
