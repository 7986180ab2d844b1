#include "engine/pareto_front.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/optimizer.hpp"
#include "engine/scoring.hpp"

namespace kiv {

namespace {

constexpr std::size_t kFinalRefinementIterations = 30;

// Strict comparison: NaN never improves on anything, nor fills an empty slot.
bool improves(const std::map<std::size_t, ParetoFront::Entry>& entries, std::size_t complexity, double error) {
    if (std::isnan(error)) return false;
    const auto it = entries.find(complexity);
    return it == entries.end() || error < it->second.error;
}

}  // namespace

bool ParetoFront::would_accept(std::size_t complexity, double error) const {
    const std::lock_guard lock(mutex_);
    return improves(entries_, complexity, error);
}

void ParetoFront::update(double error, const Expression& expression) {
    const std::lock_guard lock(mutex_);
    if (improves(entries_, expression.complexity, error))
        entries_.insert_or_assign(expression.complexity, Entry{error, expression});
}

bool ParetoFront::check_early_exit(double threshold, bool exhaustive) const {
    if (exhaustive) return false;
    const std::lock_guard lock(mutex_);
    // Not greater rather than at most: an unordered error would qualify too.
    return std::any_of(entries_.begin(), entries_.end(),
                       [threshold](const auto& entry) { return !(entry.second.error > threshold); });
}

std::map<std::size_t, ParetoFront::Entry> ParetoFront::entries() const {
    const std::lock_guard lock(mutex_);
    return entries_;
}

void update_pareto(double error, ParetoFront& front, const Expression& expression) { front.update(error, expression); }

void score_and_update(const Expression& expression, const Dataset& data, std::span<const double> targets,
                      ParetoFront& front, const OperatorRegistry& registry, double alpha, double l1_ratio) {
    const double error = compute_raw_error(alpha, l1_ratio, expression, data, targets, registry);
    if (std::isfinite(error)) front.update(error, expression);
}

bool check_early_exit(double threshold, const ParetoFront& front, bool exhaustive) {
    return front.check_early_exit(threshold, exhaustive);
}

Outcome<std::vector<SearchResult>> finalize_result(const ParetoFront& front, const RegistryHandle& registry,
                                                   const SearchConfig& config, const Dataset& data,
                                                   std::span<const double> targets) {
    std::map<std::size_t, ParetoFront::Entry> entries = front.entries();
    if (entries.empty()) return SearchError::no_formula_found(config.max_complexity);

    ConstantFitter fitter(error_scale(targets));
    std::vector<SearchResult> results;
    double best = std::numeric_limits<double>::infinity();
    for (auto& [complexity, entry] : entries) {
        // The refined pair replaces the stored one even when its error is
        // higher, except after a fit that ran off to -inf: a negative alpha
        // rewards ever larger constants without bound, and a result must
        // carry a finite error, so the stored pair stays.
        if (config.optimize_constants && entry.expression.n_params > 0) {
            std::vector<Token> fitted = entry.expression.tokens;
            const double error = fitter.refine(fitted, data, targets, *registry, kFinalRefinementIterations,
                                               config.alpha, config.l1_ratio);
            if (error != -std::numeric_limits<double>::infinity()) {
                entry.expression.tokens = std::move(fitted);
                entry.error = error;
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
