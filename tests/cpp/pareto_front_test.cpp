#include "engine/pareto_front.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <variant>
#include <vector>

#include "engine/optimizer.hpp"
#include "ops/registry.hpp"

namespace kiv {
namespace {

constexpr std::size_t kNeg = 6, kTimes = 9;
constexpr double kInf = std::numeric_limits<double>::infinity();

class ParetoFrontTest : public testing::Test {
protected:
    const RegistryHandle registry = std::make_shared<const OperatorRegistry>(with_builtins());

    // v_0 wrapped in Neg until it has `complexity` tokens: no Param.
    Expression of_complexity(std::size_t complexity) const {
        Expression e = variable_leaf(0);
        while (e.complexity < complexity) e = apply_unary(kNeg, e, *registry);
        return e;
    }
};

TEST_F(ParetoFrontTest, OnlyAStrictlySmallerErrorReplacesAnEntry) {
    struct Row {
        const char* name;
        double first;
        double second;
        bool replaced;
    };
    const Row rows[] = {
        {"tie keeps the first", 1.0, 1.0, false},
        {"strictly smaller replaces", 1.0, 0.5, true},
        {"larger is ignored", 1.0, 2.0, false},
        {"NaN never replaces", 1.0, std::nan(""), false},
        {"replaces an infinite error", kInf, 3.0, true},
    };
    const Expression first = variable_leaf(0);
    const Expression second = variable_leaf(1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ParetoFront front;
        update_pareto(row.first, front, first);
        EXPECT_EQ(front.would_accept(1, row.second), row.replaced);
        update_pareto(row.second, front, second);
        const auto entries = front.entries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries.at(1).expression.formula, row.replaced ? "v_{1}" : "v_{0}");
        EXPECT_EQ(entries.at(1).error, row.replaced ? row.second : row.first);
    }
}

TEST_F(ParetoFrontTest, NaNNeverFillsAnEmptyComplexity) {
    ParetoFront front;
    EXPECT_FALSE(front.would_accept(1, std::nan("")));
    update_pareto(std::nan(""), front, variable_leaf(0));
    EXPECT_TRUE(front.entries().empty());
    update_pareto(kInf, front, variable_leaf(0));
    EXPECT_EQ(front.entries().size(), 1u);
}

TEST_F(ParetoFrontTest, EntriesAreKeyedByComplexityAndNeverPruned) {
    ParetoFront front;
    update_pareto(0.1, front, of_complexity(1));
    update_pareto(5.0, front, of_complexity(3));
    update_pareto(4.0, front, of_complexity(2));
    const auto entries = front.entries();
    ASSERT_EQ(entries.size(), 3u);
    std::vector<std::size_t> keys;
    for (const auto& [complexity, entry] : entries) {
        keys.push_back(complexity);
        EXPECT_EQ(entry.expression.complexity, complexity);
    }
    EXPECT_EQ(keys, (std::vector<std::size_t>{1, 2, 3}));
}

TEST_F(ParetoFrontTest, EarlyExitAtFirstEntryNotAboveThreshold) {
    struct Row {
        const char* name;
        std::vector<double> errors;  // error of complexity i + 1
        bool exhaustive;
        bool expected;
    };
    const Row rows[] = {
        {"one entry below", {0.5, 0.7, 1e-12}, false, true},
        {"exhaustive never exits", {0.5, 0.7, 1e-12}, true, false},
        {"empty front", {}, false, false},
        {"equal to the threshold", {0.5, 1e-10}, false, true},
        {"all above", {0.5, 2e-10}, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ParetoFront front;
        for (std::size_t i = 0; i < row.errors.size(); ++i) update_pareto(row.errors[i], front, of_complexity(i + 1));
        EXPECT_EQ(check_early_exit(1e-10, front, row.exhaustive), row.expected);
    }
}

TEST_F(ParetoFrontTest, ScoreAndUpdateOffersOnlyFiniteErrors) {
    const Dataset data = Dataset::from_rows({{1.0}, {2.0}});
    const std::vector<double> targets{1.0, 3.0};
    ParetoFront front;
    score_and_update(variable_leaf(1), data, targets, front, *registry, 0.0, 0.5);
    EXPECT_TRUE(front.entries().empty());
    score_and_update(variable_leaf(0), data, targets, front, *registry, 0.0, 0.5);
    ASSERT_EQ(front.entries().size(), 1u);
    EXPECT_EQ(front.entries().at(1).error, 0.5);
}

TEST_F(ParetoFrontTest, FinalizeKeepsStrictParetoFrontInDescendingComplexity) {
    ParetoFront front;
    const double errors[] = {2.0, 2.0, 0.5, 0.7, 0.1};
    for (std::size_t i = 0; i < 5; ++i) update_pareto(errors[i], front, of_complexity(i + 1));
    const Dataset data = Dataset::from_rows({{1.0}});
    const auto outcome = finalize_result(front, registry, SearchConfig{}, data, std::vector<double>{1.0});
    ASSERT_TRUE(std::holds_alternative<std::vector<SearchResult>>(outcome));
    const auto& results = std::get<std::vector<SearchResult>>(outcome);
    ASSERT_EQ(results.size(), 3u);
    const std::size_t complexities[] = {5, 3, 1};
    const double kept_errors[] = {0.1, 0.5, 2.0};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i].complexity(), complexities[i]);
        EXPECT_EQ(results[i].error, kept_errors[i]);
        EXPECT_EQ(results[i].registry, registry);
    }
}

