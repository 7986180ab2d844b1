#include "engine/retention.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

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
    const std::pair<std::uint64_t, std::size_t> rows[] = {
        {0, 0}, {1, 0}, {2, 1}, {3, 2}, {1000, 800}, {1'000'000'000'000'000, 800'000'000'000'000}};
    for (const auto& [beam_width, elites] : rows) EXPECT_EQ(elite_count(beam_width), elites) << beam_width;
    EXPECT_LT(elite_count(std::numeric_limits<std::uint64_t>::max()), std::numeric_limits<std::size_t>::max());
}

TEST(OperatorSequenceKey, OpIdsInPostfixOrderJoinedByDash) {
    const Expression sum = binary(kPlus, unary(kSin, variable_leaf(0)), parameter_leaf());
    const Expression nested = unary(kCos, unary(kExp, sum));
    EXPECT_EQ(operator_sequence_key(variable_leaf(0).tokens), "");
    EXPECT_EQ(operator_sequence_key(sum.tokens), "15-8");
    EXPECT_EQ(nested.formula, "Cos(Exp(Plus(Sin(v_{0}), C)))");
    EXPECT_EQ(operator_sequence_key(nested.tokens), "15-8-12-16");
}

TEST(Rank, AscendingScoreWithEqualScoresInCandidateOrderAndNoNaN) {
    std::vector<ScoredCandidate> pairs = {{0, 2.0}, {1, 1.0}, {2, 2.0}, {3, -0.0}, {4, 1.0}, {5, kInf}, {6, 0.0}};
    rank(pairs);
    EXPECT_EQ(indices_of(pairs), (std::vector<std::size_t>{3, 6, 1, 4, 0, 2, 5}));
    pairs[2].score = kNaN;
    EXPECT_THROW(rank(pairs), InvariantViolation);
    // Large enough that an unstable sort would reorder equal keys.
    std::mt19937 generator(7);
    pairs.clear();
    for (std::size_t i = 0; i < 5000; ++i) pairs.push_back({i, static_cast<double>(generator() % 4)});
    std::vector<ScoredCandidate> expected = pairs;
    std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.score < b.score; });
    rank(pairs);
    EXPECT_EQ(indices_of(pairs), indices_of(expected));
}

TEST(Retain, KeepsAtMostBeamWidthInRankedOrderAndRefusesMoreElitesThanPlaces) {
    struct Row {
        std::size_t pairs;
        std::uint64_t beam_width;
        std::size_t kept;
    };
    const Row rows[] = {{1000, 1000, 1000}, {999, 1000, 999}, {0, 1000, 0},
                        {3, 1'000'000'000'000'000, 3}, {10, 1, 1}, {10, 0, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.pairs << " pairs, beam " << row.beam_width);
        const auto retained =
            retain(ranked_by_index(row.pairs), row.beam_width, elite_count(row.beam_width), same_key);
        EXPECT_EQ(indices_of(retained), indices_of(ranked_by_index(row.kept)));
    }
    EXPECT_THROW(retain(ranked_by_index(10), 4, 5, same_key), InvariantViolation);
}

TEST(Retain, UnrepresentedOperatorSequenceTakesTheLastPlaceOverABetterScore) {
    const Expression x = variable_leaf(0), c = parameter_leaf();
    const std::vector<Expression> ranked = {unary(kSin, x), unary(kSin, c),  unary(kCos, x),
                                            unary(kSin, unary(kExp, x)), unary(kCos, c), unary(kExp, x)};
    const auto key_of = [&](std::size_t index) { return operator_sequence_key(ranked[index].tokens); };
    std::vector<std::string> formulas;
    for (const ScoredCandidate& pair : retain(ranked_by_index(ranked.size()), 5, elite_count(5), key_of))
        formulas.push_back(ranked[pair.index].formula);
    EXPECT_EQ(formulas,
              (std::vector<std::string>{"Sin(v_{0})", "Sin(C)", "Cos(v_{0})", "Sin(Exp(v_{0}))", "Exp(v_{0})"}));
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
    const std::vector<ScoredCandidate> ranked = {{0, 1.0}, {1, 1.0}, {2, 1.0}, {3, 1.0},
                                                 {9, 2.0}, {5, 2.0}, {7, 2.0}, {6, 2.0}};
    EXPECT_EQ(indices_of(retain(ranked, 5, elite_count(5), key_of)), (std::vector<std::size_t>{0, 1, 2, 3, 9}));
}

}  // namespace
}  // namespace kiv
