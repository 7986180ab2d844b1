// ParetoFront: the lowest error seen for each complexity, with the expression
// that reached it. Entries are added or replaced, never removed; only a
// strictly lower error replaces an entry, and a NaN error is never stored.
//
// Every operation locks the front's mutex. The search touches the front only
// from its calling thread, so the lock is never contended.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <span>
#include <vector>

#include "config.hpp"
#include "core/dataset.hpp"
#include "core/expression.hpp"
#include "result.hpp"
#include "search_error.hpp"

namespace kiv {

class ParetoFront {
public:
    struct Entry {
        double error;
        Expression expression;
    };

    // True when update_pareto(error, expression of this complexity) would store.
    bool would_accept(std::size_t complexity, double error) const;

    // Stores (error, copy of expression) when it would accept it.
    void update(double error, const Expression& expression);

    // True at the first entry (ascending complexity) whose error is not
    // greater than threshold (NaN counts); never when exhaustive.
    bool check_early_exit(double threshold, bool exhaustive) const;

    // Copy of the entries in ascending complexity.
    std::map<std::size_t, Entry> entries() const;

private:
    mutable std::mutex mutex_;
    std::map<std::size_t, Entry> entries_;
};

void update_pareto(double error, ParetoFront& front, const Expression& expression);

// Offers the expression's raw error to the front if it is finite.
void score_and_update(const Expression& expression, const Dataset& data, std::span<const double> targets,
                      ParetoFront& front, const OperatorRegistry& registry, double alpha, double l1_ratio);

bool check_early_exit(double threshold, const ParetoFront& front, bool exhaustive);

// The strict Pareto front in descending complexity (lowest error first), each
// entry refined once more with 30 iterations; NoFormulaFound if the front is empty.
Outcome<std::vector<SearchResult>> finalize_result(const ParetoFront& front, const RegistryHandle& registry,
                                                   const SearchConfig& config, const Dataset& data,
                                                   std::span<const double> targets);

}  // namespace kiv
