// OperatorSet: the one- and two-argument operators a search builds its
// candidates with, chosen by registry name.
//
// The registry keeps every operator and id, so formulas, results and their
// pickles name operators as the registry does whatever the set; the set
// decides only which operators the Expander applies. It applies them in
// registry order, so the order a subset is named in never changes a search,
// and the default set (every operator) builds exactly the default search.
//
// A plain value: immutable once made, read by any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "ops/registry.hpp"

namespace kiv {

// Why names do not make an operator set, as one sentence that lists the valid names.
struct OperatorRefusal {
    std::string message;
};

class OperatorSet {
public:
    // Every operator of the registry.
    OperatorSet() = default;

    // The operators of `registry` called `names`, in any order; refused when
    // a name is no operator (unknown, or a named constant), is given twice,
    // or when there is no name at all.
    static std::variant<OperatorSet, OperatorRefusal> named(const OperatorRegistry& registry,
                                                            const std::vector<std::string>& names);

    // The ids of the given arity that the set applies, ascending.
    std::vector<std::size_t> ids(const OperatorRegistry& registry, std::uint8_t arity) const;

private:
    explicit OperatorSet(std::vector<bool> chosen) : chosen_(std::move(chosen)) {}

    // chosen_[id] for each registry id; empty for every operator.
    std::vector<bool> chosen_;
};

}  // namespace kiv
