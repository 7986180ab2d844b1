#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "lib.hpp"

namespace kiv {
namespace {

// A small, quick configuration: the searches below finish in a few levels.
Searcher small_searcher() { return Searcher(SearchConfig(4, 0.1, 50, 0.0, 0.5)); }

const SearchResult& ok(const Outcome<SearchResult>& outcome) {
    if (const auto* error = std::get_if<SearchError>(&outcome)) ADD_FAILURE() << error->message();
    return std::get<SearchResult>(outcome);
}

void expect_same_result(const SearchResult& a, const SearchResult& b) {
    EXPECT_EQ(a.formula(), b.formula());
    EXPECT_EQ(a.error, b.error);
    EXPECT_EQ(a.complexity(), b.complexity());
}

TEST(Facade, FindFunctionSearchesOneRowPerValue) {
    const std::vector<double> xs = {1.0, 2.0, 3.0, 4.0};
    const std::vector<double> ys = {3.5, 4.5, 5.5, 6.5};  // x + 2.5
    const Searcher searcher = small_searcher();
    const auto one_variable = searcher.find_function(xs, ys);
    const auto rows = searcher.find_multivariate({{1.0}, {2.0}, {3.0}, {4.0}}, ys);
    expect_same_result(ok(one_variable), ok(rows));
    EXPECT_LE(ok(one_variable).error, 1e-10);
}

TEST(Facade, RecognizeConstantSearchesOneSampleAtZero) {
    const Searcher searcher = small_searcher();
    const auto constant = searcher.recognize_constant(3.14159);
    const auto sample = searcher.find_multivariate({{0.0}}, {3.14159});
    expect_same_result(ok(constant), ok(sample));
}

TEST(Facade, FirstCandidateIsTheMultivariateResult) {
    const std::vector<std::vector<double>> rows = {{1.0, 2.0}, {3.0, 4.0}, {0.5, -1.0}, {2.0, 2.0}};
    const std::vector<double> ys = {3.5, 12.5, 0.0, 4.5};
    const Searcher searcher = small_searcher();
    const auto candidates = searcher.find_candidates(rows, ys);
    ASSERT_TRUE(std::holds_alternative<std::vector<SearchResult>>(candidates));
    const auto& list = std::get<std::vector<SearchResult>>(candidates);
    ASSERT_FALSE(list.empty());
    expect_same_result(list.front(), ok(searcher.find_multivariate(rows, ys)));
}

TEST(Facade, OverridesApplyToTheCopyAsIfConfigured) {
    const Searcher searcher = small_searcher();
    const Searcher copy = searcher.with_overrides(0.5, std::nullopt);
    EXPECT_EQ(searcher.config().alpha, 0.0);
    EXPECT_EQ(copy.config().alpha, 0.5);
    EXPECT_EQ(copy.config().l1_ratio, 0.5);

    const std::vector<double> xs = {1.0, 2.0, 3.0};
    const std::vector<double> ys = {2.5, 4.5, 6.5};
    const Searcher configured(SearchConfig(4, 0.1, 50, 0.5, 0.5));
    expect_same_result(ok(copy.find_function(xs, ys)), ok(configured.find_function(xs, ys)));
}

TEST(Facade, InvalidDataIsASearchError) {
    const Searcher searcher = small_searcher();
    const Outcome<SearchResult> outcomes[] = {
        searcher.find_function({}, {}),
        searcher.find_function({1.0, 2.0}, {1.0}),
        searcher.find_multivariate({{1.0}, {2.0}, {3.0}}, {1.0, 2.0}),
    };
    for (const auto& outcome : outcomes) {
        ASSERT_TRUE(std::holds_alternative<SearchError>(outcome));
        const SearchError& error = std::get<SearchError>(outcome);
        EXPECT_EQ(error.kind(), SearchError::Kind::InvalidInput);
        EXPECT_EQ(error.message(), "Inputs and target vector must be non-empty and equal length.");
    }
}

TEST(Facade, CancelCheckStopsTheSearch) {
    const Searcher searcher(SearchConfig(10, 0.1, 1000, 0.0, 0.5));
    std::vector<double> xs, ys;
    for (int i = 0; i < 200; ++i) {
        xs.push_back(i * 0.01);
        ys.push_back(std::sin(37.0 * i) * 3.0);  // no closed form: the search would run all levels
    }
    int polls = 0;
    EXPECT_THROW(searcher.find_function(xs, ys, [&] { return ++polls >= 3; }), SearchCancelled);
    EXPECT_GE(polls, 3);
}

}  // namespace
}  // namespace kiv
