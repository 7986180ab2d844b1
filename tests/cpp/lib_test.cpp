#include "lib.hpp"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>
#include <variant>

namespace kiv {
namespace {

// A small, quick configuration: the searches below finish in a few levels.
const Searcher kSearcher(SearchConfig(4, 0.1, 50, 0.0, 0.5));

std::string summary(const Outcome<SearchResult>& outcome) {
    if (const auto* error = std::get_if<SearchError>(&outcome)) return "error: " + error->message();
    const SearchResult& result = std::get<SearchResult>(outcome);
    std::ostringstream text;
    text << result.formula() << " " << std::setprecision(17) << result.error << " " << result.complexity();
    return text.str();
}

TEST(Facade, EachRequestIsTheMultivariateSearchOfItsRows) {
    const std::vector<double> ys = {3.5, 4.5, 5.5, 6.5};  // x + 2.5
    const std::vector<std::vector<double>> rows = {{1.0}, {2.0}, {3.0}, {4.0}};
    const std::string expected = summary(kSearcher.find_multivariate(rows, ys));
    EXPECT_EQ(summary(kSearcher.find_function({1.0, 2.0, 3.0, 4.0}, ys)), expected);
    const auto candidates = kSearcher.find_candidates(rows, ys);
    ASSERT_TRUE(std::holds_alternative<std::vector<SearchResult>>(candidates));
    EXPECT_EQ(summary(std::get<std::vector<SearchResult>>(candidates).front()), expected);
    EXPECT_EQ(summary(kSearcher.recognize_constant(3.14159)), summary(kSearcher.find_multivariate({{0.0}}, {3.14159})));
    EXPECT_EQ(summary(kSearcher.find_function({1.0, 2.0}, {1.0})),
              "error: Inputs and target vector must be non-empty and equal length.");
}

TEST(Facade, OverridesApplyToTheCopyAsIfConfigured) {
    const Searcher copy = kSearcher.with_overrides(0.5, std::nullopt);
    EXPECT_EQ(kSearcher.config().alpha, 0.0);
    EXPECT_EQ(copy.config().l1_ratio, 0.5);
    const Searcher configured(SearchConfig(4, 0.1, 50, 0.5, 0.5));
    const std::vector<double> xs = {1.0, 2.0, 3.0}, ys = {2.5, 4.5, 6.5};
    EXPECT_EQ(summary(copy.find_function(xs, ys)), summary(configured.find_function(xs, ys)));
}

}  // namespace
}  // namespace kiv
