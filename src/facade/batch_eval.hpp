// Batch evaluation of a found formula: one value per input row, as
// SearchResult::eval_multi gives for a single row, with one evaluation stack
// reused for all rows.
//
// Reads the record only; safe to call concurrently on the same record.
#pragma once

#include <vector>

#include "result.hpp"

namespace kiv {

// Real part of the formula at each row, NaN where it has no value (for
// example a row shorter than the formula's variables). Rows may differ in length.
std::vector<double> eval_batch(const SearchResult& result, const std::vector<std::vector<double>>& rows);

}  // namespace kiv
