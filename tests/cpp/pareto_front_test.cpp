#include "engine/pareto_front.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "engine/optimizer.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

// v_0 wrapped in Neg until it has `complexity` tokens: no Param.
Expression of_complexity(std::size_t complexity) {
    Expression e = variable_leaf(0);
    while (e.complexity < complexity) e = unary(kNeg, e);
    return e;
}

// Offers errors[i] at complexity i + 1.
void offer(ParetoFront& front, const std::vector<double>& errors) {
    for (std::size_t i = 0; i < errors.size(); ++i) update_pareto(errors[i], front, of_complexity(i + 1));
}

TEST(ParetoFront, OnlyAStrictlySmallerNonNaNErrorReplacesAnEntry) {
    struct Row {
        const char* name;
        double first;
        double second;
        bool replaced;
    };
    const Row rows[] = {
        {"tie keeps the first", 1.0, 1.0, false},     {"strictly smaller replaces", 1.0, 0.5, true},
        {"larger is ignored", 1.0, 2.0, false},       {"NaN never replaces", 1.0, kNaN, false},
        {"replaces an infinite error", kInf, 3.0, true}, {"NaN never fills an empty place", kNaN, 3.0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ParetoFront front;
        update_pareto(row.first, front, variable_leaf(0));
        EXPECT_EQ(front.would_accept(1, row.second), row.replaced);
        update_pareto(row.second, front, variable_leaf(1));
        const auto entries = front.entries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries.at(1).expression.formula, row.replaced ? "v_{1}" : "v_{0}");
        EXPECT_EQ(entries.at(1).error, row.replaced ? row.second : row.first);
    }
}

TEST(ParetoFront, EarlyExitAtFirstEntryNotAboveThresholdUnlessExhaustive) {
    struct Row {
        std::vector<double> errors;  // of complexities 1, 2, ...
        bool exhaustive, expected;
    };
    const Row rows[] = {{{0.5, 0.7, 1e-12}, false, true}, {{0.5, 0.7, 1e-12}, true, false}, {{}, false, false},
                        {{0.5, 1e-10}, false, true},      {{0.5, 2e-10}, false, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows);
        ParetoFront front;
        offer(front, row.errors);
        EXPECT_EQ(check_early_exit(1e-10, front, row.exhaustive), row.expected);
    }
}

TEST(ParetoFront, ScoreAndUpdateOffersOnlyFiniteErrors) {
    const Dataset data = Dataset::from_rows({{1.0}, {2.0}});
    const std::vector<double> targets{1.0, 3.0};
    ParetoFront front;
    score_and_update(variable_leaf(1), data, targets, front, builtins(), 0.0, 0.5);
    EXPECT_TRUE(front.entries().empty());
    score_and_update(variable_leaf(0), data, targets, front, builtins(), 0.0, 0.5);
    ASSERT_EQ(front.entries().size(), 1u);
    EXPECT_EQ(front.entries().at(1).error, 0.5);
}

class Finalize : public testing::Test {
protected:
    const RegistryHandle registry = std::make_shared<const OperatorRegistry>(with_builtins());
    const Expression scaled = apply_binary(kTimes, parameter_leaf(), variable_leaf(0), *registry);

    Outcome<std::vector<SearchResult>> finalize(const ParetoFront& front, const std::vector<std::vector<double>>& rows,
                                                const std::vector<double>& targets, bool optimize = true) const {
        SearchConfig config;
        config.max_complexity = std::numeric_limits<std::uint64_t>::max();
        config.optimize_constants = optimize;
        return finalize_result(front, registry, config, Dataset::from_rows(rows), targets);
    }
};

TEST_F(Finalize, KeepsTheStrictParetoFrontInDescendingComplexity) {
    ParetoFront front;
    offer(front, {2.0, 2.0, 0.5, 0.7, 0.1});
    const auto outcome = finalize(front, {{1.0}}, {1.0});
    std::vector<std::pair<std::size_t, double>> kept;
    for (const SearchResult& result : std::get<std::vector<SearchResult>>(outcome)) {
        kept.push_back({result.complexity(), result.error});
        EXPECT_EQ(result.registry, registry);
    }
    EXPECT_EQ(kept, (std::vector<std::pair<std::size_t, double>>{{5, 0.1}, {3, 0.5}, {1, 2.0}}));
    const auto empty = finalize(ParetoFront{}, {{1.0}}, {1.0});
    ASSERT_TRUE(std::holds_alternative<SearchError>(empty));
    EXPECT_EQ(std::get<SearchError>(empty).kind(), SearchError::Kind::NoFormulaFound);
    EXPECT_EQ(std::get<SearchError>(empty).message(), "No formula found up to complexity 18446744073709551615");
}

TEST_F(Finalize, RefinementReplacesTheStoredEntryUnconditionally) {
    const std::vector<std::vector<double>> rows{{1.0}, {2.0}, {3.0}};
    const std::vector<double> targets{2.0, 4.1, 5.9};
    const auto [refined, refined_error] =
        refine_constants(scaled, Dataset::from_rows(rows), targets, *registry, 30, 0.0, 0.5);
    for (const bool optimize : {true, false}) {
        SCOPED_TRACE(optimize);
        ParetoFront front;
        update_pareto(0.0, front, scaled);  // lower than any error the fit can reach
        const auto outcome = finalize(front, rows, targets, optimize);
        const auto& results = std::get<std::vector<SearchResult>>(outcome);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].error, optimize ? refined_error : 0.0);
        EXPECT_EQ(results[0].expression.tokens[0].value, (optimize ? refined : scaled).tokens[0].value);
    }
}

TEST_F(Finalize, DropsAnEntryThatIsNotStrictlyBetterAfterRefinement) {
    // Times(C, v_0) refines to an infinite error on a row whose v_0 is 1e300.
    ParetoFront front;
    update_pareto(1.0, front, variable_leaf(0));
    update_pareto(0.5, front, scaled);
    const auto outcome = finalize(front, {{1.0}, {1e300}}, {1.0, 1.0});
    const auto& results = std::get<std::vector<SearchResult>>(outcome);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].formula(), "v_{0}");
}

TEST_F(Finalize, FitRunningOffToMinusInfinityKeepsTheStoredEntry) {
    // With a hugely negative alpha the penalty of C falls without bound as C grows.
    ParetoFront front;
    update_pareto(-1.0, front, parameter_leaf());
    SearchConfig config;
    config.alpha = -1e308;
    const std::vector<double> targets{2.0};
    const Dataset data = Dataset::from_rows({{0.0}});
    std::vector<Token> tokens = parameter_leaf().tokens;
    ASSERT_EQ(ConstantFitter().refine(tokens, data, targets, *registry, 30, config.alpha, config.l1_ratio), -kInf)
        << "the fit must run off for this test to mean anything";
    const auto outcome = finalize_result(front, registry, config, data, targets);
    const auto& results = std::get<std::vector<SearchResult>>(outcome);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].error, -1.0);
    EXPECT_EQ(results[0].expression.tokens[0].value, parameter_leaf().tokens[0].value);
}

}  // namespace
}  // namespace kiv
