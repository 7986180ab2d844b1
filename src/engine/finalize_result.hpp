// finalize_result: the search's answer from its Pareto front. Each entry's
// constants are refined once more, with a larger iteration budget than
// during the search, and the entries that beat every simpler one become the
// results. Pure; call from one thread. refit_result does the same for a
// formula found elsewhere (on transformed targets, say).
#pragma once

#include <span>
#include <vector>

#include "config.hpp"
#include "core/dataset.hpp"
#include "engine/pareto_front.hpp"
#include "result.hpp"
#include "search_error.hpp"

namespace kiv {

// The strict Pareto front in descending complexity (lowest error first), each
// entry refined once more with 30 iterations; NoFormulaFound if the front is empty.
Outcome<std::vector<SearchResult>> finalize_result(const ParetoFront& front, const RegistryHandle& registry,
                                                   const SearchConfig& config, const Dataset& data,
                                                   std::span<const double> targets);

// `expression` as a result on these data: its error as the search computes
// it (+inf where a row has no acceptable value), then its constants refined
// as finalize_result refines the front's. Targets must have one value per row.
SearchResult refit_result(Expression expression, const RegistryHandle& registry, const SearchConfig& config,
                          const Dataset& data, std::span<const double> targets);

}  // namespace kiv
