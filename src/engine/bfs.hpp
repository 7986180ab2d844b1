// run_bfs: the level-wise beam search over formula size.
//
// Level 1 holds the free constant and one variable per input column; level c
// applies every one-argument operator to level c-1 and every two-argument
// operator to pairs of lower levels whose sizes add up to c-1. Candidates
// whose fingerprint was seen before are dropped before any evaluation on
// data; the rest are evaluated in parallel, their constants refined, scored,
// offered to the Pareto front and cut to the beam width. Progress goes to
// the caller's ProgressOutput.
//
// Deterministic: for the same data and configuration the results and every
// printed line except timings are the same for any number of threads. Call
// from one thread; the parallel steps run on the process-wide worker pool.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "config.hpp"
#include "engine/data_warnings.hpp"
#include "engine/search_hooks.hpp"
#include "result.hpp"
#include "search_error.hpp"

namespace kiv {

// The refusal of data or settings that no search can run with.
std::optional<SearchError> check_input(const std::vector<std::vector<double>>& rows, const std::vector<double>& targets,
                                       const SearchConfig& config);

// check_input, then the data warnings of accepted data sent to `warn` (when set).
std::optional<SearchError> admit(const std::vector<std::vector<double>>& rows, const std::vector<double>& targets,
                                 const SearchConfig& config, const WarningSink& warn);

// The strict Pareto front in descending complexity (lowest error first), or
// InvalidInput / NoFormulaFound. When `hooks.cancel` asks to stop, the search
// throws SearchCancelled.
Outcome<std::vector<SearchResult>> run_bfs(const std::vector<std::vector<double>>& rows,
                                           const std::vector<double>& targets, const SearchConfig& config,
                                           const SearchHooks& hooks = {});

// How a search ended: before its last level on a formula that fits well
// enough (the early exit), after its last level, or by its cancel hook.
enum class SearchEnd { ExactFit, AllLevels, Stopped };

// The front of a search that may have been stopped before its last level.
struct PartialFront {
    std::vector<SearchResult> front;   // as run_bfs returns it
    std::size_t levels_completed = 0;  // the front holds every candidate of levels 1 to this one
    SearchEnd end = SearchEnd::AllLevels;
};

// run_bfs for a caller that may stop the search and still want its answer:
// once `hooks.cancel` returns true the search ends at its next poll and
// returns the front of the levels completed so far, constants refitted as usual.
Outcome<PartialFront> run_bfs_until(const std::vector<std::vector<double>>& rows, const std::vector<double>& targets,
                                    const SearchConfig& config, const SearchHooks& hooks);

}  // namespace kiv
