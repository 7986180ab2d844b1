// Lanes: the complex values of kLanes consecutive rows, real parts in one
// vector register and imaginary parts in another, so that one instruction
// does an operation on all those rows.
//
// Written once over a part type, the arithmetic of the operators runs on
// Complex (one row) and on Lanes (kLanes rows) alike. Each lane does its own
// row's IEEE operations in the same order, so the bits equal the one-row
// results; that holds only while contraction into fused multiply-adds stays
// off (-ffp-contract=off). A comparison of Lanes gives a Mask, all ones in
// the lanes where it holds, as a comparison of Complex parts gives a bool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ops/complex.hpp"

namespace kiv {

inline constexpr std::size_t kLanes = 2;

using LaneParts = double __attribute__((vector_size(kLanes * sizeof(double))));
using Mask = std::int64_t __attribute__((vector_size(kLanes * sizeof(double))));

struct Lanes {
    LaneParts re;
    LaneParts im;

    static Lanes broadcast(Complex c) { return {LaneParts{} + c.re, LaneParts{} + c.im}; }

    // Rows z[0 .. kLanes), stored as Complex side by side, split into parts.
    // memcpy keeps each row one 16-byte move, where GCC would store a
    // bit_cast to Complex through the stack part by part.
    static_assert(kLanes == 2 && sizeof(Complex) == sizeof(LaneParts), "a row's value fills one register");
    static Lanes load(const Complex* z) {
        LaneParts first, second;
        std::memcpy(&first, static_cast<const void*>(z), sizeof first);
        std::memcpy(&second, static_cast<const void*>(z + 1), sizeof second);
        return {__builtin_shufflevector(first, second, 0, 2), __builtin_shufflevector(first, second, 1, 3)};
    }

    void store(Complex* out) const {
        const LaneParts first = __builtin_shufflevector(re, im, 0, 2);
        const LaneParts second = __builtin_shufflevector(re, im, 1, 3);
        std::memcpy(static_cast<void*>(out), &first, sizeof first);
        std::memcpy(static_cast<void*>(out + 1), &second, sizeof second);
    }
};

// The constant c in the form of `C`: Complex itself, or c on every lane.
template <class C>
C constant(Complex c) {
    if constexpr (requires { C::broadcast(c); })
        return C::broadcast(c);
    else
        return c;
}

}  // namespace kiv
