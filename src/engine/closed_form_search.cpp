#include "engine/closed_form_search.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <utility>

#include "engine/token_order.hpp"
#include "invariant.hpp"

namespace kiv {
namespace {

// A key that may lead to a formula. An operand whose real part must be 0
// comes of an underflow or of a longer form of a formula found shorter, and
// would match every imaginary value in the table.
bool usable(double key) { return std::isfinite(key) && key != 0.0; }

}  // namespace

// Formulas meeting targets: formula i meets targets[targets[i]] with value values[i].
struct ClosedFormSearch::Matches {
    std::vector<std::size_t> targets;
    std::vector<Complex> values;
    // Looked up: the formulas are entries[i] of this size of the table.
    std::size_t table_size = 0;
    std::vector<std::size_t> entries;
    // Composed (table_size 0): the formulas themselves.
    std::vector<Expression> composed;
};

// The search for the unknown operand of op_id by one of its keys: queries
// begin .. end of its group. known_size is 0 for a unary operator.
struct ClosedFormSearch::OperandSearch {
    std::size_t op_id;
    std::size_t known_size;
    KnownOperand known_side;
    std::size_t begin;
    std::size_t end;
};

// The queries for unknown operands of one size, searched together: the value
// the operand must have, the index of the target it serves and, for a binary
// operator, the table entry of the known operand.
struct ClosedFormSearch::Group {
    std::size_t unknown_size;
    std::vector<double> keys;
    std::vector<std::size_t> targets;
    std::vector<std::size_t> known;
    std::vector<OperandSearch> searches;

    // Room for `extra` more queries, growing geometrically, so that the loops
    // that fill them allocate nothing.
    void make_room(std::size_t extra) {
        const std::size_t needed = keys.size() + extra;
        if (needed <= keys.capacity()) return;
        const std::size_t capacity = std::max(needed, 2 * keys.capacity());
        keys.reserve(capacity);
        targets.reserve(capacity);
        known.reserve(capacity);
    }
};

ClosedFormSearch::ClosedFormSearch(const FormulaTable& table) : table_(table) {
    if (table.rows() != 1)
        throw InvariantViolation("a closed-form search needs a table of one data row in src/engine/closed_form_search");
    for (std::size_t size = 1; size <= table.max_size(); ++size) {
        const std::span<const Complex> values = table.values(size);
        Level level;
        level.order.resize(values.size());
        std::iota(level.order.begin(), level.order.end(), std::size_t{0});
        std::stable_sort(level.order.begin(), level.order.end(), [&](std::size_t a, std::size_t b) {
            return values[a].re < values[b].re || (!std::isnan(values[a].re) && std::isnan(values[b].re));
        });
        for (const std::size_t entry : level.order)
            if (!std::isnan(values[entry].re)) level.sorted_re.push_back(values[entry].re);
        levels_.push_back(std::move(level));
    }
    const OperatorRegistry& registry = table.registry();
    for (std::size_t id = 0; id < registry.size(); ++id) {
        const OperatorMeta& meta = registry.meta(id);
        if (meta.arity == 1 && !unary_preimages(meta.name).empty())
            unary_.push_back({id, unary_preimages(meta.name)});
        else if (meta.arity == 2)
            binary_.push_back({id, meta.commutative});
    }
}

// The order: looked-up formulas by target, then by real part; composed ones
// by the unknown operand's size (in the order the sizes are first needed,
// one token shorter for the unary operators first), then by operator and
// key (unary operators, then binary ones by the left operand's size, each
// in registry order), then in the order their unknown operands were found.
std::vector<ClosedForm> ClosedFormSearch::find(double target, std::size_t size, double slack) const {
    if (size == 0) return {};
    const double targets[] = {target};
    const Matches matches = solve(targets, size, slack);
    std::vector<ClosedForm> found;
    found.reserve(matches.targets.size());
    for (std::size_t i = 0; i < matches.targets.size(); ++i) found.push_back({formula(matches, i), matches.values[i]});
    return found;
}

ClosedFormSearch::Matches ClosedFormSearch::solve(std::span<const double> targets, std::size_t size,
                                                  double slack) const {
    if (size <= table_.max_size()) return look_up(targets, size, slack);
    Matches out;
    for (const Group& group : operand_searches(targets, size)) {
        const Matches found = solve(group.keys, group.unknown_size, slack);
        std::vector<std::vector<std::size_t>> chosen(group.searches.size());
        for (std::size_t i = 0; i < found.targets.size(); ++i) {
            const auto after =
                std::upper_bound(group.searches.begin(), group.searches.end(), found.targets[i],
                                 [](std::size_t query, const OperandSearch& search) { return query < search.begin; });
            chosen[static_cast<std::size_t>(after - group.searches.begin()) - 1].push_back(i);
        }
        for (std::size_t s = 0; s < group.searches.size(); ++s)
            compose(group.searches[s], group, found, chosen[s], targets, slack, out);
    }
    return out;
}

ClosedFormSearch::Matches ClosedFormSearch::look_up(std::span<const double> targets, std::size_t size,
                                                    double slack) const {
    const Level& level = levels_[size - 1];
    const std::span<const Complex> values = table_.values(size);
    Matches matches;
    matches.table_size = size;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const double tolerance = slack * std::fabs(targets[i]);
        const double low = targets[i] - tolerance, high = targets[i] + tolerance;
        if (!(low <= high)) continue;
        const auto first = std::lower_bound(level.sorted_re.begin(), level.sorted_re.end(), low);
        const auto last = std::upper_bound(first, level.sorted_re.end(), high);
        for (auto at = first; at != last; ++at) {
            const std::size_t entry = level.order[static_cast<std::size_t>(at - level.sorted_re.begin())];
            matches.targets.push_back(i);
            matches.values.push_back(values[entry]);
            matches.entries.push_back(entry);
        }
    }
    return matches;
}

