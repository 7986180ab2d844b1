// The parts of a search level: scoring, deduplication, ranking, retention and
// the Pareto front with its final refinement. (Golden searches pin expansion.)
#include <memory>
#include <random>
#include <set>
#include <tuple>
#include <utility>

#include "engine/beam.hpp"
#include "engine/constant_refiner.hpp"
#include "engine/finalize_result.hpp"
#include "engine/operator_sequence_key.hpp"
#include "engine/pareto_front.hpp"
#include "engine/retention.hpp"
#include "engine/scoring.hpp"
#include "engine/seen_set.hpp"
#include "invariant.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

using Rows = std::vector<std::vector<double>>;

double raw_error(const Expression& expression, const Rows& rows, const std::vector<double>& targets, double alpha) {
    const Dataset data = Dataset::from_rows(rows);
    BlockEvaluator evaluator;
    return compute_raw_error({PreparedExpression(expression.tokens, data, builtins()), targets, {alpha, 0.5}},
                             evaluator);
}

// The mean squared error plus the penalty of the Real values and Param real
// parts (not of Const values); infinite where a row has no acceptable value.
// Refinement measures the same error.
TEST(RawError, MeanSquaredErrorPlusPenaltyOrInfinityWhereAnyRowHasNoAcceptableValue) {
    const Expression v0 = variable_leaf(0), constants = binary(kPlus, binary(kTimes, param_leaf({-2.0, 7.0}), v0),
                                                               binary(kTimes, const_leaf(kPi), real_leaf(0.5)));
    const Rows ragged{{1.0, 2.0}, {3.0}, {5.0, 6.0}};
    const std::tuple<const char*, Expression, Rows, std::vector<double>, double, double> rows[] = {
        {"penalty", constants, {{1.0}, {2.0}}, {-2 + M_PI / 2, -4 + M_PI / 2}, 0.8, 0.8 * (2.5 * 0.5 + 4.25 * 0.25)},
        {"leaf of magnitude 2e15", v0, {{1.0}, {2e15}}, {1.0, 0.0}, 0.0, kInf},
        {"infinite leaf", v0, {{1.0}, {kInf}}, {1.0, 0.0}, 0.0, kInf},
        {"NaN leaf", v0, {{1.0}, {kNaN}}, {1.0, 0.0}, 0.0, kInf},
        {"ragged rows, column on every row", v0, ragged, {1.0, 3.0, 5.0}, 0.0, 0.0},
        {"ragged rows, column missing from one", binary(kPlus, v0, variable_leaf(1)), ragged, {1, 3, 5}, 0.0, kInf}};
    for (const auto& [name, expression, data, targets, alpha, expected] : rows)
        EXPECT_EQ(raw_error(expression, data, targets, alpha), expected) << name;
    for (const std::vector<double>& targets : {std::vector<double>{0, 0, 9}, {0}})
        EXPECT_THROW(raw_error(v0, {{1.0}, {2.0}}, targets, 0.0), InvariantViolation);
    Expression on_axis = constants;
    on_axis.tokens[0].value = {-3.0, 0.0};
    const std::vector<double> targets{0.5, -1.0};
    EXPECT_EQ(compute_error_with_params(constants, std::vector{-3.0}, Dataset::from_rows({{1.0}, {2.0}}), targets,
                                        builtins(), {0.8, 0.5}),
              raw_error(on_axis, {{1.0}, {2.0}}, targets, 0.8));
    EXPECT_EQ((Penalty{2.0, 1.0}.of(3.0, 9.0)), 6.0);
    EXPECT_EQ((Penalty{2.0, 0.0}.of(3.0, 9.0)), 9.0);
}

class SeenSetBatch : public ThreadCountTest {};

