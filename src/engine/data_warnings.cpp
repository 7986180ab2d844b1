#include "engine/data_warnings.hpp"

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace kiv {
namespace {

// How many values are NaN or infinite, and where the first of them is.
struct NonFinite {
    std::size_t count = 0;
    std::size_t row = 0;
    std::size_t column = 0;

    void see(double value, std::size_t r, std::size_t c) {
        if (std::isfinite(value)) return;
        if (count++ == 0) row = r, column = c;
    }

    std::string counted() const {
        return std::to_string(count) + (count == 1 ? " NaN or infinite value" : " NaN or infinite values");
    }
};

}  // namespace

std::vector<std::string> data_warnings(const std::vector<std::vector<double>>& rows,
                                       const std::vector<double>& targets) {
    NonFinite inputs, outputs;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) inputs.see(rows[r][c], r, c);
        outputs.see(targets[r], r, 0);
    }
    std::vector<std::string> warnings;
    if (inputs.count > 0) {
        const std::string row = std::to_string(inputs.row), column = std::to_string(inputs.column);
        warnings.push_back("The inputs hold " + inputs.counted() + ", the first at row " + row + ", column " + column +
                           ": on row " + row + ", formulas using column " + column +
                           " are dropped unless they turn it into a finite value.");
    }
    if (outputs.count > 0)
        warnings.push_back("The targets hold " + outputs.counted() + ", the first at row " +
                           std::to_string(outputs.row) +
                           ": every error is NaN or infinite, so no formula can be found.");
    return warnings;
}

}  // namespace kiv
