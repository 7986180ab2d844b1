// The worker pool (parallel_for and its worker count) and the progress
// output that its workers write.
#include <algorithm>
#include <atomic>
#include <regex>
#include <set>
#include <stdexcept>
#include <thread>

#include "engine/parallel.hpp"
#include "engine/progress.hpp"
#include "test_util.hpp"

namespace kiv {
namespace {

class ParallelFor : public ThreadCountTest {};

TEST_P(ParallelFor, EveryIndexIsVisitedOnceAndTheLowestFailingIndexIsRethrownAfterAllLowerIndices) {
    const WorkerPool pool;
    EXPECT_EQ(pool.size(), GetParam());
    for (const std::size_t count : {0u, 1u, 7u, 10'000u}) {
        std::vector<std::atomic<int>> visits(count);
        pool.parallel_for(count, [&](std::size_t i) { visits[i].fetch_add(1, std::memory_order_relaxed); });
        for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(visits[i].load(), 1) << "index " << i << " of " << count;
    }
    // Repeated because which worker fails first varies from run to run.
    for (int round = 0; round < 10; ++round) {
        std::vector<std::atomic<int>> visits(2000);
        const auto body = [&](std::size_t i) {
            visits[i].fetch_add(1, std::memory_order_relaxed);
            if (i >= 300 && i % 100 == 0) throw std::runtime_error(std::to_string(i));
        };
        EXPECT_THROW_MSG(pool.parallel_for(visits.size(), body), std::runtime_error, "300");
        for (std::size_t i = 0; i <= 300; ++i) ASSERT_EQ(visits[i].load(), 1) << "index " << i;
    }
}

// A pool keeps the count it was made with: a new setting reaches new pools
// only, and no loop of the old pool runs on a worker beyond its size.
TEST_P(ParallelFor, PoolKeepsItsWorkerCountWhenTheSettingChanges) {
    const WorkerPool pool;
    setenv("KIV_SR_NUM_THREADS", "8", 1);
    std::vector<std::size_t> workers(20'000);
    pool.parallel_for(workers.size(), [&](std::size_t i) { workers[i] = current_worker(); });
    EXPECT_EQ(pool.size(), GetParam());
    EXPECT_LT(*std::max_element(workers.begin(), workers.end()), GetParam());
    EXPECT_EQ(WorkerPool().size(), 8u);
}

// A check that says go on skips nothing; one that says stop ends the loop.
TEST_P(ParallelFor, CancelCheckIsPolledOnTheCallingThreadOnly) {
    const WorkerPool pool;
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> polled_elsewhere{false}, stop{false};
    const CancelCheck check = [&] {
        polled_elsewhere = polled_elsewhere || std::this_thread::get_id() != caller;
        return stop.load();
    };
    // Each body outlasts the poll interval, so the caller polls on its next index.
    std::atomic<std::size_t> visits{0};
    const auto slow_body = [&](std::size_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ++visits;
    };
    pool.parallel_for(4 * GetParam() + 4, slow_body, check);
    EXPECT_EQ(visits, 4 * GetParam() + 4);
    stop = true;
    visits = 0;
    EXPECT_THROW(pool.parallel_for(4 * GetParam() + 4, slow_body, check), SearchCancelled);
    // The stop reaches every worker: none starts another index after the
    // caller's poll (at its second index), whatever work was left.
    EXPECT_LE(visits, 2 * GetParam());
    EXPECT_FALSE(polled_elsewhere);
}

TEST_P(ParallelFor, ExceptionOfAnotherWorkerReachesTheCaller) {
    if (GetParam() < 2) GTEST_SKIP() << "needs a worker besides the caller";
    // The caller is slow, so another worker takes an index long before the
    // caller could finish them all; its failure then ends the loop early.
    const auto fail_off_the_calling_thread = [](std::size_t) {
        if (current_worker() != 0) throw std::runtime_error("worker " + std::to_string(current_worker()));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    EXPECT_THROW_MSG(WorkerPool().parallel_for(2000, fail_off_the_calling_thread), std::runtime_error, "worker 1");
}

TEST_P(ParallelFor, CallsFromSeveralThreadsAtOnceKeepTheirOwnOutputAndFailure) {
    // Each caller gets a team of its own; one caller's failure stays its own.
    constexpr std::size_t kCallers = 4, kCount = 5000, kFailing = 2;
    std::vector<std::vector<std::size_t>> outputs(kCallers, std::vector<std::size_t>(kCount));
    std::vector<std::string> failures(kCallers);
    std::vector<std::thread> callers;
    const WorkerPool pool;
    for (std::size_t c = 0; c < kCallers; ++c)
        callers.emplace_back([&, c] {
            try {
                pool.parallel_for(kCount, [&](std::size_t i) {
                    if (c == kFailing && i == 1234) throw std::runtime_error("caller " + std::to_string(c));
                    outputs[c][i] = i * (c + 1);
                });
            } catch (const std::runtime_error& error) {
                failures[c] = error.what();
            }
        });
    for (std::thread& caller : callers) caller.join();
    for (std::size_t c = 0; c < kCallers; ++c) {
        EXPECT_EQ(failures[c], c == kFailing ? "caller 2" : "") << c;
        for (std::size_t i = 0; i < kCount && c != kFailing; ++i) ASSERT_EQ(outputs[c][i], i * (c + 1)) << c;
    }
}

// A line for each rise of the percentage, whichever worker causes it: each
// percentage at most once and after no higher one, 100 always, none for surplus candidates, every one
// when a lone worker counts. Each line has a bar of one full cell per ten
// percent and no time left at 100 %. level_evaluated ends the line of a level
// with candidates only; start_level resets the counts.
TEST_P(ParallelFor, ProgressFromWorkersPrintsOneLineForEachRiseOfThePercentage) {
    ProgressOutput output(ProgressOutput::Destination::Buffer);
    Progress progress(output);
    progress.start_level(4, 5000);
    WorkerPool().parallel_for(5001, [&](std::size_t) { progress.candidate_started(); });
    progress.level_evaluated();
    progress.start_level(5, 0);
    progress.candidate_started();
    progress.level_evaluated();
    progress.start_level(6, 3);
    progress.candidate_started();
    const std::string text = output.take();
    static const std::regex pattern(
        "\r  \\[KIV\\] L([0-9]+) Progress: \\[((?:█|░)*)\\] ([0-9]+)% "
        "\\(([0-9]+)/([0-9]+)\\) \\| [0-9]+\\.[0-9]s \\(Est: ([0-9]+\\.[0-9])s\\)   ");
    std::vector<std::array<std::size_t, 4>> lines;  // level, percentage, processed, total
    std::set<std::size_t> percentages;
    std::size_t length = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it) {
        const auto& line = lines.emplace_back(std::array<std::size_t, 4>{std::stoul((*it)[1]), std::stoul((*it)[3]),
                                                                         std::stoul((*it)[4]), std::stoul((*it)[5])});
        std::string bar;
        for (std::size_t cell = 0; cell < 10; ++cell) bar += cell < line[1] / 10 ? "█" : "░";
        EXPECT_EQ((*it)[2], bar);
        EXPECT_TRUE(line[1] < 100 || (*it)[6] == "0.0");
        EXPECT_EQ(line[1], line[2] * 100 / line[3]);
        EXPECT_TRUE(line[0] != 4 || percentages.insert(line[1]).second) << "printed twice: " << line[1];
        EXPECT_TRUE(line[0] != 4 || line[1] == *percentages.rbegin()) << line[1] << " after a higher percentage";
        length += it->length();
    }
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), (std::array<std::size_t, 4>{6, 33, 1, 3}));
    EXPECT_EQ(lines[lines.size() - 2][0], 4u);
    EXPECT_EQ(text.find('\n'), text.rfind("\r  [KIV] L6") - 1) << "one line end, after the level of 5000";
    EXPECT_EQ(length + 1, text.size()) << "lines broken up or other text";
    EXPECT_EQ(percentages.count(100), 1u);
    EXPECT_TRUE(GetParam() > 1 || percentages.size() == 100);
}

INSTANTIATE_THREAD_COUNTS(ParallelFor);

TEST(WorkerCount, UnusableSettingsFallBackAndAbsurdOnesAreCapped) {
    unsetenv("KIV_SR_NUM_THREADS");
    const std::size_t processors = worker_count();
    const std::pair<const char*, std::size_t> rows[] = {{"3", 3},
                                                        {"0", processors},
                                                        {"-3", processors},
                                                        {"abc", processors},
                                                        {"2x", processors},
                                                        {"", processors},
                                                        {"1024", 1024},
                                                        {"100000", 1024},
                                                        {"99999999999999999999999", 1024}};
    for (const auto& [setting, expected] : rows) {
        setenv("KIV_SR_NUM_THREADS", setting, 1);
        EXPECT_EQ(worker_count(), expected) << setting;
    }
    unsetenv("KIV_SR_NUM_THREADS");
}

// The largest whole unit, with every significant digit of the fraction.
TEST(Progress, DurationTexts) {
    const std::pair<std::int64_t, const char*> durations[] = {{0, "0ns"},
                                                              {999, "999ns"},
                                                              {1'000, "1µs"},
                                                              {1'001, "1.001µs"},
                                                              {999'999, "999.999µs"},
                                                              {3'000'000, "3ms"},
                                                              {481'302'000, "481.302ms"},
                                                              {999'999'999, "999.999999ms"},
                                                              {2'041'700'000, "2.0417s"},
                                                              {-5, "0ns"}};
    for (const auto& [ns, text] : durations) EXPECT_EQ(duration_text(std::chrono::nanoseconds(ns)), text) << ns;
}

}  // namespace
}  // namespace kiv
