#include "result.hpp"

#include <limits>
#include <vector>

namespace kiv {

double SearchResult::eval_multi(std::span<const double> x) const {
    std::vector<Complex> row;
    row.reserve(x.size());
    for (const double value : x) row.push_back({value, 0.0});
    const std::optional<Complex> value = expression.eval(row, *registry);
    return value ? value->re : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace kiv
