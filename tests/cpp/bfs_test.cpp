#include "engine/bfs.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace kiv {
namespace {

struct Problem {
    std::vector<std::vector<double>> rows;
    std::vector<double> targets;
};

template <class F>
Problem sample(F f, std::size_t n = 20) {
    Problem p;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = -2.0 + 4.0 * static_cast<double>(i) / static_cast<double>(n - 1);
        p.rows.push_back({x});
        p.targets.push_back(f(x));
    }
    return p;
}

SearchConfig config_with(std::uint64_t max_complexity, std::uint64_t beam_width = 1000) {
    SearchConfig config;
    config.max_complexity = max_complexity;
    config.beam_width = beam_width;
    return config;
}

struct Captured {
    Outcome<std::vector<SearchResult>> outcome;
    std::string output;
};

Captured search(const Problem& p, const SearchConfig& config) {
    testing::internal::CaptureStdout();
    auto outcome = run_bfs(p.rows, p.targets, config);
    return {std::move(outcome), testing::internal::GetCapturedStdout()};
}

const std::vector<SearchResult>& results(const Captured& c) {
    const auto* r = std::get_if<std::vector<SearchResult>>(&c.outcome);
    if (!r) throw std::runtime_error("search failed: " + std::get<SearchError>(c.outcome).message());
    return *r;
}

