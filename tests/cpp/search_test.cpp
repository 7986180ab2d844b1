// Whole searches: refusals, what they print, the front they return, results
// that depend neither on the worker count nor on other searches running at
// once, cancellation, and golden outputs of fixed searches.
#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <thread>

#include "engine/bfs.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

struct Problem {
    std::vector<std::vector<double>> rows;
    std::vector<double> targets;
};

// f at n evenly spaced points of [-2, 2].
Problem sample(double (*f)(double), std::size_t n = 20) {
    Problem p;
    for (std::size_t i = 0; i < n; ++i) {
        p.rows.push_back({-2.0 + 4.0 * static_cast<double>(i) / static_cast<double>(n - 1)});
        p.targets.push_back(f(p.rows.back()[0]));
    }
    return p;
}

struct Searched {
    Outcome<std::vector<SearchResult>> outcome;
    std::string output;
    const std::vector<SearchResult>& results() const { return std::get<std::vector<SearchResult>>(outcome); }
};

Searched search(const Problem& p, const SearchConfig& config, const CancelCheck& cancel = {}) {
    testing::internal::CaptureStdout();
    auto outcome = run_bfs(p.rows, p.targets, config, {.cancel = cancel});
    return {std::move(outcome), testing::internal::GetCapturedStdout()};
}

SearchConfig config(std::uint64_t max_complexity, std::uint64_t beam_width, double penalty = 0.1, double alpha = 0) {
    return SearchConfig(max_complexity, penalty, beam_width, alpha, 0.5);
}

double cubic(double x) { return x * x * x - 0.5 * x + 0.3 * std::sin(3 * x); }

// "result <complexity> <error in hexadecimal> <formula>" for each result.
std::string listed(const std::vector<SearchResult>& results) {
    std::string out;
    char error[64];
    for (const SearchResult& r : results) {
        std::snprintf(error, sizeof error, "%a", r.error);
        out += "result " + std::to_string(r.complexity()) + " " + error + " " + r.formula() + "\n";
    }
    return out;
}

