// Token order: a total order of postfix token sequences that depends on the
// tokens alone, by which ClosedFormSearch keeps one of the two operand
// orders of a commutative operator, whichever way it met them.
//
// The first differing token decides: first by kind, in the alphabetical
// order of the kinds' state names (const, op, param, real, var), then by
// text, a shorter text that begins a longer one first. A constant's or an
// operator's text is its registry name, a real's its shortest fixed-point
// decimal text ("10" < "2" < "2.5"), a param's those of both parts, a
// variable's its column number; a sequence that begins a longer one comes
// first. Pure function; thread-safe.
#pragma once

#include <span>

#include "core/token.hpp"
#include "ops/registry.hpp"

namespace kiv {

// Whether `a` comes before `b`.
bool tokens_before(std::span<const Token> a, std::span<const Token> b, const OperatorRegistry& registry);

}  // namespace kiv
