// Shared helpers for the C++ tests: builtin ids, expression builders, bitwise
// comparison (signed zeros matter), exception messages, worker counts.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/expression.hpp"
#include "ops/builtin.hpp"
#include "ops/registry.hpp"

namespace kiv {

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Builtin ids, in registration order.
enum BuiltinId : std::size_t {
    kZero,
    kOne,
    kI,
    kPi,
    kE,
    kKiv,
    kNeg,
    kInv,
    kPlus,
    kTimes,
    kSubtract,
    kDivide,
    kExp,
    kLog,
    kSqrt,
    kSin,
    kCos,
    kTan,
    kArcSin,
    kArcCos,
    kArcTan,
    kSquare,
    kCube
};

inline const OperatorRegistry& builtins() {
    static const OperatorRegistry instance = with_builtins();
    return instance;
}

inline Expression unary(std::size_t id, const Expression& a) { return apply_unary(id, a, builtins()); }
inline Expression binary(std::size_t id, const Expression& a, const Expression& b) {
    return apply_binary(id, a, b, builtins());
}
inline Expression const_leaf(std::size_t id) { return constant_leaf(id, builtins()); }
// The parameter leaf holding `value` in place of 0.1.
inline Expression param_leaf(Complex value) {
    Expression e = parameter_leaf();
    e.tokens[0].value = value;
    return e;
}

inline void PrintTo(const Complex& z, std::ostream* os) { *os << "(" << z.re << ", " << z.im << ")"; }

// True when both are NaN (of any sign or payload) or have identical bits.
inline bool same_bits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Both absent, or both present with both parts equal by same_bits.
inline testing::AssertionResult SameBits(std::optional<Complex> actual, std::optional<Complex> expected) {
    if (actual.has_value() == expected.has_value() &&
        (!actual || (same_bits(actual->re, expected->re) && same_bits(actual->im, expected->im))))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << testing::PrintToString(actual) << " vs " << testing::PrintToString(expected);
}

// Runs once per worker count, set in KIV_SR_NUM_THREADS (read when a WorkerPool is made).
class ThreadCountTest : public testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override { setenv("KIV_SR_NUM_THREADS", std::to_string(GetParam()).c_str(), 1); }
    void TearDown() override { unsetenv("KIV_SR_NUM_THREADS"); }
};

}  // namespace kiv

// Expects `statement` to throw `type` whose what() contains `fragment`.
#define EXPECT_THROW_MSG(statement, type, fragment)                                                              \
    try {                                                                                                        \
        statement;                                                                                               \
        ADD_FAILURE() << "no exception from " #statement;                                                        \
    } catch (const type& thrown) {                                                                               \
        EXPECT_NE(std::string(thrown.what()).find(fragment), std::string::npos) << "message: " << thrown.what(); \
    }

#define INSTANTIATE_THREAD_COUNTS(fixture)                                                      \
    INSTANTIATE_TEST_SUITE_P(Threads, fixture, testing::Values(std::size_t{1}, std::size_t{2}), \
                             [](const testing::TestParamInfo<std::size_t>& param_info) {        \
                                 return std::to_string(param_info.param) + "Workers";           \
                             })