// Bad input is refused before anything is printed. A search stops early at
// an exact fit unless exhaustive; its front is strictly decreasing in
// complexity and increasing in error, with finite errors whatever the
// complexity penalty.
TEST(Search, SmallSearchesPrintAndReturnTheirFrontOrTheirRefusal) {
    struct Row {
        const char* name;
        Problem problem;
        SearchConfig config;
        const char* output;  // the whole output when `whole`, else a part of it
        bool whole;
        const char* best = nullptr;  // the formula of the first result, or the refusal
        double max_error = kInf;     // of the first result
    };
    SearchConfig exhaustive = config(3, 20);
    exhaustive.exhaustive = true;
    const auto line = [](double x) { return x; };
    const auto exp_plus_one = [](double x) { return std::exp(x) + 1.0; };
    const Row rows[] = {
        {"3 rows, 2 targets",
         {{{1.0}, {2.0}, {3.0}}, {1.0, 2.0}},
         config(3, 10),
         "",
         true,
         "Inputs and target vector must be non-empty and equal length."},
        {"256 columns",
         {{std::vector<double>(256, 1.0)}, {1.0}},
         config(3, 10),
         "",
         true,
         "Inputs have 256 columns; at most 255 input variables are supported."},
        {"max_complexity 0", sample(cubic), config(0, 10), "", true, "max_complexity must be at least 1."},
        {"an exact leaf stops after level 1", sample(line), config(5, 1000), "", true, "v_{0}"},
        {"exhaustive", sample(line), exhaustive, "-> Level 3 processed in", false},
        {"max_complexity 1", sample([](double x) { return 3.0 * x + 1.0; }), config(1, 1000),
         "[KIV-SR] Started search space exploration. Level 1 seeded with 2 primary nodes.\n", true, "v_{0}"},
        {"beam width 0", sample([](double x) { return std::exp(x); }), config(3, 0), "Retaining top 0 candidates.",
         false, "Exp(v_{0})"},
        {"huge limits", sample([](double x) { return std::sin(x) + x * x; }), config(1'000'000'000, 1ULL << 60), "",
         false, nullptr, 1e-10},
        {"largest max_complexity", sample([](double x) { return std::cos(x); }), config(~std::uint64_t{0}, 50), "",
         false, "Cos(v_{0})"},
        {"NaN penalty", sample(exp_plus_one), config(3, 50, kNaN), "", true,
         "complexity_penalty must be a number; got nan."},
        {"infinite penalty", sample(exp_plus_one), config(3, 50, kInf), "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Searched run = search(row.problem, row.config);
        EXPECT_TRUE(row.whole ? run.output == row.output : run.output.find(row.output) != std::string::npos)
            << run.output;
        if (const auto* error = std::get_if<SearchError>(&run.outcome)) {
            EXPECT_EQ(error->kind(), SearchError::Kind::InvalidInput);
            EXPECT_EQ(error->message(), row.best);
            continue;
        }
        const auto& results = run.results();
        ASSERT_FALSE(results.empty());
        EXPECT_EQ(results.front().formula(), row.best ? row.best : results.front().formula());
        EXPECT_LE(results.front().error, row.max_error);
        for (std::size_t i = 0; i < results.size(); ++i)
            EXPECT_TRUE(std::isfinite(results[i].error) &&
                        (i == 0 || (results[i - 1].complexity() > results[i].complexity() &&
                                    results[i - 1].error < results[i].error)))
                << results[i].formula();
    }
}

// The same law in smaller units: the same formula, its constant scaled, and
// an error that is as small relative to the targets.
TEST(Search, TargetsOfAnyScaleGiveTheSameLaw) {
    for (const double scale : {1.0, 1e-2, 1e-4, 1e-6, 1e-8}) {
        SCOPED_TRACE(scale);
        Problem p;
        for (int i = 0; i < 20; ++i) {
            const double x = 0.5 + 2.5 * i / 19.0;
            p.rows.push_back({x});
            p.targets.push_back(2.5 * scale * x * x);
        }
        const Searched run = search(p, config(5, 300));
        const SearchResult& best = run.results().front();
        EXPECT_EQ(best.formula(), "Times(C, Square(v_{0}))");
        const double one = 1.0;
        EXPECT_NEAR(best.eval_multi({&one, 1}) / scale, 2.5, 1e-9);
        EXPECT_LE(best.error, 1e-20 * scale * scale);
    }
    // Constant targets have no scale: an exact constant still ends the search at once.
    const Searched constant = search(sample([](double) { return 2.5; }), config(5, 300));
    EXPECT_TRUE(constant.output.find("Level 2 processed") != std::string::npos &&
                constant.output.find("Level 3") == std::string::npos)
        << constant.output;
}

// Removes the parts of the output that depend on timing.
std::string without_timing(const std::string& output) {
    static const std::regex progress("\r  \\[KIV\\][^\r\n]*");
    static const std::regex duration("processed in [^.]*(\\.[0-9]+)?(s|ms|µs|ns)\\.");
    return std::regex_replace(std::regex_replace(output, progress, ""), duration, "processed in T.");
}

// Searches share only the worker pool: each caller gets a team of its own.
TEST(Search, ResultsAndOutputDependNeitherOnTheWorkerCountNorOnSearchesRunningAtOnce) {
    const Problem problems[] = {sample(cubic, 30), sample([](double x) { return std::exp(0.3 * x) + 1.0; }, 25),
                                sample([](double x) { return std::sin(2.0 * x) * x; }, 25)};
    const auto run = [&](std::size_t i) { return run_bfs(problems[i].rows, problems[i].targets, config(5, 60)); };
    std::vector<Searched> alone;
    setenv("KIV_SR_NUM_THREADS", "1", 1);
    for (const Problem& p : problems) alone.push_back(search(p, config(5, 60)));
    setenv("KIV_SR_NUM_THREADS", "2", 1);
    const Searched two = search(problems[0], config(5, 60));
    EXPECT_EQ(without_timing(two.output), without_timing(alone[0].output));
    EXPECT_EQ(listed(two.results()), listed(alone[0].results()));
    std::vector<Searched> together(std::size(problems));
    std::vector<std::thread> callers;
    testing::internal::CaptureStdout();
    for (std::size_t i = 0; i < std::size(problems); ++i)
        callers.emplace_back([&, i] { together[i].outcome = run(i); });
    for (std::thread& caller : callers) caller.join();
    testing::internal::GetCapturedStdout();
    unsetenv("KIV_SR_NUM_THREADS");
    for (std::size_t i = 0; i < std::size(problems); ++i)
        EXPECT_EQ(listed(together[i].results()), listed(alone[i].results())) << i;
}

TEST(Search, CancelCheckStopsTheSearch) {
    int polls = 0;
    EXPECT_THROW(search(sample(cubic, 30), config(8, 100), [&] { return ++polls >= 2; }), SearchCancelled);
    testing::internal::GetCapturedStdout();  // left capturing by the exception
    EXPECT_GE(polls, 2);
}

// A search stopped after any number of polls returns exactly the front of a
// search that ends at the last level it completed.
TEST(Search, StoppedSearchReturnsTheFrontOfItsCompletedLevels) {
    const Problem problem = sample(cubic, 30);
    for (const int stop_at : {1, 3, 4, 1 << 30}) {
        int polls = 0;
        testing::internal::CaptureStdout();
        const auto outcome = run_bfs_until(problem.rows, problem.targets, config(6, 100),
                                           {.cancel = [&] { return ++polls >= stop_at; }});
        testing::internal::GetCapturedStdout();
        const auto& partial = std::get<PartialFront>(outcome);
        EXPECT_EQ(partial.end == SearchEnd::Stopped, partial.levels_completed < 6) << stop_at;
        EXPECT_EQ(listed(partial.front), listed(search(problem, config(partial.levels_completed, 100)).results()))
            << stop_at;
    }
}

// An exact fit ends a search early only before its last level.
TEST(Search, EndsOnAnExactFitOnlyBeforeItsLastLevel) {
    const Problem square = sample([](double x) { return x * x; });
    for (const auto& [max_complexity, end] :
         {std::pair{std::uint64_t{5}, SearchEnd::ExactFit}, std::pair{std::uint64_t{2}, SearchEnd::AllLevels}}) {
        testing::internal::CaptureStdout();
        const auto outcome = run_bfs_until(square.rows, square.targets, config(max_complexity, 100), {});
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(std::get<PartialFront>(outcome).end, end) << max_complexity;
        EXPECT_EQ(std::get<PartialFront>(outcome).levels_completed, 2u) << max_complexity;
    }
}

// Golden outputs: the returned formulas with their errors bit for bit and the
// per-level retained counts. Any change to them is a change in results; an
// optimisation must leave them untouched. KIV_UPDATE_GOLDENS=1 rewrites
// tests/golden/searches.txt instead of comparing.
struct GoldenCase {
    std::string name;
    std::size_t samples, variables;
    double (*target)(const std::vector<double>&);
    SearchConfig config;
};

TEST(Golden, FixedSearchesReproduceTheirRecordedResults) {
    using X = const std::vector<double>&;
    const auto cubic_of = [](X x) { return cubic(x[0]); };
    const GoldenCase cases[] = {
        {"noisy-cubic-n100", 100, 1, cubic_of, config(6, 100)},
        {"noisy-cubic-n1000-alpha", 1000, 1, cubic_of, config(5, 60, 0.1, 0.01)},
        {"two-vars", 50, 2, [](X x) { return x[0] * std::exp(-x[1]) + 0.7; }, config(7, 40)},
        {"three-vars", 40, 3, [](X x) { return x[0] * x[1] - std::log(x[2] * x[2] + 1); }, config(6, 30, 0.1, 0.001)},
        {"one-sample", 1, 1, [](X) { return 3.14159; }, config(5, 200)},
        {"rational", 30, 1, [](X x) { return 1.0 / (1.0 + x[0] * x[0]); }, config(8, 25)},
        {"default-beam", 60, 1, [](X x) { return std::cos(x[0]) * 2.5 + x[0]; }, config(5, 1000)},
    };
    std::string actual;
    for (const GoldenCase& c : cases) {
        std::mt19937_64 rng(7);
        std::uniform_real_distribution<double> uniform(-3.0, 3.0);
        std::normal_distribution<double> noise(0.0, 0.05);
        Problem p;
        for (std::size_t i = 0; i < c.samples; ++i) {
            std::vector<double> row(c.variables);
            for (double& v : row) v = c.samples == 1 ? 0.0 : uniform(rng);
            p.targets.push_back(c.target(row) + (c.samples > 1 ? noise(rng) : 0.0));
            p.rows.push_back(std::move(row));
        }
        const Searched run = search(p, c.config);
        actual += "case " + c.name + "\n";
        static const std::regex retained("Level ([0-9]+) processed in [^ ]+ Retaining top ([0-9]+) candidates");
        for (auto it = std::sregex_iterator(run.output.begin(), run.output.end(), retained);
             it != std::sregex_iterator(); ++it)
            actual += "level " + (*it)[1].str() + " retained " + (*it)[2].str() + "\n";
        actual += listed(run.results());
    }
    const std::string file = std::string(KIV_GOLDEN_DIR) + "/searches.txt";
    if (std::getenv("KIV_UPDATE_GOLDENS")) {
        std::ofstream(file) << actual;
        GTEST_SKIP() << "goldens rewritten";
    }
    std::ifstream in(file);
    ASSERT_TRUE(in) << "missing " << file;
    EXPECT_EQ(actual, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

}  // namespace
}  // namespace kiv
