#include <gtest/gtest.h>

#include <limits>

#include "core/dataset.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

TEST(Dataset, ColumnsHoldRowValuesAsComplexWithZeroImaginaryPart) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Dataset data = Dataset::from_rows({{1, -0.0}, {nan, 4}, {5, 6}});
    EXPECT_EQ(data.rows, 3u);
    EXPECT_EQ(data.min_row_length, 2u);
    ASSERT_EQ(data.columns.size(), 2u);
    EXPECT_BITS_EQ(data.columns[0][0], (Complex{1, 0}));
    EXPECT_BITS_EQ(data.columns[1][0], (Complex{-0.0, 0}));
    EXPECT_BITS_EQ(data.columns[0][1], (Complex{nan, 0}));
    EXPECT_BITS_EQ(data.columns[1][2], (Complex{6, 0}));
}

TEST(Dataset, RaggedRowsLeaveAbsentCellsAndLowerTheMinimumLength) {
    const Dataset data = Dataset::from_rows({{1, 2, 3}, {4}, {5, 6, 7, 8}});
    EXPECT_EQ(data.min_row_length, 1u);
    ASSERT_EQ(data.columns.size(), 3u) << "width is the first row's length";
    EXPECT_BITS_EQ(data.columns[1][1], kAbsent);
    EXPECT_BITS_EQ(data.columns[2][1], kAbsent);
    EXPECT_BITS_EQ(data.columns[2][2], (Complex{7, 0}));

    const Dataset short_first = Dataset::from_rows({{1}, {2, 3}});
    EXPECT_EQ(short_first.min_row_length, 1u);
    EXPECT_EQ(short_first.columns.size(), 1u);
}

TEST(Dataset, NoRowsGiveNoColumns) {
    const Dataset data = Dataset::from_rows({});
    EXPECT_EQ(data.rows, 0u);
    EXPECT_EQ(data.min_row_length, 0u);
    EXPECT_TRUE(data.columns.empty());
}

}  // namespace
}  // namespace kiv
