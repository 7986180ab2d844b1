// FormulaTable: every formula of 1 to max_size tokens over given leaves, each
// function kept once, with its values on given data rows.
//
// Formulas are generated and deduplicated exactly as the search generates
// and deduplicates its candidates (the Expander over a Beam, applying a
// chosen OperatorSet, one SeenSet across all sizes), only without the beam
// cut: every new candidate of a size is kept. The leaves are deduplicated by
// fingerprint too, in the order given. So of equivalent formulas the
// shortest survives, and of equally short ones the first generated; a
// formula without a fingerprint (undefined or out of range at a sample
// point) is not kept.
//
// Values are computed by block evaluation on a Dataset of the rows, every
// Param at its stored value: kAbsent where undefined; a formula that is a
// single leaf keeps that leaf's value unscreened, as block evaluation does.
//
// Built once (in parallel, on its own WorkerPool), then immutable: safe to
// read from many threads at once.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/block_evaluator.hpp"
#include "core/dataset.hpp"
#include "core/expression.hpp"
#include "core/prepared_expression.hpp"
#include "engine/beam.hpp"
#include "engine/operator_set.hpp"
#include "engine/parallel.hpp"
#include "engine/seen_set.hpp"
#include "ops/registry.hpp"

namespace kiv {

class FormulaTable {
public:
    // The formulas over `leaves` (built on `registry`) of up to `max_size`
    // tokens, their operators among `operators`; max_size 0 throws InvariantViolation.
    FormulaTable(const std::vector<Expression>& leaves, std::size_t max_size,
                 const std::vector<std::vector<double>>& rows, RegistryHandle registry,
                 const OperatorSet& operators = OperatorSet());

    std::size_t max_size() const { return recipes_.size() - 1; }
    std::size_t rows() const { return data_.rows; }
    const OperatorRegistry& registry() const { return *registry_; }

    // Number of formulas of exactly `size` tokens; a size outside 1 .. max_size throws InvariantViolation.
    std::size_t count(std::size_t size) const;

    // Their values, formula-major: formula i's value on row r at i * rows() + r.
    std::span<const Complex> values(std::size_t size) const;

    // Formula `index` of `size` tokens; an index beyond count(size) throws InvariantViolation.
    Expression expression(std::size_t size, std::size_t index) const;

private:
    // Per-worker scratch for evaluating one formula after another.
    struct Workspace {
        std::vector<Token> tokens;
        std::vector<KnownValues> known;
        PreparedExpression expression;
        BlockEvaluator evaluator;
    };

    // Throws InvariantViolation unless 1 <= size <= max_size().
    void check_size(std::size_t size) const;
    // The leaves new to `seen`, in the order given, as the formulas of one token.
    void keep_leaves(const std::vector<Expression>& leaves, SeenSet& seen);
    // Values of the formulas of `size` tokens, longer ones from their operands' cached values.
    void evaluate_size(std::size_t size);
    // Postfix tokens of formula `index` of `size` tokens, and its operands of known values, into `ws`.
    void describe(std::size_t size, std::size_t index, Workspace& ws) const;
    // The formulas of `size` tokens become operands of longer ones.
    void retain_size(std::size_t size);

    RegistryHandle registry_;
    Dataset data_;
    WorkerPool workers_;
    std::vector<Workspace> workspaces_;
    Beam beam_;
    // recipes_[size] for size >= 2; the leaves are bucket 1 of beam_.
    std::vector<std::vector<Recipe>> recipes_;
    // values_[size]: count(size) x rows() values.
    std::vector<std::vector<Complex>> values_;
};

}  // namespace kiv
