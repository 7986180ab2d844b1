#include "engine/finalize_result.hpp"

#include <algorithm>
#include <limits>

#include "engine/constant_refiner.hpp"

namespace kiv {

namespace {

constexpr std::size_t kFinalRefinementIterations = 30;

}  // namespace

Outcome<std::vector<SearchResult>> finalize_result(const ParetoFront& front, const RegistryHandle& registry,
                                                   const SearchConfig& config, const Dataset& data,
                                                   std::span<const double> targets) {
    std::map<std::size_t, ParetoFront::Entry> entries = front.entries();
    if (entries.empty()) return SearchError::no_formula_found(config.max_complexity);

    ConstantRefiner refiner(kFinalRefinementIterations, error_scale(targets));
    BlockEvaluator evaluator;
    PreparedExpression prepared;
    std::vector<SearchResult> results;
    double best = std::numeric_limits<double>::infinity();
    for (auto& [complexity, entry] : entries) {
        // The refined pair replaces the stored one even when its error is
        // higher, except after a refinement that ran off to -inf: a negative
        // alpha rewards ever larger constants without bound, and a result
        // must carry a finite error, so the stored pair stays.
        if (config.optimize_constants && entry.expression.n_params > 0) {
            prepared.prepare(entry.expression.tokens, data, *registry);
            const Refinement refined =
                refiner.refine({prepared, targets, Penalty{config.alpha, config.l1_ratio}}, evaluator);
            if (refined.error != -std::numeric_limits<double>::infinity()) {
                set_param_values(entry.expression.tokens, refined.constants);
                entry.error = refined.error;
            }
        }
        if (!(entry.error < best)) continue;
        best = entry.error;
        results.push_back(SearchResult{std::move(entry.expression), registry, entry.error});
    }
    std::reverse(results.begin(), results.end());
    return results;
}

}  // namespace kiv
