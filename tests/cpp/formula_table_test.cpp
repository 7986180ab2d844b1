// The formula table: every function of up to max_size tokens over the chosen
// operators kept once, at its shortest size, by the search's own
// deduplication; its values are the row-by-row evaluator's; the table does
// not depend on the worker count.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <variant>

#include "core/signature.hpp"
#include "engine/formula_table.hpp"
#include "engine/operator_set.hpp"
#include "engine/seen_set.hpp"
#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

using Rows = std::vector<std::vector<double>>;
using Key = std::pair<std::uint64_t, std::uint64_t>;

RegistryHandle shared_builtins() { return std::make_shared<const OperatorRegistry>(with_builtins()); }

std::optional<Key> key_of(const Expression& expression) {
    const auto fp = fingerprint(expression, builtins());
    if (!fp) return std::nullopt;
    const FingerprintKey key = digest(*fp);
    return Key{key.lo, key.hi};
}

std::vector<Complex> complex_row(const std::vector<double>& row) {
    std::vector<Complex> out;
    for (const double value : row) out.push_back({value, 0.0});
    return out;
}

struct Case {
    const char* name;
    std::vector<Expression> leaves;
    std::size_t max_size;
    Rows rows;
    OperatorSet operators = OperatorSet();
};

std::vector<Case> cases() {
    const Expression one = real_leaf(1.0), pi = const_leaf(kPi), v0 = variable_leaf(0), v1 = variable_leaf(1);
    // Zeros, negatives and huge values make some formulas absent on some rows.
    const Rows awkward{{0.5, -2.0}, {0.0, 3.0}, {-1.5, 0.0}, {2.0, 1e300}, {kNaN, 1.0}};
    const auto subset = OperatorSet::named(builtins(), {"Times", "Sqrt", "Plus", "Square"});
    return {
        {"constants", {const_leaf(kOne), real_leaf(2.0), pi, const_leaf(kE)}, 4, {{}}},
        {"variables", {v0, v1, one}, 4, awkward},
        {"no rows", {pi, v0}, 3, {}},
        {"operator subset", {v0, v1, one}, 5, awkward, std::get<OperatorSet>(subset)},
    };
}

// Whether every operator of `e` is one that `operators` applies.
bool uses_only(const Expression& e, const OperatorSet& operators) {
    const std::vector<std::size_t> unary = operators.ids(builtins(), 1), binary = operators.ids(builtins(), 2);
    return std::ranges::all_of(e.tokens, [&](const Token& token) {
        const std::vector<std::size_t>& chosen = token.arity == 1 ? unary : binary;
        return token.kind != TokenKind::Op || std::ranges::find(chosen, token.op_id) != chosen.end();
    });
}

// Kept formulas: each has exactly its size in tokens, only the chosen
// operators and a fingerprint no other kept formula of any size shares;
// every combination of kept formulas by one chosen operator is either
// undefined or equivalent to a kept formula no longer than it (nothing was
// cut); each stored value is what Expression::eval gives on that row,
// kAbsent where it gives nothing.
TEST(FormulaTable, KeepsEachFunctionOnceAtItsShortestSizeWithTheEvaluatorsValues) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const FormulaTable table(c.leaves, c.max_size, c.rows, shared_builtins(), c.operators);
        ASSERT_EQ(table.max_size(), c.max_size);
        ASSERT_EQ(table.rows(), c.rows.size());
        std::map<Key, std::size_t> size_of;
        std::vector<std::vector<Expression>> kept(c.max_size + 1);
        for (std::size_t size = 1; size <= c.max_size; ++size) {
            const std::span<const Complex> values = table.values(size);
            ASSERT_EQ(values.size(), table.count(size) * c.rows.size());
            for (std::size_t i = 0; i < table.count(size); ++i) {
                const Expression e = table.expression(size, i);
                EXPECT_EQ(e.tokens.size(), size) << e.formula;
                EXPECT_TRUE(uses_only(e, c.operators)) << e.formula;
                const auto key = key_of(e);
                ASSERT_TRUE(key) << e.formula;
                EXPECT_TRUE(size_of.emplace(*key, size).second) << e.formula << " repeats a function";
                for (std::size_t r = 0; r < c.rows.size(); ++r) {
                    const std::optional<Complex> want = e.eval(complex_row(c.rows[r]), builtins());
                    EXPECT_TRUE(SameBits(values[i * c.rows.size() + r], want.value_or(kAbsent)))
                        << e.formula << " row " << r;
                }
                kept[size].push_back(e);
            }
        }
        EXPECT_EQ(table.count(1), c.leaves.size());
        const auto covered = [&](const Expression& e) {
            const auto key = key_of(e);
            return !key || (size_of.count(*key) && size_of.at(*key) <= e.tokens.size());
        };
        for (std::size_t size = 2; size <= c.max_size; ++size) {
            for (const Expression& operand : kept[size - 1])
                for (const std::size_t op : c.operators.ids(builtins(), 1))
                    EXPECT_TRUE(covered(unary(op, operand))) << unary(op, operand).formula;
            for (std::size_t left = 1; left + 1 < size; ++left)
                for (const Expression& a : kept[left])
                    for (const Expression& b : kept[size - 1 - left])
                        for (const std::size_t op : c.operators.ids(builtins(), 2))
                            EXPECT_TRUE(covered(binary(op, a, b))) << binary(op, a, b).formula;
        }
    }
}

