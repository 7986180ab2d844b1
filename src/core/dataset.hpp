// Dataset: the input rows of a search as complex columns, the layout that
// block evaluation reads. Built once per search and shared read-only.
//
// Rows may be ragged. Block evaluation treats an expression that reads a
// column missing from any row as absent on every row; for the error and
// constant refinement that is exact, since one absent row already makes the
// error infinite whatever the other rows hold.
#pragma once

#include <cstddef>
#include <vector>

#include "ops/complex.hpp"

namespace kiv {

struct Dataset {
    std::size_t rows = 0;
    // Length of the shortest row: columns at or beyond it are incomplete.
    std::size_t min_row_length = 0;
    // columns[j][r] = (row r's value j, 0); kAbsent where row r is too short.
    std::vector<std::vector<Complex>> columns;

    // Columns are made for the first row's length, as the search reads no more.
    static Dataset from_rows(const std::vector<std::vector<double>>& rows);
};

}  // namespace kiv
