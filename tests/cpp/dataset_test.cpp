#include "core/dataset.hpp"

#include <gtest/gtest.h>

#include "test_util.hpp"

namespace kiv {
namespace {

TEST(Dataset, ColumnsOfTheFirstRowsWidthHoldRealValuesAndAbsentCellsWhereRowsAreShort) {
    const Dataset data = Dataset::from_rows({{1, -0.0, 3}, {kNaN}, {5, 6, 7, 8}});
    EXPECT_EQ(data.rows, 3u);
    EXPECT_EQ(data.min_row_length, 1u);
    ASSERT_EQ(data.columns.size(), 3u) << "width is the first row's length";
    EXPECT_BITS_EQ(data.columns[0][0], (Complex{1, 0}));
    EXPECT_BITS_EQ(data.columns[1][0], (Complex{-0.0, 0}));
    EXPECT_BITS_EQ(data.columns[0][1], (Complex{kNaN, 0}));
    EXPECT_BITS_EQ(data.columns[1][1], kAbsent);
    EXPECT_BITS_EQ(data.columns[2][1], kAbsent);
    EXPECT_BITS_EQ(data.columns[2][2], (Complex{7, 0}));

    const Dataset short_first = Dataset::from_rows({{1}, {2, 3}});
    EXPECT_EQ(short_first.min_row_length, 1u);
    EXPECT_EQ(short_first.columns.size(), 1u);
    const Dataset empty = Dataset::from_rows({});
    EXPECT_EQ(empty.rows, 0u);
    EXPECT_EQ(empty.min_row_length, 0u);
    EXPECT_TRUE(empty.columns.empty());
}

}  // namespace
}  // namespace kiv
