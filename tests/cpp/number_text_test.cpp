#include <gtest/gtest.h>

#include <limits>

#include "core/number_text.hpp"

namespace kiv {
namespace {

struct Row {
    double value;
    const char* text;
};

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(NumberText, FixedTextHasFourCorrectlyRoundedDecimals) {
    const Row rows[] = {
        {0.1, "0.1000"},
        {2.5, "2.5000"},
        {-1.23456, "-1.2346"},
        {1e20, "100000000000000000000.0000"},
        {0.03125, "0.0312"},   // exact tie, rounds to even
        {0.09375, "0.0938"},   // exact tie, rounds to even
        {0.00005, "0.0001"},   // just above the tie in binary
        {-0.0, "-0.0000"},
        {-0.00001, "-0.0000"},
        {0.0, "0.0000"},
        {kInf, "inf"},
        {-kInf, "-inf"},
        {kNaN, "NaN"},
        {-kNaN, "NaN"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(fixed4_text(row.value), row.text);
    }
}

TEST(NumberText, FixedTextOfLargestDoubleIsComplete) {
    const std::string text = fixed4_text(std::numeric_limits<double>::max());
    EXPECT_EQ(text.size(), 309u + 5u);
    EXPECT_EQ(text.substr(0, 6), "179769");
    EXPECT_EQ(text.substr(text.size() - 5), ".0000");
}

TEST(NumberText, ExponentTextHasSixDigitsAndBareExponent) {
    const Row rows[] = {
        {0.0, "0.000000e0"},
        {-0.0, "-0.000000e0"},
        {0.00123456789, "1.234568e-3"},
        {12345.0, "1.234500e4"},
        {-2.5, "-2.500000e0"},
        {1e100, "1.000000e100"},
        {1.5e-300, "1.500000e-300"},
        {12345685.0, "1.234568e7"},  // exact tie, rounds to even
        {12345675.0, "1.234568e7"},  // exact tie, rounds to even
        {kInf, "inf"},
        {-kInf, "-inf"},
        {kNaN, "NaN"},
        {-kNaN, "NaN"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(exponent_text(row.value), row.text);
    }
}

}  // namespace
}  // namespace kiv
