// Token: one element of a postfix formula. A flat 32-byte record rather than
// a variant so that evaluation reads tokens with no indirection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ops/complex.hpp"

namespace kiv {

enum class TokenKind : std::uint8_t { Const = 0, Real = 1, Var = 2, Param = 3, Op = 4 };

struct Token {
    TokenKind kind = TokenKind::Real;
    std::uint8_t index = 0;  // Var: input column; Param: position in the parameter vector
    std::uint8_t arity = 0;  // Op: number of arguments taken from the stack
    std::size_t op_id = 0;   // Const, Op: registry id
    Complex value{};         // Const: its value; Real: (value, 0); Param: stored value

    static Token constant(std::size_t op_id, Complex value) { return {TokenKind::Const, 0, 0, op_id, value}; }
    static Token real(double value) { return {TokenKind::Real, 0, 0, 0, {value, 0.0}}; }
    static Token var(std::uint8_t column) { return {TokenKind::Var, column, 0, 0, {}}; }
    static Token param(std::uint8_t index, Complex value) { return {TokenKind::Param, index, 0, 0, value}; }
    static Token op(std::uint8_t arity, std::size_t op_id) { return {TokenKind::Op, 0, arity, op_id, {}}; }
};

}  // namespace kiv