TEST_F(ParetoFrontTest, FinalizeOfEmptyFrontIsNoFormulaFound) {
    ParetoFront front;
    SearchConfig config;
    config.max_complexity = 10;
    const Dataset data = Dataset::from_rows({{1.0}});
    const auto outcome = finalize_result(front, registry, config, data, std::vector<double>{1.0});
    ASSERT_TRUE(std::holds_alternative<SearchError>(outcome));
    EXPECT_EQ(std::get<SearchError>(outcome).kind(), SearchError::Kind::NoFormulaFound);
    EXPECT_EQ(std::get<SearchError>(outcome).message(), "No formula found up to complexity 10");
}

TEST_F(ParetoFrontTest, FinalizeRefinementReplacesStoredEntryUnconditionally) {
    const Dataset data = Dataset::from_rows({{1.0}, {2.0}, {3.0}});
    const std::vector<double> targets{2.0, 4.1, 5.9};
    const Expression scaled = apply_binary(kTimes, parameter_leaf(), variable_leaf(0), *registry);
    const auto [refined, refined_error] = refine_constants(scaled, data, targets, *registry, 30, 0.0, 0.5);
    for (const bool optimize : {true, false}) {
        SCOPED_TRACE(optimize);
        // The stored error is lower than any the fit can reach.
        ParetoFront front;
        update_pareto(0.0, front, scaled);
        SearchConfig config;
        config.optimize_constants = optimize;
        const auto outcome = finalize_result(front, registry, config, data, targets);
        const auto& results = std::get<std::vector<SearchResult>>(outcome);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].error, optimize ? refined_error : 0.0);
        EXPECT_EQ(results[0].expression.tokens[0].value, (optimize ? refined : scaled).tokens[0].value);
    }
}

TEST_F(ParetoFrontTest, FinalizeDropsEntryThatIsNotStrictlyBetterAfterRefinement) {
    // Times(C, v_0) refines to an infinite error on a row whose v_0 is 1e300,
    // so only v_0 (complexity 1) remains.
    const Dataset data = Dataset::from_rows({{1.0}, {1e300}});
    const std::vector<double> targets{1.0, 1.0};
    ParetoFront front;
    update_pareto(1.0, front, variable_leaf(0));
    update_pareto(0.5, front, apply_binary(kTimes, parameter_leaf(), variable_leaf(0), *registry));
    const auto outcome = finalize_result(front, registry, SearchConfig{}, data, targets);
    const auto& results = std::get<std::vector<SearchResult>>(outcome);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].formula(), "v_{0}");
}

}  // namespace
}  // namespace kiv
