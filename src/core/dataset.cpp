#include "core/dataset.hpp"

#include <algorithm>

#include "ops/operator.hpp"

namespace kiv {

Dataset Dataset::from_rows(const std::vector<std::vector<double>>& rows) {
    Dataset data;
    data.rows = rows.size();
    const std::size_t width = rows.empty() ? 0 : rows.front().size();
    data.min_row_length = width;
    for (const auto& row : rows) data.min_row_length = std::min(data.min_row_length, row.size());
    data.columns.assign(width, std::vector<Complex>(rows.size(), kAbsent));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t j = 0; j < std::min(width, rows[r].size()); ++j) data.columns[j][r] = {rows[r][j], 0.0};
    return data;
}

}  // namespace kiv
