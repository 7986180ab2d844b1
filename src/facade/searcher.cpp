#include "facade/searcher.hpp"

#include "engine/bfs.hpp"
#include "engine/finalize_result.hpp"
#include "invariant.hpp"

namespace kiv {
namespace {

// The lowest-error record: the first of the list, which a successful search
// never leaves empty.
Outcome<SearchResult> first_result(Outcome<std::vector<SearchResult>> outcome) {
    if (auto* error = std::get_if<SearchError>(&outcome)) return std::move(*error);
    auto& results = std::get<std::vector<SearchResult>>(outcome);
    if (results.empty()) throw InvariantViolation("search succeeded with an empty result list in src/facade/searcher");
    return std::move(results.front());
}

}  // namespace

Searcher Searcher::with_overrides(std::optional<double> alpha, std::optional<double> l1_ratio) const {
    Searcher copy = *this;
    if (alpha) copy.config_.alpha = *alpha;
    if (l1_ratio) copy.config_.l1_ratio = *l1_ratio;
    return copy;
}

Outcome<SearchResult> Searcher::find_function(const std::vector<double>& xs, const std::vector<double>& ys,
                                              const SearchHooks& hooks) const {
    std::vector<std::vector<double>> rows;
    rows.reserve(xs.size());
    for (const double x : xs) rows.push_back({x});
    return find_multivariate(rows, ys, hooks);
}

Outcome<SearchResult> Searcher::find_multivariate(const std::vector<std::vector<double>>& rows,
                                                  const std::vector<double>& ys, const SearchHooks& hooks) const {
    return first_result(find_candidates(rows, ys, hooks));
}

Outcome<std::vector<SearchResult>> Searcher::find_candidates(const std::vector<std::vector<double>>& rows,
                                                             const std::vector<double>& ys,
                                                             const SearchHooks& hooks) const {
    return run_bfs(rows, ys, config_, hooks);
}

Outcome<PartialFront> Searcher::find_candidates_until(const std::vector<std::vector<double>>& rows,
                                                      const std::vector<double>& ys, const SearchHooks& hooks) const {
    return run_bfs_until(rows, ys, config_, hooks);
}

Outcome<std::unique_ptr<LevelSearch>> Searcher::start_levels(const std::vector<std::vector<double>>& rows,
                                                             const std::vector<double>& ys,
                                                             const SearchHooks& hooks) const {
    if (auto error = admit(rows, ys, config_, hooks.warn)) return *error;
    return std::make_unique<LevelSearch>(rows, ys, config_, hooks);
}

Outcome<SearchResult> Searcher::refit(const SearchResult& result, const std::vector<std::vector<double>>& rows,
                                      const std::vector<double>& ys) const {
    if (auto error = check_input(rows, ys, config_)) return *error;
    return refit_result(result.expression, result.registry, config_, Dataset::from_rows(rows), ys);
}

Outcome<SearchResult> Searcher::recognize_constant(double value, const SearchHooks& hooks) const {
    const std::vector<std::vector<double>> origin{std::vector<double>{0.0}};
    return find_multivariate(origin, {value}, hooks);
}

}  // namespace kiv
