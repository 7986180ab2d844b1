// run_bfs: the level-wise beam search over formula size.
//
// Level 1 holds the free constant and one variable per input column; level c
// applies every one-argument operator to level c-1 and every two-argument
// operator to pairs of lower levels whose sizes add up to c-1. Candidates
// whose fingerprint was seen before are dropped before any evaluation on
// data; the rest are evaluated in parallel, their constants refined, scored,
// offered to the Pareto front and cut to the beam width. Progress goes to
// standard output.
//
// Deterministic: for the same data and configuration the results and every
// printed line except timings are the same for any number of threads. Call
// from one thread; the parallel steps run on the process-wide worker pool.
#pragma once

#include <cstddef>
#include <vector>

#include "config.hpp"
#include "engine/cancel.hpp"
#include "engine/data_warnings.hpp"
#include "result.hpp"
#include "search_error.hpp"

namespace kiv {

// What one level did, for benchmarks and diagnostics.
struct LevelStats {
    std::size_t level = 0;
    std::size_t generated = 0;  // candidates built, duplicates included
    std::size_t kept = 0;       // new after deduplication; each is evaluated
    std::size_t scored = 0;     // evaluated with a finite error
    std::size_t retained = 0;   // kept in the level's bucket
    double seconds = 0.0;
};

// The strict Pareto front in descending complexity (lowest error first), or
// InvalidInput / NoFormulaFound. `cancel` is polled on the calling thread;
// when it returns true the search throws SearchCancelled. Accepted data get
// their data_warnings sent to `warn` before the search starts. With `stats`,
// one entry per level from 2 on is appended.
Outcome<std::vector<SearchResult>> run_bfs(const std::vector<std::vector<double>>& rows,
                                           const std::vector<double>& targets, const SearchConfig& config,
                                           const CancelCheck& cancel = {}, const WarningSink& warn = {},
                                           std::vector<LevelStats>* stats = nullptr);

}  // namespace kiv
