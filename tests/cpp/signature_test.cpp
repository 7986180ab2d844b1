#include "core/signature.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "test_util.hpp"

namespace kiv {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

std::optional<Fingerprint> fp(const Expression& e) { return fingerprint(e, builtins()); }

// The double v nearest to target / 1e10 whose product v * 1e10 is exactly
// `target`, so that quantisation sees an exact half.
double with_exact_product(double target) {
    double v = target / 1e10;
    for (int step = 0; step < 64 && v * 1e10 != target; ++step)
        v = std::nextafter(v, v * 1e10 < target ? kInf : -kInf);
    EXPECT_EQ(v * 1e10, target) << "no double with that exact product";
    return v;
}

TEST(Fingerprint, LeafFingerprintsAreTheQuantisedSamplePoints) {
    EXPECT_EQ(fp(variable_leaf(0)), (Fingerprint{5772156649, 0, 12824271291, 1000000000, 16180339887, 0, 6931471806,
                                                 1000000000, 12020569032, 0}));
    EXPECT_EQ(fp(variable_leaf(1)), (Fingerprint{12824271291, 0, 16180339887, 2000000000, 6931471806, 0,
                                                 12020569032, 2000000000, 5772156649, 0}));
    EXPECT_EQ(fp(parameter_leaf()),
              (Fingerprint{1000000000, 0, 1000000000, 0, 1000000000, 0, 1000000000, 0, 1000000000, 0}));
    // Columns five apart share real parts; odd samples' imaginary parts grow with the column.
    EXPECT_EQ(fp(variable_leaf(5)), (Fingerprint{5772156649, 0, 12824271291, 6000000000, 16180339887, 0, 6931471806,
                                                 6000000000, 12020569032, 0}));
}

TEST(Fingerprint, UndefinedOrOutOfRangeExpressionsHaveNone) {
    const Expression v0 = variable_leaf(0);
    EXPECT_FALSE(fp(unary(kLog, binary(kSubtract, v0, v0))).has_value());
    const Expression triple_exp = unary(kExp, unary(kExp, unary(kExp, v0)));
    EXPECT_FALSE(fp(triple_exp).has_value());
    const SampleValues values = sample_values(triple_exp, builtins());
    EXPECT_NEAR(values[0].re, 378.5, 0.1);
    EXPECT_NEAR(values[1].re, 4.82e14, 0.01e14);
    EXPECT_BITS_EQ(values[2], kAbsent);
    for (const Complex leaf : {Complex{kNaN, 0}, Complex{0, kNaN}, Complex{kInf, 0}, Complex{1e15, 0},
                               Complex{0, -1e15}}) {
        SCOPED_TRACE(testing::PrintToString(leaf));
        EXPECT_FALSE(fp(param_leaf(leaf)).has_value());
    }
}

TEST(Fingerprint, QuantaRoundHalfAwayFromZeroAndClampToTheIntegerRange) {
    struct Row {
        double value;
        std::int64_t expected;
    };
    const Row rows[] = {
        {with_exact_product(0.5), 1},     {with_exact_product(2.5), 3},  {with_exact_product(1234567.5), 1234568},
        {with_exact_product(0.25), 0},    {with_exact_product(0.75), 1}, {1e9, kMax},
        {9.99e14, kMax},                  {with_exact_product(0x1p63), kMax},
        {922337203.0, 9223372030000000000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        const auto f = fp(param_leaf({row.value, -row.value}));
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ((*f)[0], row.expected);
        EXPECT_EQ((*f)[1], row.expected == kMax ? kMin : -row.expected);
    }
}

TEST(Fingerprint, EqualValuesAndValuesWithinHalfAQuantumShareAFingerprint) {
    const Expression v0 = variable_leaf(0), v1 = variable_leaf(1);
    EXPECT_EQ(fp(binary(kPlus, v0, v1)), fp(binary(kPlus, v1, v0)));
    EXPECT_NE(fp(binary(kSubtract, v0, v1)), fp(binary(kSubtract, v1, v0)));
    EXPECT_EQ(fp(unary(kNeg, unary(kNeg, v0))), fp(v0));
    // v0's scaled sample values have fractions .015, .006, .499, .599, .596:
    // a shift of 0.001 quanta crosses no rounding boundary, 1 quantum does.
    EXPECT_EQ(fp(binary(kPlus, v0, real_leaf(1e-13))), fp(v0));
    EXPECT_NE(fp(binary(kPlus, v0, real_leaf(1e-10))), fp(v0));
    EXPECT_EQ(fp(real_leaf(0.1e-10)), fp(real_leaf(-0.3e-10)));
    EXPECT_NE(fp(real_leaf(0.3e-10)), fp(real_leaf(0.7e-10)));
}

}  // namespace
}  // namespace kiv
