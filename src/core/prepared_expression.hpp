// PreparedExpression: one expression made ready for block evaluation on one
// dataset with one registry's operators. It owns a copy of the tokens and
// builds, once, the tables that evaluating block after block reads: the
// tokens to evaluate in order (a sub-expression whose values are known is
// read, not evaluated), the operands of each operator, the operator that
// reads each token, the tokens that depend on a Param and the position of
// each Param.
//
// The data, the registry and the known values are borrowed: they must
// outlive every evaluation of the prepared expression. prepare() may be
// called again for the next expression and reuses the storage, so a worker
// that keeps one allocates nothing once it has grown. Read-only between
// prepare() calls, so several threads may evaluate one at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/dataset.hpp"
#include "core/token.hpp"
#include "ops/registry.hpp"

namespace kiv {

// A sub-expression whose values on every data row are already known:
// tokens [first_token, last_token] of the expression form it, and values[r]
// is what evaluation gives for it on row r.
struct KnownValues {
    std::size_t first_token = 0;
    std::size_t last_token = 0;
    const Complex* values = nullptr;
};

class PreparedExpression {
public:
    static constexpr std::uint32_t kNoParent = ~std::uint32_t{0};

    // One token to evaluate; when it is the root of a known sub-expression,
    // `known` holds its values on every data row and the sub-expression's
    // other tokens have no step.
    struct Step {
        std::uint32_t token = 0;
        const Complex* known = nullptr;
    };

    PreparedExpression() = default;
    PreparedExpression(std::span<const Token> tokens, const Dataset& data, const OperatorRegistry& registry,
                       std::span<const KnownValues> known = {}) {
        prepare(tokens, data, registry, known);
    }

    // Prepares `tokens`, which must form a well-formed expression (one value
    // left), with the sub-expressions in `known` (ascending, disjoint, free
    // of Param tokens) read from their values; else throws InvariantViolation.
    void prepare(std::span<const Token> tokens, const Dataset& data, const OperatorRegistry& registry,
                 std::span<const KnownValues> known = {});

    std::span<const Token> tokens() const { return tokens_; }
    const Dataset& data() const { return *data_; }
    const OperatorRegistry& registry() const { return *registry_; }
    std::span<const Step> steps() const { return steps_; }
    const std::array<std::uint32_t, 2>& operands(std::size_t op) const { return operands_[op]; }
    // The operator that reads `token`, kNoParent for the root and inside known sub-expressions.
    std::uint32_t parent(std::size_t token) const { return parent_[token]; }
    // Ascending: the tokens to evaluate again when only Param values change.
    std::span<const std::uint32_t> param_dependents() const { return param_dependents_; }
    // Token position of Param k at k (Params are numbered left to right).
    std::span<const std::uint32_t> param_positions() const { return param_positions_; }
    // The last token is a leaf, whose values evaluation passes on unscreened.
    bool has_leaf_root() const { return tokens_.back().kind != TokenKind::Op; }
    // It evaluates a column missing from some data row, so it is absent on every row.
    bool absent_everywhere() const { return absent_everywhere_; }

private:
    void add_operator(std::size_t op);

    std::vector<Token> tokens_;
    const Dataset* data_ = nullptr;
    const OperatorRegistry* registry_ = nullptr;
    std::vector<Step> steps_;
    std::vector<std::array<std::uint32_t, 2>> operands_;
    std::vector<std::uint32_t> parent_;
    std::vector<char> on_params_;  // whether each token depends on a Param
    std::vector<std::uint32_t> param_dependents_;
    std::vector<std::uint32_t> param_positions_;
    std::vector<std::uint32_t> pending_;  // tokens whose values await an operator, while preparing
    bool absent_everywhere_ = false;
};

}  // namespace kiv
