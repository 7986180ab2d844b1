#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "engine/parallel.hpp"
#include "engine/progress.hpp"
#include "thread_count.hpp"

namespace kiv {
namespace {

using std::chrono::nanoseconds;

// A temporary stream whose whole content can be read back.
class CapturedOutput {
public:
    CapturedOutput() : file_(std::tmpfile()) {}
    ~CapturedOutput() { std::fclose(file_); }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::FILE* file() const { return file_; }

    std::string text() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string content;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) content.append(buffer, n);
        return content;
    }

private:
    std::FILE* file_;
};

std::string repeat(const std::string& piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += piece;
    return text;
}

struct ProgressLine {
    std::size_t level;
    std::string bar;
    std::size_t percentage;
    std::size_t processed;
    std::size_t total;
    std::string estimate;
};

// Splits output made only of progress lines into its parsed lines; fails the
// test on any text that is not a well-formed progress line.
std::vector<ProgressLine> parse_progress_lines(const std::string& text) {
    static const std::regex line_pattern(
        "\r  \\[KIV\\] L([0-9]+) Progress: \\[((?:█|░)*)\\] ([0-9]+)% \\(([0-9]+)/([0-9]+)\\) \\| "
        "[0-9]+\\.[0-9]s \\(Est: ([0-9]+\\.[0-9])s\\)   ");
    std::vector<ProgressLine> lines;
    auto rest = text.cbegin();
    std::smatch match;
    while (rest != text.cend()) {
        if (!std::regex_search(rest, text.cend(), match, line_pattern, std::regex_constants::match_continuous)) {
            ADD_FAILURE() << "not a progress line: \"" << std::string(rest, text.cend()) << "\"";
            break;
        }
        lines.push_back({std::stoul(match[1]), match[2], std::stoul(match[3]), std::stoul(match[4]),
                         std::stoul(match[5]), match[6]});
        rest = match[0].second;
    }
    return lines;
}

