// Golden outputs of fixed searches: the returned formulas with their errors
// bit for bit and the per-level retained counts. Any change to them is a
// change in results; an optimisation must leave them untouched.
//
// KIV_UPDATE_GOLDENS=1 rewrites tests/golden/searches.txt instead of comparing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/bfs.hpp"

namespace kiv {
namespace {

struct GoldenCase {
    std::string name;
    std::size_t samples;
    std::size_t variables;
    std::function<double(const std::vector<double>&)> target;
    SearchConfig config;
};

SearchConfig config(std::uint64_t max_complexity, std::uint64_t beam_width, double alpha = 0.0) {
    SearchConfig c;
    c.max_complexity = max_complexity;
    c.beam_width = beam_width;
    c.alpha = alpha;
    return c;
}

std::vector<GoldenCase> cases() {
    return {
        {"noisy-cubic-n100", 100, 1,
         [](const std::vector<double>& x) { return x[0] * x[0] * x[0] - 0.5 * x[0] + 0.3 * std::sin(3 * x[0]); },
         config(6, 100)},
        {"noisy-cubic-n1000-alpha", 1000, 1,
         [](const std::vector<double>& x) { return x[0] * x[0] * x[0] - 0.5 * x[0] + 0.3 * std::sin(3 * x[0]); },
         config(5, 60, 0.01)},
        {"two-vars", 50, 2, [](const std::vector<double>& x) { return x[0] * std::exp(-x[1]) + 0.7; },
         config(7, 40)},
        {"three-vars", 40, 3, [](const std::vector<double>& x) { return x[0] * x[1] - std::log(x[2] * x[2] + 1); },
         config(6, 30, 0.001)},
        {"one-sample", 1, 1, [](const std::vector<double>&) { return 3.14159; }, config(5, 200)},
        {"rational", 30, 1, [](const std::vector<double>& x) { return 1.0 / (1.0 + x[0] * x[0]); }, config(8, 25)},
        {"default-beam", 60, 1, [](const std::vector<double>& x) { return std::cos(x[0]) * 2.5 + x[0]; },
         config(5, 1000)},
    };
}

std::string run_case(const GoldenCase& c) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> uniform(-3.0, 3.0);
    std::normal_distribution<double> noise(0.0, 0.05);
    std::vector<std::vector<double>> rows;
    std::vector<double> targets;
    for (std::size_t i = 0; i < c.samples; ++i) {
        std::vector<double> row(c.variables);
        for (double& v : row) v = c.samples == 1 ? 0.0 : uniform(rng);
        targets.push_back(c.target(row) + (c.samples > 1 ? noise(rng) : 0.0));
        rows.push_back(std::move(row));
    }
    testing::internal::CaptureStdout();
    const auto outcome = run_bfs(rows, targets, c.config);
    const std::string output = testing::internal::GetCapturedStdout();

    std::ostringstream golden;
    golden << "case " << c.name << "\n";
    static const std::regex retained("Level ([0-9]+) processed in [^ ]+ Retaining top ([0-9]+) candidates");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), retained); it != std::sregex_iterator(); ++it)
        golden << "level " << (*it)[1] << " retained " << (*it)[2] << "\n";
    if (const auto* results = std::get_if<std::vector<SearchResult>>(&outcome)) {
        for (const SearchResult& r : *results) {
            char error[64];
            std::snprintf(error, sizeof error, "%a", r.error);
            golden << "result " << r.complexity() << " " << error << " " << r.formula() << "\n";
        }
    } else {
        golden << "error " << std::get<SearchError>(outcome).message() << "\n";
    }
    return golden.str();
}

const std::string kGoldenFile = std::string(KIV_GOLDEN_DIR) + "/searches.txt";

TEST(Golden, FixedSearchesReproduceTheirRecordedResults) {
    std::string actual;
    for (const GoldenCase& c : cases()) actual += run_case(c);
    if (std::getenv("KIV_UPDATE_GOLDENS")) {
        std::ofstream(kGoldenFile) << actual;
        GTEST_SKIP() << "goldens rewritten";
    }
    std::ifstream in(kGoldenFile);
    ASSERT_TRUE(in) << "missing " << kGoldenFile;
    const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(actual, expected);
}

}  // namespace
}  // namespace kiv
