#include "engine/finalize_result.hpp"

#include <algorithm>
#include <limits>

#include "engine/constant_refiner.hpp"

namespace kiv {

namespace {

constexpr std::size_t kFinalRefinementIterations = 30;

// The last refinement of a result's constants. The refined pair replaces the
// given one even when its error is higher, except after a refinement that
// ran off to -inf: a negative alpha rewards ever larger constants without
// bound, and a result must carry a finite error, so the given pair stays.
class FinalRefinement {
public:
    FinalRefinement(const SearchConfig& config, const Dataset& data, std::span<const double> targets,
                    const OperatorRegistry& registry)
        : config_(config),
          data_(data),
          targets_(targets),
          registry_(registry),
          refiner_(kFinalRefinementIterations, error_scale(targets)) {}

    void apply(Expression& expression, double& error) {
        if (!config_.optimize_constants || expression.n_params == 0) return;
        prepared_.prepare(expression.tokens, data_, registry_);
        const Refinement refined = refiner_.refine({prepared_, targets_, penalty()}, evaluator_);
        if (refined.error == -std::numeric_limits<double>::infinity()) return;
        set_param_values(expression.tokens, refined.constants);
        error = refined.error;
    }

    double raw_error(const Expression& expression) {
        prepared_.prepare(expression.tokens, data_, registry_);
        return compute_raw_error({prepared_, targets_, penalty()}, evaluator_);
    }

private:
    Penalty penalty() const { return Penalty{config_.alpha, config_.l1_ratio}; }

    const SearchConfig& config_;
    const Dataset& data_;
    std::span<const double> targets_;
    const OperatorRegistry& registry_;
    ConstantRefiner refiner_;
    BlockEvaluator evaluator_;
    PreparedExpression prepared_;
};

}  // namespace

Outcome<std::vector<SearchResult>> finalize_result(const ParetoFront& front, const RegistryHandle& registry,
                                                   const SearchConfig& config, const Dataset& data,
                                                   std::span<const double> targets) {
    std::map<std::size_t, ParetoFront::Entry> entries = front.entries();
    if (entries.empty()) return SearchError::no_formula_found(config.max_complexity);

    FinalRefinement refinement(config, data, targets, *registry);
    std::vector<SearchResult> results;
    double best = std::numeric_limits<double>::infinity();
    for (auto& [complexity, entry] : entries) {
        refinement.apply(entry.expression, entry.error);
        if (!(entry.error < best)) continue;
        best = entry.error;
        results.push_back(SearchResult{std::move(entry.expression), registry, entry.error});
    }
    std::reverse(results.begin(), results.end());
    return results;
}

SearchResult refit_result(Expression expression, const RegistryHandle& registry, const SearchConfig& config,
                          const Dataset& data, std::span<const double> targets) {
    FinalRefinement refinement(config, data, targets, *registry);
    double error = refinement.raw_error(expression);
    refinement.apply(expression, error);
    return SearchResult{std::move(expression), registry, error};
}

}  // namespace kiv
