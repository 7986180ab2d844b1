#include "ops/registry.hpp"

#include "invariant.hpp"
#include "ops/builtin.hpp"

namespace kiv {

void OperatorRegistry::register_operator(std::unique_ptr<Operator> op) {
    metas_.push_back(
        OperatorMeta{std::string(op->name()), op->is_commutative(), static_cast<std::uint8_t>(op->arity())});
    operators_.push_back(std::move(op));
}

std::vector<std::size_t> OperatorRegistry::ids_by_arity(std::uint8_t arity) const {
    std::vector<std::size_t> ids;
    for (std::size_t id = 0; id < metas_.size(); ++id)
        if (metas_[id].arity == arity) ids.push_back(id);
    return ids;
}

std::optional<std::size_t> OperatorRegistry::find(std::string_view name) const {
    for (std::size_t id = 0; id < metas_.size(); ++id)
        if (metas_[id].name == name) return id;
    return std::nullopt;
}

const Operator& OperatorRegistry::op(std::size_t id) const {
    check_index(id, operators_.size(), "src/ops/registry");
    return *operators_[id];
}

const OperatorMeta& OperatorRegistry::meta(std::size_t id) const {
    check_index(id, metas_.size(), "src/ops/registry");
    return metas_[id];
}

OperatorRegistry with_builtins() {
    OperatorRegistry registry;
    for (auto& op : builtin_constants()) registry.register_operator(std::move(op));
    for (auto& op : all_builtins()) registry.register_operator(std::move(op));
    return registry;
}

}  // namespace kiv
