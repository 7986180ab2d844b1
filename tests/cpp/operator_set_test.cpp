// Operator sets: names resolve to the operators applied in registry order,
// malformed choices are refused naming the offender, and a search restricted
// to a set builds nothing else, whatever the worker count.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

#include "engine/bfs.hpp"
#include "engine/operator_set.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

constexpr const char* kOperatorList =
    "; the operators are KIV, Neg, Inv, Plus, Times, Subtract, Divide, Exp, Log, Sqrt, Sin, Cos, Tan, ArcSin, "
    "ArcCos, ArcTan, Square, Cube";

OperatorSet named(const std::vector<std::string>& names) {
    return std::get<OperatorSet>(OperatorSet::named(builtins(), names));
}

TEST(OperatorSet, AppliesTheNamedOperatorsInRegistryOrder) {
    struct Row {
        std::vector<std::string> names;
        std::vector<std::size_t> unary, binary;
    };
    const Row rows[] = {
        {{"Times", "Sqrt", "Plus"}, {kSqrt}, {kPlus, kTimes}},
        {{"Cube", "KIV", "Neg"}, {kNeg, kCube}, {kKiv}},
        {{"Divide"}, {}, {kDivide}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.names.front());
        EXPECT_EQ(named(row.names).ids(builtins(), 1), row.unary);
        EXPECT_EQ(named(row.names).ids(builtins(), 2), row.binary);
    }
    for (const std::uint8_t arity : {std::uint8_t{1}, std::uint8_t{2}})
        EXPECT_EQ(OperatorSet().ids(builtins(), arity), builtins().ids_by_arity(arity));
}

TEST(OperatorSet, RefusesNamesThatMakeNoSetNamingTheOffender) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"Plus", "Power"}, "unknown operator 'Power'"},
        {{"plus"}, "unknown operator 'plus'"},
        {{"Times", "Pi"}, "'Pi' is a named constant, not an operator"},
        {{"Sqrt", "Times", "Sqrt"}, "operator 'Sqrt' is named twice"},
        {{}, "operators must name at least one operator"},
    };
    for (const auto& [names, reason] : rows) {
        const auto chosen = OperatorSet::named(builtins(), names);
        ASSERT_TRUE(std::holds_alternative<OperatorRefusal>(chosen)) << reason;
        EXPECT_EQ(std::get<OperatorRefusal>(chosen).message, reason + kOperatorList);
    }
}

struct Found {
    std::vector<std::string> formulas;
    std::vector<double> errors;
    std::set<std::size_t> operators;  // of every Op token on the front
    friend bool operator==(const Found& a, const Found& b) { return a.formulas == b.formulas && a.errors == b.errors; }
};

// A quiet search of y = x0 sin(x1) + x0^2 on `threads` workers.
Found search(const OperatorSet& operators, const char* threads) {
    std::vector<std::vector<double>> rows;
    std::vector<double> ys;
    for (int i = 0; i < 40; ++i) {
        const double x0 = 0.1 * i - 1.7, x1 = std::cos(0.37 * i) * 2.0;
        rows.push_back({x0, x1});
        ys.push_back(x0 * std::sin(x1) + x0 * x0);
    }
    setenv("KIV_SR_NUM_THREADS", threads, 1);
    ProgressOutput quiet(ProgressOutput::Destination::Buffer);
    const auto outcome =
        run_bfs(rows, ys, SearchConfig(6, 0.1, 80, 0.0, 0.5), {.progress = &quiet, .operators = operators});
    unsetenv("KIV_SR_NUM_THREADS");
    Found found;
    for (const SearchResult& r : std::get<std::vector<SearchResult>>(outcome)) {
        found.formulas.push_back(r.formula());
        found.errors.push_back(r.error);
        for (const Token& token : r.expression.tokens)
            if (token.kind == TokenKind::Op) found.operators.insert(token.op_id);
    }
    return found;
}

TEST(OperatorSet, RestrictedSearchBuildsOnlyItsOperatorsOnAnyWorkerCount) {
    const std::vector<std::string> names[] = {{"Plus", "Times", "Square"}, {"Sin", "Subtract", "Inv"}, {"Exp"}};
    for (const auto& chosen : names) {
        SCOPED_TRACE(chosen.front());
        const OperatorSet operators = named(chosen);
        const Found one = search(operators, "1");
        std::set<std::size_t> allowed;
        for (const std::string& name : chosen) allowed.insert(*builtins().find(name));
        EXPECT_TRUE(std::includes(allowed.begin(), allowed.end(), one.operators.begin(), one.operators.end()));
        EXPECT_EQ(search(operators, "2"), one);
    }
}

// Naming every operator is the default search, bit for bit; a subset searches differently.
TEST(OperatorSet, NamingEveryOperatorIsTheDefaultSearch) {
    std::vector<std::string> every;
    for (std::size_t id = 0; id < builtins().size(); ++id)
        if (builtins().meta(id).arity != 0) every.push_back(builtins().meta(id).name);
    const Found all = search(OperatorSet(), "2");
    EXPECT_EQ(search(named(every), "2"), all);
    EXPECT_TRUE(all.operators.count(kSin));
    EXPECT_FALSE(search(named({"Plus", "Times", "Square"}), "2") == all);
}

}  // namespace
}  // namespace kiv
