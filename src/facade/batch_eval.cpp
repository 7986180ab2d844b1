#include "facade/batch_eval.hpp"

#include <limits>

namespace kiv {
namespace {

std::vector<std::vector<Complex>> complex_rows(const std::vector<std::vector<double>>& rows) {
    std::vector<std::vector<Complex>> out;
    out.reserve(rows.size());
    for (const auto& row : rows) {
        auto& complex_row = out.emplace_back();
        complex_row.reserve(row.size());
        for (const double value : row) complex_row.push_back({value, 0.0});
    }
    return out;
}

}  // namespace

std::vector<double> eval_batch(const SearchResult& result, const std::vector<std::vector<double>>& rows) {
    const auto inputs = complex_rows(rows);
    std::vector<Complex> stack;
    stack.reserve(result.expression.complexity);
    std::vector<double> values;
    values.reserve(rows.size());
    for (const auto& row : inputs) {
        stack.clear();
        const auto value = eval_internal(result.expression.tokens, row, {}, *result.registry, stack);
        values.push_back(value ? value->re : std::numeric_limits<double>::quiet_NaN());
    }
    return values;
}

}  // namespace kiv
