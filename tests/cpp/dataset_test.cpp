#include "core/dataset.hpp"

#include <gtest/gtest.h>

#include "test_util.hpp"

namespace kiv {
namespace {

// The shortest row decides which columns every row has; values keep their bits.
TEST(Dataset, ColumnsHoldRealValuesAndTheShortestRowBoundsTheColumnsOfEveryRow) {
    const Dataset data = Dataset::from_rows({{1, -0.0, 3}, {kNaN}, {5, 6, 7, 8}});
    EXPECT_EQ(data.rows, 3u);
    EXPECT_EQ(data.min_row_length, 1u);
    ASSERT_GE(data.columns.size(), 2u);
    EXPECT_BITS_EQ(data.columns[0][1], (Complex{kNaN, 0}));
    EXPECT_BITS_EQ(data.columns[1][0], (Complex{-0.0, 0}));
    EXPECT_EQ(Dataset::from_rows({{1}, {2, 3}}).min_row_length, 1u);
    const Dataset empty = Dataset::from_rows({});
    EXPECT_EQ(empty.rows, 0u);
    EXPECT_EQ(empty.min_row_length, 0u);
}

}  // namespace
}  // namespace kiv
