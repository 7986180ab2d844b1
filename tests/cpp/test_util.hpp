// Shared helpers for the C++ tests: bitwise comparison of complex values
// (signed zeros and NaN payloads matter to the search), printing of Complex
// in failure messages, and a check of an exception's type and message.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "ops/complex.hpp"
#include "ops/operator.hpp"

namespace kiv {

inline void PrintTo(const Complex& z, std::ostream* os) { *os << "(" << z.re << ", " << z.im << ")"; }

// True when both are NaN (of any sign or payload) or have identical bits,
// so that signed zeros are told apart.
inline bool same_bits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Success when both parts of `actual` match `expected` by same_bits.
inline testing::AssertionResult SameBits(Complex actual, Complex expected) {
    if (same_bits(actual.re, expected.re) && same_bits(actual.im, expected.im))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << testing::PrintToString(actual) << " differs in bits from "
                                       << testing::PrintToString(expected);
}

// An optional value as block evaluation writes it: kAbsent where absent.
inline Complex or_absent(const std::optional<Complex>& value) { return value ? *value : kAbsent; }

}  // namespace kiv

#define EXPECT_BITS_EQ(actual, expected) EXPECT_TRUE(::kiv::SameBits((actual), (expected)))

// Expects `statement` to throw `type` whose what() contains `fragment`.
#define EXPECT_THROW_MSG(statement, type, fragment)                                   \
    do {                                                                              \
        try {                                                                         \
            statement;                                                                \
            ADD_FAILURE() << "no exception from " #statement;                         \
        } catch (const type& e) {                                                     \
            EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos)        \
                << "message \"" << e.what() << "\" lacks \"" << (fragment) << "\"";   \
        }                                                                             \
    } while (false)
