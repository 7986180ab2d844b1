// run_bfs: the level-wise beam search over formula size.
//
// Level 1 holds the free constant and one variable per input column; level c
// applies every one-argument operator to level c-1 and every two-argument
// operator to pairs of lower levels whose sizes add up to c-1. Candidates
// whose fingerprint was seen before are dropped before any evaluation on
// data; the rest are evaluated in parallel, their constants fitted, scored,
// offered to the Pareto front and cut to the beam width. Progress goes to
// standard output.
//
// Deterministic: for the same data and configuration the results and every
// printed line except timings are the same for any number of threads. Call
// from one thread; the parallel steps run on the process-wide worker pool.
#pragma once

#include <vector>

#include "config.hpp"
#include "engine/cancel.hpp"
#include "result.hpp"
#include "search_error.hpp"

namespace kiv {

// The strict Pareto front in descending complexity (lowest error first), or
// InvalidInput / NoFormulaFound. `cancel` is polled on the calling thread;
// when it returns true the search throws SearchCancelled.
Outcome<std::vector<SearchResult>> run_bfs(const std::vector<std::vector<double>>& rows,
                                           const std::vector<double>& targets, const SearchConfig& config,
                                           const CancelCheck& cancel = {});

}  // namespace kiv
