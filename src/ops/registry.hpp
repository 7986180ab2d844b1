// OperatorRegistry: owns the operators of one search and numbers them by
// registration order. Ids never change or disappear, so tokens can store them.
//
// Built and filled by one thread, then shared read-only (through
// RegistryHandle) by the search's workers and by every result it returns;
// concurrent lookups need no locking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ops/operator.hpp"

namespace kiv {

// What the registry recorded about an operator when it was registered.
struct OperatorMeta {
    std::string name;
    bool commutative = false;
    std::uint8_t arity = 0;
};

class OperatorRegistry {
public:
    // Takes ownership of `op` and gives it the next id. No validation.
    // (Named register_operator because `register` is a C++ keyword.)
    void register_operator(std::unique_ptr<Operator> op);

    // Number of operators registered; their ids are 0 .. size() - 1.
    std::size_t size() const { return metas_.size(); }

    // Ids whose recorded arity equals `arity`, ascending.
    std::vector<std::size_t> ids_by_arity(std::uint8_t arity) const;

    // The id of the operator registered under `name`, if any.
    std::optional<std::size_t> find(std::string_view name) const;

    // Lookups; an unknown id throws InvariantViolation.
    const Operator& op(std::size_t id) const;
    const OperatorMeta& meta(std::size_t id) const;

private:
    std::vector<std::unique_ptr<Operator>> operators_;
    std::vector<OperatorMeta> metas_;
};

using RegistryHandle = std::shared_ptr<const OperatorRegistry>;

// The five named constants (ids 0-4) followed by the builtins (ids 5-22).
OperatorRegistry with_builtins();

}  // namespace kiv
