#include "engine/bfs.hpp"

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "engine/data_warnings.hpp"
#include "engine/level_search.hpp"

namespace kiv {
namespace {

// "<setting> must be <range>; got <value>." for a setting that would make
// every error meaningless.
SearchError setting_refused(const char* setting, const char* range, double value) {
    char text[160];
    std::snprintf(text, sizeof text, "%s must be %s; got %g.", setting, range, value);
    return SearchError::invalid_input(text);
}

// Runs the levels of `search` until it is finished; the cancel hook ends it
// with SearchCancelled.
void run_levels(LevelSearch& search) {
    while (!search.finished()) {
        search.evaluate(0, search.expand());
        search.finish_level();
    }
}

}  // namespace

std::optional<SearchError> check_input(const std::vector<std::vector<double>>& rows, const std::vector<double>& targets,
                                       const SearchConfig& config) {
    if (rows.size() != targets.size() || rows.empty())
        return SearchError::invalid_input("Inputs and target vector must be non-empty and equal length.");
    if (rows.front().size() > kMaxVariables)
        return SearchError::invalid_input("Inputs have " + std::to_string(rows.front().size()) + " columns; at most " +
                                          std::to_string(kMaxVariables) + " input variables are supported.");
    if (config.max_complexity == 0) return SearchError::invalid_input("max_complexity must be at least 1.");
    // A negative or non-finite penalty weight makes errors negative or NaN,
    // and a NaN complexity penalty leaves the candidates unranked.
    if (!(config.alpha >= 0.0 && std::isfinite(config.alpha)))
        return setting_refused("alpha", "a finite number of at least 0", config.alpha);
    if (!(config.l1_ratio >= 0.0 && config.l1_ratio <= 1.0))
        return setting_refused("l1_ratio", "a number from 0 to 1", config.l1_ratio);
    if (std::isnan(config.complexity_penalty))
        return setting_refused("complexity_penalty", "a number", config.complexity_penalty);
    return std::nullopt;
}

std::optional<SearchError> admit(const std::vector<std::vector<double>>& rows, const std::vector<double>& targets,
                                 const SearchConfig& config, const WarningSink& warn) {
    if (auto error = check_input(rows, targets, config)) return error;
    if (warn)
        for (const std::string& warning : data_warnings(rows, targets)) warn(warning);
    return std::nullopt;
}

Outcome<std::vector<SearchResult>> run_bfs(const std::vector<std::vector<double>>& rows,
                                           const std::vector<double>& targets, const SearchConfig& config,
                                           const SearchHooks& hooks) {
    if (auto error = admit(rows, targets, config, hooks.warn)) return *error;
    LevelSearch search(rows, targets, config, hooks);
    run_levels(search);
    return search.result();
}

Outcome<PartialFront> run_bfs_until(const std::vector<std::vector<double>>& rows, const std::vector<double>& targets,
                                    const SearchConfig& config, const SearchHooks& hooks) {
    if (auto error = admit(rows, targets, config, hooks.warn)) return *error;
    LevelSearch search(rows, targets, config, hooks);
    SearchEnd end = SearchEnd::AllLevels;
    try {
        run_levels(search);
        if (search.levels_on_front() < config.max_complexity) end = SearchEnd::ExactFit;
    } catch (const SearchCancelled&) {
        end = SearchEnd::Stopped;
    }
    auto outcome = search.result();
    if (auto* error = std::get_if<SearchError>(&outcome)) return std::move(*error);
    return PartialFront{std::get<std::vector<SearchResult>>(std::move(outcome)), search.levels_on_front(), end};
}

}  // namespace kiv