// Of equivalent formulas the first generated survives: the first of equal
// leaves, and Log(1), generated before Sin(Pi) and Tan(Pi) (about 1e-16, so
// 0 at the fingerprint's resolution), as Neg(1) before Cos(Pi). Out-of-range
// sizes and indices are refused.
TEST(FormulaTable, FirstOfEquivalentFormulasSurvivesAndOutOfRangeReadsAreRefused) {
    const std::vector<Expression> leaves{real_leaf(1.0), const_leaf(kOne), const_leaf(kPi), real_leaf(M_PI)};
    const FormulaTable table(leaves, 2, {{}}, shared_builtins());
    ASSERT_EQ(table.count(1), 2u);
    EXPECT_EQ(table.expression(1, 0).tokens[0].kind, TokenKind::Real);
    EXPECT_EQ(table.expression(1, 1).tokens[0].kind, TokenKind::Const);
    std::set<std::string> formulas;
    for (std::size_t i = 0; i < table.count(2); ++i) formulas.insert(table.expression(2, i).formula);
    for (const char* first : {"Log(1.0000)", "Neg(1.0000)"}) EXPECT_TRUE(formulas.count(first)) << first;
    for (const char* later : {"Sin(Pi)", "Tan(Pi)", "Cos(Pi)"}) EXPECT_FALSE(formulas.count(later)) << later;
    EXPECT_THROW(table.count(0), InvariantViolation);
    EXPECT_THROW(table.values(3), InvariantViolation);
    EXPECT_THROW(table.expression(2, table.count(2)), InvariantViolation);
    EXPECT_THROW(FormulaTable(leaves, 0, {{}}, shared_builtins()), InvariantViolation);
}

// Built on one worker or two, a table holds the same formulas in the same
// order with the same value bits.
TEST(FormulaTable, WorkerCountChangesNothing) {
    const Case c = cases()[1];
    std::vector<std::unique_ptr<FormulaTable>> tables;
    for (const char* workers : {"1", "2"}) {
        setenv("KIV_SR_NUM_THREADS", workers, 1);
        tables.push_back(std::make_unique<FormulaTable>(c.leaves, c.max_size, c.rows, shared_builtins()));
    }
    unsetenv("KIV_SR_NUM_THREADS");
    for (std::size_t size = 1; size <= c.max_size; ++size) {
        ASSERT_EQ(tables[0]->count(size), tables[1]->count(size)) << size;
        for (std::size_t i = 0; i < tables[0]->count(size); ++i)
            ASSERT_EQ(tables[0]->expression(size, i).formula, tables[1]->expression(size, i).formula);
        const auto a = tables[0]->values(size), b = tables[1]->values(size);
        for (std::size_t k = 0; k < a.size(); ++k) ASSERT_TRUE(SameBits(a[k], b[k])) << size << " value " << k;
    }
}

}  // namespace
}  // namespace kiv