namespace {

// The group of unknown operands of `size` tokens, made at the end if new.
template <class Group>
Group& group_of(std::vector<Group>& groups, std::size_t size) {
    for (Group& group : groups)
        if (group.unknown_size == size) return group;
    groups.push_back({size, {}, {}, {}, {}});
    return groups.back();
}

}  // namespace

std::vector<ClosedFormSearch::Group> ClosedFormSearch::operand_searches(std::span<const double> targets,
                                                                        std::size_t size) const {
    std::vector<Group> groups;
    for (const UnaryRoot& root : unary_) {
        for (const UnaryPreimage key : root.keys) {
            Group& group = group_of(groups, size - 1);
            group.make_room(targets.size());
            OperandSearch search{root.op_id, 0, KnownOperand::Left, group.keys.size(), 0};
            for (std::size_t i = 0; i < targets.size(); ++i) {
                const double value = key(targets[i]);
                if (!usable(value)) continue;
                group.keys.push_back(value);
                group.targets.push_back(i);
                group.known.push_back(0);
            }
            search.end = group.keys.size();
            group.searches.push_back(search);
        }
    }
    for (std::size_t left_size = 1; left_size + 2 <= size; ++left_size)
        add_binary_searches(targets, left_size, size - 1 - left_size, groups);
    return groups;
}

