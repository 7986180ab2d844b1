#include "engine/operator_set.hpp"

#include <vector>

namespace kiv {
namespace {

// "...; the operators are KIV, Neg, ...": every name a set may hold, in registry order.
OperatorRefusal refusal(const OperatorRegistry& registry, const std::string& reason) {
    std::string message = reason + "; the operators are ";
    const char* separator = "";
    for (std::size_t id = 0; id < registry.size(); ++id) {
        if (registry.meta(id).arity == 0) continue;
        message += separator + registry.meta(id).name;
        separator = ", ";
    }
    return {message};
}

std::string quoted(const std::string& name) { return "'" + name + "'"; }

}  // namespace

std::variant<OperatorSet, OperatorRefusal> OperatorSet::named(const OperatorRegistry& registry,
                                                              const std::vector<std::string>& names) {
    if (names.empty()) return refusal(registry, "operators must name at least one operator");
    std::vector<bool> chosen(registry.size(), false);
    for (const std::string& name : names) {
        const auto id = registry.find(name);
        if (!id) return refusal(registry, "unknown operator " + quoted(name));
        if (registry.meta(*id).arity == 0)
            return refusal(registry, quoted(name) + " is a named constant, not an operator");
        if (chosen[*id]) return refusal(registry, "operator " + quoted(name) + " is named twice");
        chosen[*id] = true;
    }
    return OperatorSet(std::move(chosen));
}

std::vector<std::size_t> OperatorSet::ids(const OperatorRegistry& registry, std::uint8_t arity) const {
    std::vector<std::size_t> ids = registry.ids_by_arity(arity);
    if (!chosen_.empty()) std::erase_if(ids, [&](std::size_t id) { return id >= chosen_.size() || !chosen_[id]; });
    return ids;
}

}  // namespace kiv