// Batches report exactly the keys not seen before. The first is adversarial:
// nearby fingerprints (a weak digest would collide them), one probe start in
// every shard (long runs that wrap), the all-zero key (which also marks empty
// slots) and keys differing in one half. Random batches follow, then the first again.
TEST_P(SeenSetBatch, BatchesReportExactlyTheKeysNotSeenBefore) {
    std::vector<std::vector<FingerprintKey>> batches(1);
    for (std::int64_t a = -50; a < 50; ++a)
        for (std::int64_t b = -50; b < 50; ++b) batches[0].push_back(digest(Fingerprint{a, 0, 0, 0, 0, 0, 0, 0, 0, b}));
    for (std::uint64_t hi = 1; hi <= 5000; ++hi) batches[0].push_back({7, hi * 0x9E3779B97F4A7C15ULL});
    batches[0].insert(batches[0].end(), {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 1}});
    for (const std::size_t count : {50'000u, 10u, 0u, 80'000u}) {
        std::mt19937_64 generator(count);
        batches.emplace_back();
        for (std::size_t i = 0; i < count; ++i)
            batches.back().push_back(digest(Fingerprint{static_cast<std::int64_t>(generator() % 60'000), 1}));
    }
    batches.push_back(batches[0]);
    SeenSet set;
    const WorkerPool workers;
    std::set<std::pair<std::uint64_t, std::uint64_t>> model;
    for (const std::vector<FingerprintKey>& keys : batches) {
        std::vector<std::uint8_t> is_new(keys.size(), 2), expected;
        for (const FingerprintKey& key : keys) expected.push_back(model.insert({key.lo, key.hi}).second ? 1 : 0);
        set.insert_batch(keys, is_new, workers);
        EXPECT_EQ(is_new, expected);
        EXPECT_EQ(set.size(), model.size());
    }
    std::vector<std::uint8_t> one(1);
    EXPECT_THROW(set.insert_batch(std::vector<FingerprintKey>(2), one, workers), InvariantViolation);
}

INSTANTIATE_THREAD_COUNTS(SeenSetBatch);

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

// Ranking is stable and refuses NaN. Retention keeps at most the beam width:
// 80 % elites, then the candidates whose operator sequence the fewest elites
// share, then by score, then in ranked order.
TEST(Retention, StableRankingAndEliteThenOperatorSequenceThenScoreRetention) {
    const std::pair<std::uint64_t, std::size_t> elites[] = {
        {0, 0}, {1, 0}, {2, 1}, {3, 2}, {1000, 800}, {1'000'000'000'000'000, 800'000'000'000'000}};
    for (const auto& [beam_width, count] : elites) EXPECT_EQ(elite_count(beam_width), count) << beam_width;
    std::vector<ScoredCandidate> pairs = {{0, 2.0}, {1, 1.0}, {2, 2.0}, {3, -0.0}, {4, 1.0}, {5, kInf}, {6, 0.0}};
    rank(pairs);
    EXPECT_EQ(indices_of(pairs), (std::vector<std::size_t>{3, 6, 1, 4, 0, 2, 5}));
    pairs[2].score = kNaN;
    EXPECT_THROW(rank(pairs), InvariantViolation);
    const auto same_key = [](std::size_t) { return std::string("8"); };
    const std::array<std::size_t, 3> kept[] = {
        // candidates, beam width, kept
        {1000, 1000, 1000}, {999, 1000, 999}, {0, 1000, 0}, {3, std::size_t{1} << 60, 3}, {10, 1, 1}, {10, 0, 0}};
    for (const auto& [count, beam_width, expected] : kept)
        EXPECT_EQ(indices_of(retain(ranked_by_index(count), beam_width, elite_count(beam_width), same_key)),
                  indices_of(ranked_by_index(expected)))
            << count << " candidates, beam " << beam_width;
    EXPECT_THROW(retain(ranked_by_index(10), 4, 5, same_key), InvariantViolation);
    // Large enough that an unstable sort would reorder equal scores.
    pairs = ranked_by_index(5000);
    std::shuffle(pairs.begin(), pairs.end(), std::mt19937(11));
    for (ScoredCandidate& pair : pairs) pair.score = std::floor(pair.score / 2);
    std::vector<ScoredCandidate> stable = pairs;
    std::stable_sort(stable.begin(), stable.end(), [](auto& a, auto& b) { return a.score < b.score; });
    rank(pairs);
    EXPECT_EQ(indices_of(pairs), indices_of(stable));
    // Beam 10: the elites 0..7 have keys a twice, b once, c three times, d and e
    // once. Of the rest, those with keys no elite has come first (10, then 13
    // ranked before 12 at the same score), then b, a and c.
    const std::string keys = "aabcccdecafbgh";
    std::vector<ScoredCandidate> ranked = ranked_by_index(12);
    ranked.insert(ranked.end(), {{13, 12.0}, {12, 12.0}});
    EXPECT_EQ(indices_of(retain(ranked, 10, elite_count(10), [&](std::size_t i) { return keys.substr(i, 1); })),
              (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7, 10, 13}));
}

// A candidate's key built from its operands' keys is the key of its tokens,
// whichever operands are leaves.
TEST(OperatorSequenceKey, KeyFromOperandKeysIsTheKeyOfTheComposedTokens) {
    const Expression v0 = variable_leaf(0), sum = binary(kPlus, unary(kSin, v0), parameter_leaf());
    EXPECT_EQ(operator_sequence_key(v0.tokens), "");
    const std::tuple<Expression, std::optional<Expression>, std::size_t, const char*> rows[] = {
        {v0, {}, kCos, "16"},        {sum, {}, kCos, "15-8-16"},    {v0, v0, kTimes, "9"},
        {v0, sum, kTimes, "15-8-9"}, {sum, v0, kDivide, "15-8-11"}, {sum, sum, kPlus, "15-8-15-8-8"}};
    for (const auto& [left, right, op, key] : rows) {
        const Expression composed = right ? binary(op, left, *right) : unary(op, left);
        EXPECT_EQ(operator_sequence_key(composed.tokens), key);
        EXPECT_EQ(operator_sequence_key(operator_sequence_key(left.tokens),
                                        right ? operator_sequence_key(right->tokens) : "", op),
                  key);
    }
}

// A candidate is evaluated on the tokens of the expression it becomes: its
// right operand's Params are numbered after its left operand's.
TEST(Beam, CandidateTokensAreThoseOfTheExpressionItBecomes) {
    const Dataset data = Dataset::from_rows({{1.0}, {2.0}});
    const Expression c = parameter_leaf(), v0 = variable_leaf(0);
    Beam beam;
    beam.add_level({});
    beam.add_level({BeamEntry::make(c, builtins(), data), BeamEntry::make(v0, builtins(), data)});
    beam.add_level({BeamEntry::make(unary(kSin, c), builtins(), data)});
    const std::pair<Recipe, std::size_t> candidates[] = {
        {{kPlus, 2, 0, 0}, 4}, {{kTimes, 1, 0, 0}, 3}, {{kDivide, 1, 1, 0}, 3}, {{kExp, 2, 0, 0}, 3}};
    std::vector<Token> tokens;
    for (const auto& [recipe, level] : candidates) {
        beam.write_tokens(recipe, level, tokens);
        const Expression expected = beam.materialize(recipe, level, builtins(), {});
        ASSERT_EQ(tokens.size(), expected.tokens.size()) << expected.formula;
        for (std::size_t t = 0; t < tokens.size(); ++t)
            EXPECT_TRUE(tokens[t].kind == expected.tokens[t].kind && tokens[t].index == expected.tokens[t].index &&
                        tokens[t].arity == expected.tokens[t].arity && tokens[t].op_id == expected.tokens[t].op_id)
                << expected.formula << " token " << t;
    }
}

// Offers errors[i] for v_0 wrapped in Neg to complexity i + 1.
std::unique_ptr<ParetoFront> front_of(const std::vector<double>& errors) {
    auto front = std::make_unique<ParetoFront>();
    Expression e = variable_leaf(0);
    for (const double error : errors) front->update(error, std::exchange(e, unary(kNeg, e)));
    return front;
}

// Only a strictly smaller error that is not NaN replaces an entry; the first
// entry not above the threshold ends the search unless it is exhaustive.
TEST(ParetoFront, StrictlySmallerNonNaNErrorsReplaceEntriesAndEarlyExitNeedsOneAtTheThreshold) {
    const std::tuple<double, double, bool> rows[] = {
        // first error, second error, whether the second replaces it
        {1, 1, false}, {1, 0.5, true}, {1, 2, false}, {1, kNaN, false}, {kInf, 3, true}, {kNaN, 3, true}};
    for (const auto& [first, second, replaced] : rows) {
        const auto front = front_of({first});
        EXPECT_EQ(front->would_accept(1, second), replaced) << first << " then " << second;
        front->update(second, variable_leaf(1));
        ASSERT_EQ(front->entries().size(), 1u);
        EXPECT_EQ(front->entries().at(1).expression.formula, replaced ? "v_{1}" : "v_{0}") << first << ", " << second;
    }
    const std::pair<std::vector<double>, bool> early[] = {
        {{0.5, 0.7, 1e-12}, true}, {{}, false}, {{0.5, 1e-10}, true}, {{0.5, 2e-10}, false}};
    for (const auto& [errors, expected] : early) {
        EXPECT_EQ(front_of(errors)->check_early_exit(1e-10, false), expected) << testing::PrintToString(errors);
        EXPECT_FALSE(front_of(errors)->check_early_exit(1e-10, true));
    }
}

using Results = std::vector<std::tuple<std::string, double, Complex>>;  // formula, error, first token's value

Results finalized(const ParetoFront& front, const Rows& rows, std::vector<double> targets, bool optimize = true,
                  double alpha = 0.0) {
    SearchConfig config(std::numeric_limits<std::uint64_t>::max(), 0.1, 1000, alpha, 0.5);
    config.optimize_constants = optimize;
    const auto registry = std::make_shared<const OperatorRegistry>(with_builtins());
    const auto outcome = finalize_result(front, registry, config, Dataset::from_rows(rows), targets);
    Results out;
    for (const SearchResult& r : std::get<std::vector<SearchResult>>(outcome)) {
        EXPECT_EQ(r.registry, registry);
        out.push_back({r.formula(), r.error, r.expression.tokens[0].value});
    }
    return out;
}

// The strict front in descending complexity, each entry with Param refined
// and replaced even when its error grows, unless the refinement ran off to -inf.
TEST(Finalize, StrictFrontInDescendingComplexityEachEntryRefined) {
    const Complex var{0, 0};  // the value field of a Var token
    EXPECT_EQ(finalized(*front_of({2.0, 2.0, 0.5, 0.7, 0.1}), {{1.0}}, {1.0}),
              (Results{{"Neg(Neg(Neg(Neg(v_{0}))))", 0.1, var}, {"Neg(Neg(v_{0}))", 0.5, var}, {"v_{0}", 2.0, var}}));
    const auto none = finalize_result(ParetoFront{}, {}, SearchConfig(), Dataset::from_rows({{1.0}}), {});
    EXPECT_EQ(std::get<SearchError>(none).message(), "No formula found up to complexity 10");
    const Expression scaled = binary(kTimes, parameter_leaf(), variable_leaf(0));
    const Rows rows{{1.0}, {2.0}, {3.0}};
    const auto [refined, error] = refine_constants(scaled, Dataset::from_rows(rows), std::vector<double>{2, 4.1, 5.9},
                                                   builtins(), 30, {0.0, 0.5});
    ParetoFront front;
    front.update(0.0, scaled);  // lower than any error refinement can reach
    EXPECT_EQ(finalized(front, rows, {2, 4.1, 5.9}), (Results{{"Times(C, v_{0})", error, refined.tokens[0].value}}));
    EXPECT_EQ(finalized(front, rows, {2, 4.1, 5.9}, false), (Results{{"Times(C, v_{0})", 0.0, {0.1, 0}}}));
    // Times(C, v_0) refines to an infinite error on a row whose v_0 is 1e300, so v_0 alone is kept.
    front.update(1.0, variable_leaf(0));
    EXPECT_EQ(finalized(front, {{1.0}, {1e300}}, {1.0, 1.0}), (Results{{"v_{0}", 1.0, var}}));
    // With a hugely negative alpha the penalty of C falls without bound as C grows.
    ASSERT_EQ(refine_constants(parameter_leaf(), Dataset::from_rows({{0.0}}), std::vector<double>{2.0}, builtins(), 30,
                               {-1e308, 0.5})
                  .second,
              -kInf)
        << "the refinement must run off for this test to mean anything";
    ParetoFront runaway;
    runaway.update(-1.0, parameter_leaf());
    EXPECT_EQ(finalized(runaway, {{0.0}}, {2.0}, true, -1e308), (Results{{"C", -1.0, {0.1, 0}}}));
}

}  // namespace
}  // namespace kiv