TEST(Search, RefusesBadInputBeforePrintingAnything) {
    struct Row {
        const char* name;
        Problem problem;
        SearchConfig config;
        const char* message;
    };
    Problem wide;
    wide.rows.push_back(std::vector<double>(256, 1.0));
    wide.targets.push_back(1.0);
    const Row rows[] = {
        {"3 rows, 2 targets", {{{1.0}, {2.0}, {3.0}}, {1.0, 2.0}}, config_with(3),
         "Inputs and target vector must be non-empty and equal length."},
        {"empty", {}, config_with(3), "Inputs and target vector must be non-empty and equal length."},
        {"256 columns", wide, config_with(3), "Inputs have 256 columns; at most 255 input variables are supported."},
        {"max_complexity 0", sample([](double x) { return x; }), config_with(0), "max_complexity must be at least 1."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Captured c = search(row.problem, row.config);
        ASSERT_TRUE(std::holds_alternative<SearchError>(c.outcome));
        EXPECT_EQ(std::get<SearchError>(c.outcome).kind(), SearchError::Kind::InvalidInput);
        EXPECT_EQ(std::get<SearchError>(c.outcome).message(), row.message);
        EXPECT_EQ(c.output, "");
    }
}

TEST(Search, ExactLeafStopsAfterLevelOneWithoutOutput) {
    const Captured c = search(sample([](double x) { return x; }), config_with(5));
    EXPECT_EQ(c.output, "");
    ASSERT_EQ(results(c).size(), 1u);
    EXPECT_EQ(results(c)[0].formula(), "v_{0}");
    EXPECT_EQ(results(c)[0].error, 0.0);
}

TEST(Search, ExhaustiveRunsEveryLevel) {
    SearchConfig config = config_with(3, 20);
    config.exhaustive = true;
    const Captured c = search(sample([](double x) { return x; }), config);
    EXPECT_NE(c.output.find("Level 1 seeded with 2 primary nodes."), std::string::npos);
    EXPECT_NE(c.output.find("-> Level 2 processed in"), std::string::npos);
    EXPECT_NE(c.output.find("-> Level 3 processed in"), std::string::npos);
    EXPECT_EQ(results(c).back().formula(), "v_{0}");
}

TEST(Search, MaxComplexityOneReturnsTheBetterLeaf) {
    const Captured c = search(sample([](double x) { return 3.0 * x + 1.0; }), config_with(1));
    EXPECT_EQ(c.output, "[KIV-SR] Started search space exploration. Level 1 seeded with 2 primary nodes.\n");
    ASSERT_EQ(results(c).size(), 1u);
    EXPECT_EQ(results(c)[0].formula(), "v_{0}");
    EXPECT_EQ(results(c)[0].complexity(), 1u);
}

TEST(Search, RecoversSinPlusSquareExactly) {
    const Captured c = search(sample([](double x) { return std::sin(x) + x * x; }), config_with(6, 200));
    const SearchResult& best = results(c).front();
    EXPECT_LE(best.error, 1e-10);
    EXPECT_TRUE(best.formula() == "Plus(Sin(v_{0}), Square(v_{0}))" ||
                best.formula() == "Plus(Square(v_{0}), Sin(v_{0}))")
        << best.formula();
}

TEST(Search, FrontIsStrictlyDecreasingInComplexityAndIncreasingInError) {
    const Captured c =
        search(sample([](double x) { return x * x * x - 0.5 * x + 0.3 * std::sin(3 * x); }), config_with(5, 100));
    const auto& list = results(c);
    ASSERT_FALSE(list.empty());
    for (std::size_t i = 1; i < list.size(); ++i) {
        EXPECT_GT(list[i - 1].complexity(), list[i].complexity());
        EXPECT_LT(list[i - 1].error, list[i].error);
    }
}

TEST(Search, BeamWidthZeroStillFeedsTheFront) {
    const Captured c = search(sample([](double x) { return std::exp(x); }), config_with(3, 0));
    EXPECT_NE(c.output.find("Level 2 processed in"), std::string::npos);
    EXPECT_NE(c.output.find("Retaining top 0 candidates."), std::string::npos);
    EXPECT_EQ(results(c).front().formula(), "Exp(v_{0})");
}

TEST(Search, HugeLimitsAllocateNothingUpFrontAndDoNotOverflow) {
    const Captured huge = search(sample([](double x) { return std::sin(x) + x * x; }),
                                 config_with(1'000'000'000, 1'000'000'000'000'000ULL));
    EXPECT_LE(results(huge).front().error, 1e-10);
    const Captured top = search(sample([](double x) { return std::cos(x); }), config_with(~std::uint64_t{0}, 50));
    EXPECT_EQ(results(top).front().formula(), "Cos(v_{0})");
}

TEST(Search, NonFiniteComplexityFactorNeverReachesTheFront) {
    for (const double penalty : {-0.5, std::nan(""), std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(penalty);
        SearchConfig config = config_with(3, 50);
        config.complexity_penalty = penalty;
        const Captured c = search(sample([](double x) { return std::exp(x) + 1.0; }), config);
        for (const SearchResult& r : results(c)) EXPECT_TRUE(std::isfinite(r.error)) << r.formula();
    }
}

// Removes the parts of the output that depend on timing.
std::string without_timing(const std::string& output) {
    static const std::regex progress("\r  \\[KIV\\][^\r\n]*");
    static const std::regex duration("processed in [^.]*(\\.[0-9]+)?(s|ms|µs|ns)\\.");
    return std::regex_replace(std::regex_replace(output, progress, ""), duration, "processed in T.");
}

TEST(Search, ResultsAndOutputDoNotDependOnThreadCount) {
    const Problem p = sample([](double x) { return x * x * x - 0.5 * x + 0.3 * std::sin(3 * x); }, 30);
    const SearchConfig config = config_with(5, 60);
    std::vector<Captured> runs;
    for (const char* threads : {"1", "2", "2"}) {
        setenv("KIV_SR_NUM_THREADS", threads, 1);
        runs.push_back(search(p, config));
    }
    unsetenv("KIV_SR_NUM_THREADS");
    for (std::size_t r = 1; r < runs.size(); ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(without_timing(runs[r].output), without_timing(runs[0].output));
        ASSERT_EQ(results(runs[r]).size(), results(runs[0]).size());
        for (std::size_t i = 0; i < results(runs[0]).size(); ++i) {
            EXPECT_EQ(results(runs[r])[i].formula(), results(runs[0])[i].formula());
            EXPECT_EQ(results(runs[r])[i].error, results(runs[0])[i].error);
        }
    }
}

TEST(Search, CancelCheckStopsTheSearch) {
    const Problem p = sample([](double x) { return x * x * x - 0.5 * x + 0.3 * std::sin(3 * x); }, 30);
    int polls = 0;
    testing::internal::CaptureStdout();
    EXPECT_THROW(run_bfs(p.rows, p.targets, config_with(8, 100), [&] { return ++polls >= 2; }), SearchCancelled);
    testing::internal::GetCapturedStdout();
    EXPECT_GE(polls, 2);
}

TEST(Search, SearchesFromSeveralThreadsAtOnceMatchTheSearchAlone) {
    // Searches share only the worker pool: each caller gets its own team.
    const std::vector<Problem> problems = {
        sample([](double x) { return x * x * x - 0.5 * x; }, 25),
        sample([](double x) { return std::exp(0.3 * x) + 1.0; }, 25),
        sample([](double x) { return std::sin(2.0 * x) * x; }, 25),
    };
    const SearchConfig config = config_with(4, 40);
    std::vector<Captured> alone;
    for (const Problem& p : problems) alone.push_back(search(p, config));
    std::vector<std::optional<Outcome<std::vector<SearchResult>>>> together(problems.size());
    testing::internal::CaptureStdout();
    std::vector<std::thread> callers;
    for (std::size_t i = 0; i < problems.size(); ++i)
        callers.emplace_back([&, i] { together[i] = run_bfs(problems[i].rows, problems[i].targets, config); });
    for (std::thread& caller : callers) caller.join();
    testing::internal::GetCapturedStdout();
    for (std::size_t i = 0; i < problems.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& expected = results(alone[i]);
        const auto& actual = std::get<std::vector<SearchResult>>(*together[i]);
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t r = 0; r < expected.size(); ++r) {
            EXPECT_EQ(actual[r].formula(), expected[r].formula());
            EXPECT_EQ(actual[r].error, expected[r].error);
        }
    }
}

}  // namespace
}  // namespace kiv
