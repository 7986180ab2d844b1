#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <variant>

#include "config.hpp"
#include "search_error.hpp"

namespace kiv {
namespace {

TEST(SearchConfig, DefaultsMatchTheDocumentedValues) {
    const SearchConfig config;
    EXPECT_EQ(config.max_complexity, 10u);
    EXPECT_EQ(config.complexity_penalty, 0.1);
    EXPECT_EQ(config.beam_width, 1000u);
    EXPECT_EQ(config.alpha, 0.0);
    EXPECT_EQ(config.l1_ratio, 0.5);
    EXPECT_EQ(config.early_exit_error, 1e-10);
    EXPECT_FALSE(config.exhaustive);
    EXPECT_TRUE(config.optimize_constants);
}

TEST(SearchConfig, ConstructorSetsTheFiveSettableFieldsAndFixesTheRest) {
    const SearchConfig config(3, 0.25, 7, 1.5, 0.75);
    EXPECT_EQ(config.max_complexity, 3u);
    EXPECT_EQ(config.complexity_penalty, 0.25);
    EXPECT_EQ(config.beam_width, 7u);
    EXPECT_EQ(config.alpha, 1.5);
    EXPECT_EQ(config.l1_ratio, 0.75);
    EXPECT_EQ(config.early_exit_error, 1e-10);
    EXPECT_FALSE(config.exhaustive);
    EXPECT_TRUE(config.optimize_constants);
}

TEST(SearchConfig, AnyValueIsAcceptedUnchanged) {
    const SearchConfig config(0, -1.0, 0, std::numeric_limits<double>::infinity(), 2.0);
    EXPECT_EQ(config.max_complexity, 0u);
    EXPECT_EQ(config.complexity_penalty, -1.0);
    EXPECT_EQ(config.beam_width, 0u);
    EXPECT_EQ(config.alpha, std::numeric_limits<double>::infinity());
    EXPECT_EQ(config.l1_ratio, 2.0);
}

TEST(SearchConfig, CopiesAreIndependent) {
    const SearchConfig original;
    SearchConfig copy = original;
    copy.alpha = 0.9;
    copy.max_complexity = 4;
    EXPECT_EQ(original.alpha, 0.0);
    EXPECT_EQ(original.max_complexity, 10u);
    EXPECT_EQ(copy.alpha, 0.9);
}

TEST(SearchError, NoFormulaFoundQuotesTheComplexityInPlainDecimal) {
    struct Row {
        std::uint64_t complexity;
        const char* message;
    };
    const Row rows[] = {
        {7, "No formula found up to complexity 7"},
        {0, "No formula found up to complexity 0"},
        {10, "No formula found up to complexity 10"},
        {std::numeric_limits<std::uint64_t>::max(), "No formula found up to complexity 18446744073709551615"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.complexity);
        const SearchError error = SearchError::no_formula_found(row.complexity);
        EXPECT_EQ(error.kind(), SearchError::Kind::NoFormulaFound);
        EXPECT_EQ(error.message(), row.message);
    }
}

TEST(SearchError, InvalidInputCarriesItsTextUnchanged) {
    const char* texts[] = {"Inputs and target vector must be non-empty and equal length.", "", "two\nlines ü"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        const SearchError error = SearchError::invalid_input(text);
        EXPECT_EQ(error.kind(), SearchError::Kind::InvalidInput);
        EXPECT_EQ(error.message(), text);
    }
}

TEST(SearchError, OutcomeHoldsAValueOrTheError) {
    const Outcome<int> value = 3;
    const Outcome<int> failure = SearchError::no_formula_found(2);
    ASSERT_TRUE(std::holds_alternative<int>(value));
    EXPECT_EQ(std::get<int>(value), 3);
    ASSERT_TRUE(std::holds_alternative<SearchError>(failure));
    EXPECT_EQ(std::get<SearchError>(failure).message(), "No formula found up to complexity 2");
}

}  // namespace
}  // namespace kiv
