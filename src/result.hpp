// SearchResult: one formula returned by a search, with the registry its
// operator ids refer to (shared with the other results of that search, and
// kept alive by them) and its error after the final refinement. Immutable.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "core/expression.hpp"
#include "ops/registry.hpp"

namespace kiv {

struct SearchResult {
    Expression expression;
    RegistryHandle registry;
    double error = 0.0;

    const std::string& formula() const { return expression.formula; }
    std::size_t complexity() const { return expression.complexity; }

    // Real part of the formula at the point x (one value per variable), with
    // the fitted constants; NaN where the formula has no value.
    double eval_multi(std::span<const double> x) const;
};

}  // namespace kiv
