#include "engine/expansion.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kiv {
namespace {

// A beam seeded like a one-column search, with every generated candidate of
// each expanded level retained.
class ExpansionTest : public testing::Test {
protected:
    ExpansionTest() : expander_(registry_, seen_) {
        std::vector<BeamEntry> level_one;
        for (const Expression& leaf : {parameter_leaf(), variable_leaf(0)}) {
            seen_.insert(digest(*fingerprint(leaf, registry_)));
            level_one.push_back(BeamEntry::make(leaf, registry_, data_));
        }
        beam_.add_level({});
        beam_.add_level(std::move(level_one));
    }

    std::vector<std::string> expand_and_keep(std::size_t level) {
        std::vector<BeamEntry> entries;
        std::vector<std::string> formulas;
        for (const Recipe& recipe : expander_.expand(level, beam_, {})) {
            Expression e = beam_.materialize(recipe, level, registry_, {});
            formulas.push_back(e.formula);
            entries.push_back(BeamEntry::make(std::move(e), registry_, data_));
        }
        beam_.add_level(std::move(entries));
        return formulas;
    }

    static bool contains(const std::vector<std::string>& formulas, const std::string& formula) {
        return std::find(formulas.begin(), formulas.end(), formula) != formulas.end();
    }

    OperatorRegistry registry_ = with_builtins();
    Dataset data_ = Dataset::from_rows({{0.5}, {-1.5}});
    SeenSet seen_;
    Beam beam_;
    Expander expander_;
};

TEST_F(ExpansionTest, LevelTwoAppliesUnaryOperatorsInRegistryOrder) {
    const auto formulas = expand_and_keep(2);
    ASSERT_GE(formulas.size(), 2u);
    EXPECT_EQ(formulas[0], "Neg(C)");
    EXPECT_EQ(formulas[1], "Inv(C)");
    EXPECT_TRUE(contains(formulas, "Sin(v_{0})"));
    EXPECT_FALSE(contains(formulas, "Plus(C, v_{0})"));
}

// Same-bucket pairs skip the larger formula first for commutative operators
// only, and candidates equivalent to earlier ones are dropped.
TEST_F(ExpansionTest, LevelThreeSkipsMirroredPairsAndDuplicates) {
    expand_and_keep(2);
    const auto formulas = expand_and_keep(3);
    const std::pair<const char*, bool> rows[] = {
        {"Plus(C, v_{0})", true},      {"Plus(v_{0}, C)", false},    {"Subtract(v_{0}, C)", true},
        {"Subtract(C, v_{0})", true},  {"Plus(v_{0}, v_{0})", true}, {"Neg(Neg(v_{0}))", false},
        {"Times(v_{0}, v_{0})", false},  // computes what Square(v_{0}) of level 2 computes
        {"Square(Sin(v_{0}))", true},
    };
    for (const auto& [formula, present] : rows) EXPECT_EQ(contains(formulas, formula), present) << formula;
}

TEST_F(ExpansionTest, GeneratedCountsDuplicatesToo) {
    const std::size_t unary = registry_.ids_by_arity(1).size();
    const auto level_two = expand_and_keep(2);
    EXPECT_EQ(expander_.generated(), 2 * unary);
    const auto level_three = expand_and_keep(3);
    // Every pair of the two leaves with each of the 5 binary operators, less
    // Plus(v_{0}, C) and Times(v_{0}, C).
    EXPECT_EQ(expander_.generated(), level_two.size() * unary + 4 * 5 - 2);
    EXPECT_LT(level_three.size(), expander_.generated());
}

TEST_F(ExpansionTest, IncrementalFingerprintsMatchFullEvaluation) {
    expand_and_keep(2);
    expand_and_keep(3);
    for (const Recipe& recipe : expander_.expand(4, beam_, {})) {
        const Expression e = beam_.materialize(recipe, 4, registry_, {});
        SCOPED_TRACE(e.formula);
        const auto full = fingerprint(e, registry_);
        ASSERT_TRUE(full.has_value());
        EXPECT_FALSE(seen_.insert(digest(*full))) << "incremental fingerprint differs from the full one";
    }
}

}  // namespace
}  // namespace kiv
