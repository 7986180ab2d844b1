#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/expression.hpp"
#include "engine/retention.hpp"
#include "invariant.hpp"
#include "ops/registry.hpp"

namespace kiv {
namespace {

constexpr std::size_t kExp = 12;
constexpr std::size_t kPlus = 8;
constexpr std::size_t kSin = 15;
constexpr std::size_t kCos = 16;

std::vector<std::size_t> indices_of(const std::vector<ScoredCandidate>& pairs) {
    std::vector<std::size_t> indices;
    for (const ScoredCandidate& pair : pairs) indices.push_back(pair.index);
    return indices;
}

// Candidates 0 .. n-1 with score equal to their index, in ranked order.
std::vector<ScoredCandidate> ranked_by_index(std::size_t n) {
    std::vector<ScoredCandidate> pairs;
    for (std::size_t i = 0; i < n; ++i) pairs.push_back({i, static_cast<double>(i)});
    return pairs;
}

std::string same_key(std::size_t) { return "8"; }

TEST(EliteCount, EightyPercentRoundedDown) {
    struct Row {
        std::uint64_t beam_width;
        std::size_t elites;
    };
    const Row rows[] = {
        {0, 0},       {1, 0},          {2, 1},   {3, 2}, {5, 4}, {10, 8},
        {1000, 800},  {1'000'000'000'000'000, 800'000'000'000'000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.beam_width);
        EXPECT_EQ(elite_count(row.beam_width), row.elites);
    }
    EXPECT_LT(elite_count(std::numeric_limits<std::uint64_t>::max()), std::numeric_limits<std::size_t>::max());
}

TEST(OperatorSequenceKey, OpIdsInPostfixOrderJoinedByDash) {
    const OperatorRegistry registry = with_builtins();
    const Expression sin_x = apply_unary(kSin, variable_leaf(0), registry);
    const Expression sum = apply_binary(kPlus, sin_x, parameter_leaf(), registry);
    const Expression nested = apply_unary(kCos, apply_unary(kExp, sum, registry), registry);
    struct Row {
        const Expression* expression;
        const char* formula;
        const char* key;
    };
    const Expression leaf = variable_leaf(0);
    const Row rows[] = {
        {&leaf, "v_{0}", ""},
        {&sin_x, "Sin(v_{0})", "15"},
        {&sum, "Plus(Sin(v_{0}), C)", "15-8"},
        {&nested, "Cos(Exp(Plus(Sin(v_{0}), C)))", "15-8-12-16"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.formula);
        EXPECT_EQ(row.expression->formula, row.formula);
        EXPECT_EQ(operator_sequence_key(row.expression->tokens), row.key);
    }
}

TEST(Rank, AscendingScoreWithEqualScoresInCandidateOrder) {
    std::vector<ScoredCandidate> pairs = {{0, 2.0}, {1, 1.0}, {2, 2.0}, {3, -0.0}, {4, 1.0},
                                          {5, std::numeric_limits<double>::infinity()}, {6, 0.0}, {7, 2.0}};
    rank(pairs);
    EXPECT_EQ(indices_of(pairs), (std::vector<std::size_t>{3, 6, 1, 4, 0, 2, 7, 5}));
}

TEST(Rank, ManyEqualScoresKeepTheirOrder) {
    // Large enough that an unstable sort would reorder equal keys.
    std::mt19937 generator(7);
    std::vector<ScoredCandidate> pairs;
    for (std::size_t i = 0; i < 5000; ++i) pairs.push_back({i, static_cast<double>(generator() % 4)});
    rank(pairs);
    for (std::size_t i = 1; i < pairs.size(); ++i) {
        ASSERT_LE(pairs[i - 1].score, pairs[i].score);
        if (pairs[i - 1].score == pairs[i].score) {
            ASSERT_LT(pairs[i - 1].index, pairs[i].index);
        }
    }
}

TEST(Rank, NaNScoreIsAnInvariantViolation) {
    std::vector<ScoredCandidate> pairs = {{0, 1.0}, {1, std::nan("")}, {2, 0.5}};
    EXPECT_THROW(rank(pairs), InvariantViolation);
}

TEST(Retain, AtMostBeamWidthPairsAreAllKeptInRankedOrder) {
    struct Row {
        std::size_t pairs;
        std::uint64_t beam_width;
    };
    const Row rows[] = {{1000, 1000}, {999, 1000}, {0, 1000}, {0, 0}, {3, 1'000'000'000'000'000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.pairs << " pairs, beam " << row.beam_width);
        const auto ranked = ranked_by_index(row.pairs);
        const auto retained = retain(ranked, row.beam_width, elite_count(row.beam_width), same_key);
        EXPECT_EQ(indices_of(retained), indices_of(ranked));
    }
}

TEST(Retain, BeamWidthOneKeepsTheBestScore) {
    // With no elites every key counts zero, so the score alone decides.
    const auto keys = [](std::size_t index) { return std::to_string(index % 3); };
    const auto retained = retain(ranked_by_index(10), 1, elite_count(1), keys);
    EXPECT_EQ(indices_of(retained), (std::vector<std::size_t>{0}));
}

TEST(Retain, BeamWidthZeroKeepsNothing) {
    EXPECT_TRUE(retain(ranked_by_index(10), 0, elite_count(0), same_key).empty());
}

TEST(Retain, ElitesBeyondTheBeamAreAnInvariantViolation) {
    EXPECT_THROW(retain(ranked_by_index(10), 4, 5, same_key), InvariantViolation);
}

TEST(Retain, UnrepresentedOperatorSequenceTakesTheLastPlaceOverABetterScore) {
    const OperatorRegistry registry = with_builtins();
    const Expression x = variable_leaf(0);
    const Expression c = parameter_leaf();
    const std::vector<Expression> ranked_expressions = {
        apply_unary(kSin, x, registry),
        apply_unary(kSin, c, registry),
        apply_unary(kCos, x, registry),
        apply_unary(kSin, apply_unary(kExp, x, registry), registry),
        apply_unary(kCos, c, registry),
        apply_unary(kExp, x, registry),
    };
    const auto key_of = [&](std::size_t index) { return operator_sequence_key(ranked_expressions[index].tokens); };

    const auto retained = retain(ranked_by_index(ranked_expressions.size()), 5, elite_count(5), key_of);

    std::vector<std::string> formulas;
    for (const ScoredCandidate& pair : retained) formulas.push_back(ranked_expressions[pair.index].formula);
    EXPECT_EQ(formulas, (std::vector<std::string>{"Sin(v_{0})", "Sin(C)", "Cos(v_{0})", "Sin(Exp(v_{0}))",
                                                  "Exp(v_{0})"}));
}

TEST(Retain, EightHundredElitesThenTwoHundredByEliteKeyCountThenScore) {
    // Scores equal the index. Ten candidates have operator sequences of their
    // own; of the rest, every fourth shares key "b" and the others key "a",
    // so the elites 0..799 hold 600 "a" and 200 "b".
    const auto key_of = [](std::size_t index) -> std::string {
        if (index >= 4000 && index < 4010) return "u" + std::to_string(index);
        return index % 4 == 3 ? "b" : "a";
    };
    std::vector<ScoredCandidate> pairs = ranked_by_index(5000);
    std::shuffle(pairs.begin(), pairs.end(), std::mt19937(11));
    rank(pairs);

    const auto retained = retain(std::move(pairs), 1000, elite_count(1000), key_of);

    std::vector<std::size_t> expected;
    for (std::size_t i = 0; i < 800; ++i) expected.push_back(i);
    for (std::size_t i = 4000; i < 4010; ++i) expected.push_back(i);
    for (std::size_t i = 803; expected.size() < 1000; i += 4) expected.push_back(i);
    EXPECT_EQ(indices_of(retained), expected);
}

TEST(Retain, EqualKeyCountAndScoreKeepRankedOrder) {
    // Beam 5: elites 0..3 all have key "e"; the rest tie on (0, score).
    const auto key_of = [](std::size_t index) { return index < 4 ? std::string("e") : std::string("f"); };
    std::vector<ScoredCandidate> ranked = {{0, 1.0}, {1, 1.0}, {2, 1.0}, {3, 1.0},
                                           {9, 2.0}, {5, 2.0}, {7, 2.0}, {6, 2.0}};
    const auto retained = retain(ranked, 5, elite_count(5), key_of);
    EXPECT_EQ(indices_of(retained), (std::vector<std::size_t>{0, 1, 2, 3, 9}));
}

}  // namespace
}  // namespace kiv
