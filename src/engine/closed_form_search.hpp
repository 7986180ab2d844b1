// ClosedFormSearch: the formulas of a given size over the leaves of a
// FormulaTable of constant formulas whose value's real part is within a
// relative slack of a target, found by meeting in the middle.
//
// A formula no longer than the table's formulas is looked up in it by real
// part. A longer one has an operator at its root: for a unary operator the
// operand values that give the target (operand_preimages) are searched one
// token shorter; for a binary one, one operand is taken from the table, each
// formula of its size in turn, and the value the other operand must have is
// searched the same way, down to the table. Keys are approximate, so each
// formula put together is evaluated by its root operator's own block rule
// from its operands' exact values and kept only if that value still meets
// its target. An operator without a preimage rule is never at the root of a
// formula longer than the table's. A commutative root's operands come in
// one order: the shorter first, and equally long ones as token_order puts
// them.
//
// The table must hold one data row and outlive the search. Built once (the
// table's values sorted by real part), then immutable: find() may run on
// many threads at once.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/expression.hpp"
#include "engine/formula_table.hpp"
#include "engine/operand_preimages.hpp"

namespace kiv {

// A formula found and its exact value.
struct ClosedForm {
    Expression expression;
    Complex value;
};

class ClosedFormSearch {
public:
    // A table of other than one data row throws InvariantViolation.
    explicit ClosedFormSearch(const FormulaTable& table);

    // The formulas of exactly `size` tokens whose value's real part lies within
    // slack * |target| of target, in a fixed order (see the .cpp); an equal
    // formula may appear more than once, when several keys lead to it.
    std::vector<ClosedForm> find(double target, std::size_t size, double slack) const;

private:
    // One size of the table: its formulas in ascending order of real part
    // (stable; absent values last) and the real parts of those present.
    struct Level {
        std::vector<std::size_t> order;
        std::vector<double> sorted_re;
    };
    struct UnaryRoot {
        std::size_t op_id;
        std::span<const UnaryPreimage> keys;
    };
    struct BinaryRoot {
        std::size_t op_id;
        bool commutative;
    };
    struct Matches;
    struct OperandSearch;
    struct Group;

    // The formulas of `size` tokens meeting some of `targets`.
    Matches solve(std::span<const double> targets, std::size_t size, double slack) const;
    Matches look_up(std::span<const double> targets, std::size_t size, double slack) const;
    // The searches for the unknown operand of every operator at the root of a
    // formula of `size` tokens, grouped by the unknown operand's size.
    std::vector<Group> operand_searches(std::span<const double> targets, std::size_t size) const;
    void add_binary_searches(std::span<const double> targets, std::size_t left_size, std::size_t right_size,
                             std::vector<Group>& groups) const;
    // Which operand of `root` is taken from the table for these operand sizes;
    // none when neither may be.
    std::optional<KnownOperand> known_side(const BinaryRoot& root, std::size_t left_size, std::size_t right_size) const;
    // The formulas that search's operator makes of the unknown operands
    // found[chosen], appended to `out` where they meet their targets.
    void compose(const OperandSearch& search, const Group& group, const Matches& found,
                 std::span<const std::size_t> chosen, std::span<const double> targets, double slack,
                 Matches& out) const;
    Expression formula(const Matches& matches, std::size_t i) const;

    const FormulaTable& table_;
    std::vector<Level> levels_;  // levels_[size - 1]
    std::vector<UnaryRoot> unary_;
    std::vector<BinaryRoot> binary_;
};

}  // namespace kiv
