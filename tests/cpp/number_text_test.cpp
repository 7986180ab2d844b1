#include "core/number_text.hpp"

#include <gtest/gtest.h>

#include "test_util.hpp"

namespace kiv {
namespace {

TEST(NumberText, FixedTextHasFourCorrectlyRoundedDecimals) {
    const std::pair<double, const char*> rows[] = {
        {0.1, "0.1000"},      {-1.23456, "-1.2346"}, {1e20, "100000000000000000000.0000"},
        {0.03125, "0.0312"},  // exact tie, rounds to even
        {0.09375, "0.0938"},  // exact tie, rounds to even
        {0.00005, "0.0001"},  // just above the tie in binary
        {-0.0, "-0.0000"},    {-0.00001, "-0.0000"}, {kInf, "inf"}, {-kInf, "-inf"}, {-kNaN, "NaN"},
    };
    for (const auto& [value, text] : rows) EXPECT_EQ(fixed4_text(value), text) << value;
    const std::string largest = fixed4_text(std::numeric_limits<double>::max());
    EXPECT_EQ(largest.size(), 309u + 5u);
    EXPECT_EQ(largest.substr(0, 6), "179769");
    EXPECT_EQ(largest.substr(largest.size() - 5), ".0000");
}

TEST(NumberText, ExponentTextHasSixDigitsAndBareExponent) {
    const std::pair<double, const char*> rows[] = {
        {0.0, "0.000000e0"},       {-0.0, "-0.000000e0"},    {0.00123456789, "1.234568e-3"},
        {12345.0, "1.234500e4"},   {1e100, "1.000000e100"},  {1.5e-300, "1.500000e-300"},
        {12345685.0, "1.234568e7"},  // exact tie, rounds to even
        {12345675.0, "1.234568e7"},  // exact tie, rounds to even
        {-kInf, "-inf"},           {-kNaN, "NaN"},
    };
    for (const auto& [value, text] : rows) EXPECT_EQ(exponent_text(value), text) << value;
}

}  // namespace
}  // namespace kiv
