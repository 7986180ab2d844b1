#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "core/signature.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

constexpr std::size_t kNeg = 6, kPlus = 8, kSubtract = 10, kExp = 12, kLog = 13;

const OperatorRegistry& registry() {
    static const OperatorRegistry instance = with_builtins();
    return instance;
}

std::optional<Fingerprint> fp(const Expression& e) { return fingerprint(e, registry()); }

// The single-token expression [Real value].
Expression real(double value) { return {{Token::real(value)}, "r", 1, 0, 0}; }

// The parameter leaf with `value` stored in place of 0.1.
Expression parameter_holding(Complex value) {
    Expression e = parameter_leaf();
    e.tokens[0].value = value;
    return e;
}

Expression unary(std::size_t op, const Expression& a) { return apply_unary(op, a, registry()); }
Expression binary(std::size_t op, const Expression& a, const Expression& b) {
    return apply_binary(op, a, b, registry());
}

// The double v nearest to target / 1e10 whose product v * 1e10 is exactly
// `target`, so that quantisation sees an exact half.
double with_exact_product(double target) {
    double v = target / 1e10;
    for (int step = 0; step < 64 && v * 1e10 != target; ++step)
        v = std::nextafter(v, v * 1e10 < target ? kInf : -kInf);
    return v;
}

TEST(Fingerprint, LeafFingerprintsAreTheQuantisedSamplePoints) {
    EXPECT_EQ(fp(variable_leaf(0)),
              (Fingerprint{5772156649, 0, 12824271291, 1000000000, 16180339887, 0, 6931471806, 1000000000,
                           12020569032, 0}));
    EXPECT_EQ(fp(variable_leaf(1)),
              (Fingerprint{12824271291, 0, 16180339887, 2000000000, 6931471806, 0, 12020569032, 2000000000,
                           5772156649, 0}));
    EXPECT_EQ(fp(parameter_leaf()),
              (Fingerprint{1000000000, 0, 1000000000, 0, 1000000000, 0, 1000000000, 0, 1000000000, 0}));
}

TEST(Fingerprint, VariablesFiveApartDifferOnlyInOddImaginaryParts) {
    const Fingerprint v0 = *fp(variable_leaf(0));
    const Fingerprint v5 = *fp(variable_leaf(5));
    for (std::size_t s = 0; s < kSampleCount; ++s) {
        SCOPED_TRACE(s);
        EXPECT_EQ(v5[2 * s], v0[2 * s]);
        EXPECT_EQ(v5[2 * s + 1], s % 2 == 0 ? 0 : 6000000000);
    }
}

TEST(Fingerprint, CommutativeOperandsShareFingerprint) {
    const Expression v0 = variable_leaf(0);
    const Expression v1 = variable_leaf(1);
    EXPECT_EQ(fp(binary(kPlus, v0, v1)), fp(binary(kPlus, v1, v0)));
    EXPECT_NE(fp(binary(kSubtract, v0, v1)), fp(binary(kSubtract, v1, v0)));
    EXPECT_EQ(fp(unary(kNeg, unary(kNeg, v0))), fp(v0));
}

TEST(Fingerprint, UndefinedOrOutOfRangeExpressionsHaveNone) {
    const Expression v0 = variable_leaf(0);
    EXPECT_FALSE(fp(unary(kLog, binary(kSubtract, v0, v0))).has_value());

    const Expression triple_exp = unary(kExp, unary(kExp, unary(kExp, v0)));
    EXPECT_FALSE(fp(triple_exp).has_value());
    const SampleValues values = sample_values(triple_exp, registry());
    EXPECT_NEAR(values[0].re, 378.5, 0.1);
    EXPECT_NEAR(values[1].re, 4.82e14, 0.01e14);
    EXPECT_NEAR(values[1].im, 7.90e13, 0.01e13);
    EXPECT_BITS_EQ(values[2], kAbsent);

    struct Row {
        const char* what;
        Complex leaf;
    };
    const Row rows[] = {
        {"NaN real part", {kNaN, 0}},  {"NaN imaginary part", {0, kNaN}},
        {"infinite", {kInf, 0}},       {"minus infinite", {0, -kInf}},
        {"re at the bound", {1e15, 0}}, {"im at minus the bound", {0, -1e15}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_FALSE(fp(parameter_holding(row.leaf)).has_value());
    }
}

TEST(Fingerprint, PartsBeyondTheIntegerRangeClamp) {
    struct Row {
        const char* what;
        Complex value;
        std::int64_t re;
        std::int64_t im;
    };
    const Row rows[] = {
        {"1e9 and -1e9", {1e9, -1e9}, kMax, kMin},
        {"just inside the bound", {9.99e14, -9.99e14}, kMax, kMin},
        {"exactly 2^63 after scaling", {with_exact_product(0x1p63), -with_exact_product(0x1p63)}, kMax, kMin},
        {"exactly representable", {922337203.0, -922337203.0}, 9223372030000000000, -9223372030000000000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto f = fp(parameter_holding(row.value));
        ASSERT_TRUE(f.has_value());
        for (std::size_t s = 0; s < kSampleCount; ++s) {
            EXPECT_EQ((*f)[2 * s], row.re);
            EXPECT_EQ((*f)[2 * s + 1], row.im);
        }
    }
    ASSERT_EQ(with_exact_product(0x1p63) * 1e10, 0x1p63);
}

TEST(Fingerprint, HalfQuantaRoundAwayFromZero) {
    struct Row {
        double scaled;  // the exact value of v * 1e10
        std::int64_t expected;
    };
    const Row rows[] = {
        {0.5, 1},   {-0.5, -1},  {2.5, 3},  {-2.5, -3},  {1234567.5, 1234568}, {-1234567.5, -1234568},
        {0.25, 0},  {-0.75, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scaled);
        const double v = with_exact_product(row.scaled);
        ASSERT_EQ(v * 1e10, row.scaled);
        const auto f = fp(real(v));
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ((*f)[0], row.expected);
        EXPECT_EQ((*f)[1], 0);
    }
}

TEST(Fingerprint, ValuesWithinHalfAQuantumShareAFingerprint) {
    const Expression v0 = variable_leaf(0);
    // v0's scaled sample values have fractions .015, .006, .499, .599, .596:
    // a shift of 0.001 quanta crosses no rounding boundary, 1 quantum does.
    EXPECT_EQ(fp(binary(kPlus, v0, real(1e-13))), fp(v0));
    EXPECT_NE(fp(binary(kPlus, v0, real(1e-10))), fp(v0));
    EXPECT_EQ(fp(real(0.1e-10)), fp(real(0.3e-10)));
    EXPECT_EQ(fp(real(0.1e-10)), fp(real(-0.3e-10)));
    EXPECT_NE(fp(real(0.3e-10)), fp(real(0.7e-10)));
}

TEST(Fingerprint, QuantizeRejectsAnyAbsentSample) {
    const SampleValues values = sample_values(variable_leaf(0), registry());
    for (std::size_t s = 0; s < kSampleCount; ++s) {
        SCOPED_TRACE(s);
        EXPECT_BITS_EQ(values[s], sample_input(s, 0));
        SampleValues broken = values;
        broken[s] = kAbsent;
        EXPECT_FALSE(quantize(broken).has_value());
    }
    EXPECT_EQ(quantize(values), fp(variable_leaf(0)));
}

}  // namespace
}  // namespace kiv