TEST(DurationText, LargestWholeUnitWithAllSignificantFractionDigits) {
    struct Row {
        std::int64_t nanoseconds;
        const char* text;
    };
    const Row rows[] = {
        {0, "0ns"},
        {750, "750ns"},
        {999, "999ns"},
        {1'000, "1µs"},
        {1'001, "1.001µs"},
        {93'000, "93µs"},
        {999'999, "999.999µs"},
        {1'000'000, "1ms"},
        {3'000'000, "3ms"},
        {1'500'000, "1.5ms"},
        {481'302'000, "481.302ms"},
        {999'999'999, "999.999999ms"},
        {1'000'000'000, "1s"},
        {1'000'000'001, "1.000000001s"},
        {2'041'700'000, "2.0417s"},
        {2'500'000'000, "2.5s"},
        {3'600'000'000'000, "3600s"},
        {-5, "0ns"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.nanoseconds);
        EXPECT_EQ(duration_text(nanoseconds(row.nanoseconds)), row.text);
    }
}

TEST(Progress, BannerNamesThePrimaryNodeCount) {
    CapturedOutput output;
    Progress(output.file()).banner(2);
    EXPECT_EQ(output.text(), "[KIV-SR] Started search space exploration. Level 1 seeded with 2 primary nodes.\n");
}

TEST(Progress, SummaryLineNamesLevelDurationAndRetainedCount) {
    struct Row {
        std::size_t level;
        std::int64_t nanoseconds;
        std::size_t retained;
        const char* text;
    };
    const Row rows[] = {
        {4, 3'000'000, 0, "[KIV-SR]   -> Level 4 processed in 3ms. Retaining top 0 candidates.\n"},
        {12, 2'500'000'000, 1000, "[KIV-SR]   -> Level 12 processed in 2.5s. Retaining top 1000 candidates.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        CapturedOutput output;
        Progress(output.file()).level_summary(row.level, nanoseconds(row.nanoseconds), row.retained);
        EXPECT_EQ(output.text(), row.text);
    }
}

TEST(Progress, EmptyLevelPrintsNoProgressAndNoLineEnd) {
    CapturedOutput output;
    Progress progress(output.file());
    progress.start_level(5, 0);
    progress.candidate_started();
    progress.level_evaluated();
    EXPECT_EQ(output.text(), "");
}

TEST(Progress, ThreeCandidatesPrintEachThirdWithGrowingBar) {
    CapturedOutput output;
    Progress progress(output.file());
    progress.start_level(2, 3);
    for (int i = 0; i < 3; ++i) progress.candidate_started();
    const std::string text = output.text();
    const auto lines = parse_progress_lines(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    const std::size_t percentages[] = {33, 66, 100};
    const std::size_t full_cells[] = {3, 6, 10};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lines[i].level, 2u);
        EXPECT_EQ(lines[i].percentage, percentages[i]);
        EXPECT_EQ(lines[i].processed, i + 1);
        EXPECT_EQ(lines[i].total, 3u);
        EXPECT_EQ(lines[i].bar, repeat("█", full_cells[i]) + repeat("░", 10 - full_cells[i]));
    }
    EXPECT_EQ(lines[2].estimate, "0.0") << "nothing remains at 100 %";
}

TEST(Progress, LevelEvaluatedEndsTheProgressLine) {
    CapturedOutput output;
    Progress progress(output.file());
    progress.start_level(3, 1);
    progress.candidate_started();
    progress.level_evaluated();
    const std::string text = output.text();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(parse_progress_lines(text.substr(0, text.size() - 1)).size(), 1u);
}

TEST(Progress, ThousandCandidatesFirstReportAtTheTenthWithEmptyBar) {
    CapturedOutput output;
    Progress progress(output.file());
    progress.start_level(7, 1000);
    for (int i = 0; i < 9; ++i) progress.candidate_started();
    EXPECT_EQ(output.text(), "");
    progress.candidate_started();
    const auto first = parse_progress_lines(output.text());
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].percentage, 1u);
    EXPECT_EQ(first[0].processed, 10u);
    EXPECT_EQ(first[0].bar, repeat("░", 10));

    for (int i = 10; i < 1000; ++i) progress.candidate_started();
    const auto lines = parse_progress_lines(output.text());
    ASSERT_EQ(lines.size(), 100u);
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].percentage, i + 1);
}

TEST(Progress, StartLevelResetsTheCounters) {
    CapturedOutput output;
    Progress progress(output.file());
    progress.start_level(2, 2);
    progress.candidate_started();
    progress.candidate_started();
    progress.start_level(3, 2);
    progress.candidate_started();
    const auto lines = parse_progress_lines(output.text());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].level, 3u);
    EXPECT_EQ(lines[2].percentage, 50u);
    EXPECT_EQ(lines[2].processed, 1u);
}

TEST(Progress, SurplusCandidatesPrintNothingBeyondTheTotal) {
    CapturedOutput output;
    Progress progress(output.file());
    progress.start_level(2, 4);
    for (int i = 0; i < 6; ++i) progress.candidate_started();
    const auto lines = parse_progress_lines(output.text());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines.back().percentage, 100u);
}

class ProgressOnWorkers : public ThreadCountTest {};

TEST_P(ProgressOnWorkers, EachPercentagePrintedAtMostOnceAndHundredAlways) {
    CapturedOutput output;
    Progress progress(output.file());
    progress.start_level(4, 5000);
    parallel_for(5000, [&](std::size_t) { progress.candidate_started(); });
    const auto lines = parse_progress_lines(output.text());
    std::set<std::size_t> percentages;
    for (const ProgressLine& line : lines) {
        EXPECT_TRUE(percentages.insert(line.percentage).second) << "printed twice: " << line.percentage;
        EXPECT_EQ(line.percentage, line.processed * 100 / 5000);
    }
    EXPECT_TRUE(percentages.count(100));
}

INSTANTIATE_THREAD_COUNTS(ProgressOnWorkers);

}  // namespace
}  // namespace kiv