void ClosedFormSearch::add_binary_searches(std::span<const double> targets, std::size_t left_size,
                                           std::size_t right_size, std::vector<Group>& groups) const {
    for (const BinaryRoot& root : binary_) {
        const std::optional<KnownOperand> side = known_side(root, left_size, right_size);
        if (!side) continue;
        const std::span<const BinaryPreimage> keys = binary_preimages(table_.registry().meta(root.op_id).name, *side);
        const std::size_t known_size = *side == KnownOperand::Left ? left_size : right_size;
        const Level& known = levels_[known_size - 1];
        const std::span<const Complex> values = table_.values(known_size);
        for (const BinaryPreimage key : keys) {
            Group& group = group_of(groups, left_size + right_size - known_size);
            group.make_room(targets.size() * known.order.size());
            OperandSearch search{root.op_id, known_size, *side, group.keys.size(), 0};
            // Known operands in ascending order of real part give keys in
            // nearly monotone runs, which the lookups' binary searches take faster.
            for (std::size_t i = 0; i < targets.size(); ++i) {
                for (const std::size_t entry : known.order) {
                    const double value = key(targets[i], values[entry]);
                    if (!usable(value)) continue;
                    group.keys.push_back(value);
                    group.targets.push_back(i);
                    group.known.push_back(entry);
                }
            }
            search.end = group.keys.size();
            group.searches.push_back(search);
        }
    }
}

// A commutative operator's left operand is known, the shorter of the two:
// the other order is the same formula. Otherwise the known operand is the
// only one that fits the table, or, when both do, the one of the size with
// fewer formulas (the left one on a tie).
std::optional<KnownOperand> ClosedFormSearch::known_side(const BinaryRoot& root, std::size_t left_size,
                                                         std::size_t right_size) const {
    const std::size_t depth = table_.max_size();
    KnownOperand side = KnownOperand::Right;
    if (root.commutative) {
        if (left_size > right_size) return std::nullopt;
        side = KnownOperand::Left;
    } else if (left_size <= depth && (right_size > depth || table_.count(left_size) <= table_.count(right_size))) {
        side = KnownOperand::Left;
    }
    if ((side == KnownOperand::Left ? left_size : right_size) > depth) return std::nullopt;
    return side;
}

void ClosedFormSearch::compose(const OperandSearch& search, const Group& group, const Matches& found,
                               std::span<const std::size_t> chosen, std::span<const double> targets, double slack,
                               Matches& out) const {
    if (chosen.empty()) return;
    const OperatorRegistry& registry = table_.registry();
    const std::size_t n = chosen.size();
    std::vector<Complex> unknown(n), known(search.known_size == 0 ? 0 : n), values(n);
    for (std::size_t j = 0; j < n; ++j) {
        unknown[j] = found.values[chosen[j]];
        if (search.known_size != 0) known[j] = table_.values(search.known_size)[group.known[found.targets[chosen[j]]]];
    }
    const bool left_known = search.known_size != 0 && search.known_side == KnownOperand::Left;
    const Complex* operands[2] = {left_known ? known.data() : unknown.data(),
                                  left_known ? unknown.data() : known.data()};
    registry.op(search.op_id).eval_block(operands, values.data(), n);
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t query = found.targets[chosen[j]];
        const double want = targets[group.targets[query]];
        // An absent value (NaN) meets no target.
        if (!(std::fabs(values[j].re - want) <= slack * std::fabs(want))) continue;
        const Expression operand = formula(found, chosen[j]);
        Expression composed;
        if (search.known_size == 0) {
            composed = apply_unary(search.op_id, operand, registry);
        } else {
            const Expression other = table_.expression(search.known_size, group.known[query]);
            const Expression& left = left_known ? other : operand;
            const Expression& right = left_known ? operand : other;
            // Both orders of a commutative operator on equally long operands are met; one is kept.
            if (registry.meta(search.op_id).commutative && left.tokens.size() == right.tokens.size() &&
                tokens_before(right.tokens, left.tokens, registry))
                continue;
            composed = apply_binary(search.op_id, left, right, registry);
        }
        out.targets.push_back(group.targets[query]);
        out.values.push_back(values[j]);
        out.composed.push_back(std::move(composed));
    }
}

Expression ClosedFormSearch::formula(const Matches& matches, std::size_t i) const {
    return matches.table_size > 0 ? table_.expression(matches.table_size, matches.entries[i]) : matches.composed[i];
}

}  // namespace kiv
