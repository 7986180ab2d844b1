#include "data_warnings.hpp"

#include <cmath>
#include <cstddef>

namespace kiv {
namespace {

std::string counted(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " NaN or infinite value" : " NaN or infinite values");
}

}  // namespace

std::vector<std::string> data_warnings(const std::vector<std::vector<double>>& rows,
                                       const std::vector<double>& targets) {
    std::vector<std::string> warnings;
    if (rows.empty() || rows.size() != targets.size()) return warnings;
    std::size_t count = 0, first_row = 0, first_column = 0;
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            if (!std::isfinite(rows[r][c]) && count++ == 0) first_row = r, first_column = c;
    if (count > 0) {
        const std::string row = std::to_string(first_row), column = std::to_string(first_column);
        warnings.push_back("The inputs hold " + counted(count) + ", the first at row " + row + ", column " + column +
                           ": on row " + row + ", formulas using column " + column +
                           " are dropped unless they turn it into a finite value.");
    }
    count = 0;
    for (std::size_t r = 0; r < targets.size(); ++r)
        if (!std::isfinite(targets[r]) && count++ == 0) first_row = r;
    if (count > 0)
        warnings.push_back("The targets hold " + counted(count) + ", the first at row " + std::to_string(first_row) +
                           ": every error is NaN or infinite, so no formula can be found.");
    return warnings;
}

}  // namespace kiv
