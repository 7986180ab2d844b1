// Searcher: the engine facade. Holds one SearchConfig and turns the four
// kinds of request into calls of run_bfs.
//
// Immutable after construction and cheap to copy; per-call overrides produce
// a copy (with_overrides). Requests run on the calling thread, block until
// the search ends and share nothing between calls; each request's
// SearchHooks carry its cancel check, warnings and report. Python-free.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "config.hpp"
#include "engine/bfs.hpp"
#include "engine/level_search.hpp"
#include "result.hpp"
#include "search_error.hpp"

namespace kiv {

class Searcher {
public:
    explicit Searcher(const SearchConfig& config) : config_(config) {}

    const SearchConfig& config() const { return config_; }

    // A copy whose alpha and l1_ratio are replaced where a value is given.
    Searcher with_overrides(std::optional<double> alpha, std::optional<double> l1_ratio) const;

    // Best formula for ys over one variable: xs[i] is the single input of sample i.
    Outcome<SearchResult> find_function(const std::vector<double>& xs, const std::vector<double>& ys,
                                        const SearchHooks& hooks = {}) const;

    // Best formula for ys over the inputs of each row (column j is v_{j}).
    Outcome<SearchResult> find_multivariate(const std::vector<std::vector<double>>& rows, const std::vector<double>& ys,
                                            const SearchHooks& hooks = {}) const;

    // The whole strict Pareto front, descending complexity (lowest error first).
    Outcome<std::vector<SearchResult>> find_candidates(const std::vector<std::vector<double>>& rows,
                                                       const std::vector<double>& ys,
                                                       const SearchHooks& hooks = {}) const;

    // find_candidates for a caller that may stop the search early and still
    // wants the front of the levels completed by then.
    Outcome<PartialFront> find_candidates_until(const std::vector<std::vector<double>>& rows,
                                                const std::vector<double>& ys, const SearchHooks& hooks) const;

    // `result` on other data: its error as a search on them computes it,
    // its constants refined as a search refines its answers.
    Outcome<SearchResult> refit(const SearchResult& result, const std::vector<std::vector<double>>& rows,
                                const std::vector<double>& ys) const;

    // A search to run one level at a time (see LevelSearch), or the refusal of
    // the data; the data warnings go to hooks.warn first.
    Outcome<std::unique_ptr<LevelSearch>> start_levels(const std::vector<std::vector<double>>& rows,
                                                       const std::vector<double>& ys, const SearchHooks& hooks) const;

    // Best closed form for `value`: one sample whose only input is 0.0.
    Outcome<SearchResult> recognize_constant(double value, const SearchHooks& hooks = {}) const;

private:
    SearchConfig config_;
};

}  // namespace kiv
