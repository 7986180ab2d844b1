#include "engine/progress.hpp"

#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "engine/parallel.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

using std::chrono::nanoseconds;

// Runs `body` on a Progress printing to standard output; returns what it printed.
template <class Body>
std::string printed(Body body) {
    testing::internal::CaptureStdout();
    Progress progress;
    body(progress);
    return testing::internal::GetCapturedStdout();
}

using Line = std::array<std::size_t, 4>;  // level, percentage, processed, total

// The progress lines of `text`, which must hold nothing else, each with a bar
// of one full cell per ten percent and no time left at 100 %.
std::vector<Line> progress_lines(const std::string& text) {
    static const std::regex pattern(
        "\r  \\[KIV\\] L([0-9]+) Progress: \\[((?:█|░)*)\\] ([0-9]+)% \\(([0-9]+)/([0-9]+)\\) \\| "
        "[0-9]+\\.[0-9]s \\(Est: ([0-9]+\\.[0-9])s\\)   ");
    std::vector<Line> lines;
    std::smatch match;
    for (auto rest = text.cbegin(); rest != text.cend(); rest = match[0].second) {
        if (!std::regex_search(rest, text.cend(), match, pattern, std::regex_constants::match_continuous)) {
            ADD_FAILURE() << "not a progress line: \"" << std::string(rest, text.cend()) << "\"";
            break;
        }
        const Line line{std::stoul(match[1]), std::stoul(match[3]), std::stoul(match[4]), std::stoul(match[5])};
        std::string bar;
        for (std::size_t cell = 0; cell < 10; ++cell) bar += cell < line[1] / 10 ? "█" : "░";
        EXPECT_EQ(match[2], bar);
        EXPECT_TRUE(line[1] < 100 || match[6] == "0.0") << match[6];
        lines.push_back(line);
    }
    return lines;
}

TEST(DurationText, LargestWholeUnitWithAllSignificantFractionDigits) {
    const std::pair<std::int64_t, const char*> rows[] = {
        {0, "0ns"},           {999, "999ns"},           {1'000, "1µs"},
        {1'001, "1.001µs"},   {999'999, "999.999µs"},   {3'000'000, "3ms"},
        {1'500'000, "1.5ms"}, {481'302'000, "481.302ms"}, {999'999'999, "999.999999ms"},
        {1'000'000'000, "1s"}, {1'000'000'001, "1.000000001s"}, {2'041'700'000, "2.0417s"},
        {3'600'000'000'000, "3600s"}, {-5, "0ns"},
    };
    for (const auto& [ns, text] : rows) EXPECT_EQ(duration_text(nanoseconds(ns)), text) << ns;
}

TEST(Progress, BannerAndSummaryLines) {
    EXPECT_EQ(printed([](Progress& progress) {
                  progress.banner(2);
                  progress.level_summary(4, nanoseconds(3'000'000), 0);
                  progress.level_summary(12, nanoseconds(2'500'000'000), 1000);
              }),
              "[KIV-SR] Started search space exploration. Level 1 seeded with 2 primary nodes.\n"
              "[KIV-SR]   -> Level 4 processed in 3ms. Retaining top 0 candidates.\n"
              "[KIV-SR]   -> Level 12 processed in 2.5s. Retaining top 1000 candidates.\n");
}

TEST(Progress, EachRiseOfThePercentagePrintsOneLine) {
    struct Level {
        std::size_t level, total, candidates;
    };
    struct Row {
        const char* name;
        std::vector<Level> levels;
        bool evaluated;  // level_evaluated() after the last level
        std::vector<Line> lines;
    };
    std::vector<Line> thousand;
    for (std::size_t q = 1; q <= 100; ++q) thousand.push_back({7, q, 10 * q, 1000});
    const Row rows[] = {
        {"empty level: no line and no line end", {{5, 0, 1}}, true, {}},
        {"three candidates", {{2, 3, 3}}, false, {{2, 33, 1, 3}, {2, 66, 2, 3}, {2, 100, 3, 3}}},
        {"nothing before the tenth of a thousand", {{7, 1000, 9}}, false, {}},
        {"a thousand candidates", {{7, 1000, 1000}}, false, thousand},
        {"start_level resets the counters", {{2, 2, 2}, {3, 2, 1}}, false,
         {{2, 50, 1, 2}, {2, 100, 2, 2}, {3, 50, 1, 2}}},
        {"surplus candidates", {{2, 2, 4}}, false, {{2, 50, 1, 2}, {2, 100, 2, 2}}},
        {"level_evaluated ends the line", {{3, 1, 1}}, true, {{3, 100, 1, 1}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string text = printed([&](Progress& progress) {
            for (const Level& level : row.levels) {
                progress.start_level(level.level, level.total);
                for (std::size_t i = 0; i < level.candidates; ++i) progress.candidate_started();
            }
            if (row.evaluated) progress.level_evaluated();
        });
        if (row.evaluated && !row.lines.empty()) {
            ASSERT_EQ(text.back(), '\n');
            text.pop_back();
        }
        EXPECT_EQ(progress_lines(text), row.lines);
    }
}

class ProgressOnWorkers : public ThreadCountTest {};

TEST_P(ProgressOnWorkers, EachPercentagePrintedAtMostOnceAndHundredAlways) {
    const std::string text = printed([](Progress& progress) {
        progress.start_level(4, 5000);
        parallel_for(5000, [&](std::size_t) { progress.candidate_started(); });
    });
    std::set<std::size_t> percentages;
    for (const Line& line : progress_lines(text)) {
        EXPECT_TRUE(percentages.insert(line[1]).second) << "printed twice: " << line[1];
        EXPECT_EQ(line[1], line[2] * 100 / 5000);
        EXPECT_EQ(line[3], 5000u);
    }
    EXPECT_TRUE(percentages.count(100));
}

INSTANTIATE_THREAD_COUNTS(ProgressOnWorkers);

}  // namespace
}  // namespace kiv
