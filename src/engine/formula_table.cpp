#include "engine/formula_table.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "core/signature.hpp"
#include "engine/expansion.hpp"
#include "invariant.hpp"

namespace kiv {
namespace {

// Formulas one worker evaluates in a row: enough to amortise the handing
// out of work, few enough to balance the workers on a short size.
constexpr std::size_t kFormulasPerTask = 256;

}  // namespace

FormulaTable::FormulaTable(const std::vector<Expression>& leaves, std::size_t max_size,
                           const std::vector<std::vector<double>>& rows, RegistryHandle registry,
                           const OperatorSet& operators)
    : registry_(std::move(registry)),
      data_(Dataset::from_rows(rows)),
      workspaces_(workers_.size()),
      recipes_(max_size + 1),
      values_(max_size + 1) {
    if (max_size == 0) throw InvariantViolation("a formula table without sizes in src/engine/formula_table");
    SeenSet seen;
    beam_.add_level({});
    keep_leaves(leaves, seen);
    evaluate_size(1);
    Expander expander(*registry_, operators, seen, workers_);
    for (std::size_t size = 2; size <= max_size; ++size) {
        recipes_[size] = expander.expand(size, beam_, {});
        evaluate_size(size);
        // The longest formulas are nobody's operands.
        if (size < max_size) retain_size(size);
    }
}

void FormulaTable::check_size(std::size_t size) const {
    if (size == 0 || size > max_size())
        throw InvariantViolation("formula size " + std::to_string(size) + " outside 1 .. " +
                                 std::to_string(max_size()) + " in src/engine/formula_table");
}

std::size_t FormulaTable::count(std::size_t size) const {
    check_size(size);
    return size == 1 ? beam_.bucket(1).size() : recipes_[size].size();
}

std::span<const Complex> FormulaTable::values(std::size_t size) const {
    check_size(size);
    return values_[size];
}

Expression FormulaTable::expression(std::size_t size, std::size_t index) const {
    check_index(index, count(size), "src/engine/formula_table");
    if (size == 1) return beam_.bucket(1)[index].expression;
    return beam_.materialize(recipes_[size][index], size, *registry_, {});
}

void FormulaTable::keep_leaves(const std::vector<Expression>& leaves, SeenSet& seen) {
    std::vector<BeamEntry> entries;
    for (const Expression& leaf : leaves) {
        const auto fp = fingerprint(leaf, *registry_);
        if (fp && seen.insert(digest(*fp))) entries.push_back(BeamEntry::make(leaf, *registry_, data_));
    }
    beam_.add_level(std::move(entries));
}

void FormulaTable::describe(std::size_t size, std::size_t index, Workspace& ws) const {
    if (size == 1) {
        const std::vector<Token>& tokens = beam_.bucket(1)[index].expression.tokens;
        ws.tokens.assign(tokens.begin(), tokens.end());
        ws.known.clear();
        return;
    }
    beam_.write_tokens(recipes_[size][index], size, ws.tokens);
    beam_.known_operands(recipes_[size][index], size, ws.known);
}

void FormulaTable::evaluate_size(std::size_t size) {
    const std::size_t formulas = count(size);
    const std::size_t width = rows();
    values_[size].resize(formulas * width);
    workers_.parallel_for((formulas + kFormulasPerTask - 1) / kFormulasPerTask, [&](std::size_t task) {
        check_index(current_worker(), workspaces_.size(), "src/engine/formula_table");
        Workspace& ws = workspaces_[current_worker()];
        const std::size_t end = std::min(formulas, (task + 1) * kFormulasPerTask);
        for (std::size_t i = task * kFormulasPerTask; i < end; ++i) {
            describe(size, i, ws);
            ws.expression.prepare(ws.tokens, data_, *registry_, ws.known);
            ws.evaluator.evaluate(ws.expression, {}, std::span(values_[size]).subspan(i * width, width));
        }
    });
}

// Each entry evaluates its values on all rows, so they are built in parallel.
void FormulaTable::retain_size(std::size_t size) {
    const std::vector<Recipe>& recipes = recipes_[size];
    std::vector<BeamEntry> entries(recipes.size());
    workers_.parallel_for(recipes.size(), [&](std::size_t i) {
        entries[i] = BeamEntry::make(beam_.materialize(recipes[i], size, *registry_, {}), *registry_, data_);
    });
    beam_.add_level(std::move(entries));
}

}  // namespace kiv
