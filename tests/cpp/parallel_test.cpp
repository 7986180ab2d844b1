#include "engine/parallel.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "test_util.hpp"

namespace kiv {
namespace {

class ParallelFor : public ThreadCountTest {};

TEST_P(ParallelFor, EveryIndexIsVisitedExactlyOnceByTheConfiguredWorkers) {
    EXPECT_EQ(worker_count(), GetParam());
    for (const std::size_t count : {0u, 1u, 7u, 10'000u}) {
        SCOPED_TRACE(count);
        std::vector<std::atomic<int>> visits(count);
        parallel_for(count, [&](std::size_t i) { visits[i].fetch_add(1, std::memory_order_relaxed); });
        for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(visits[i].load(), 1) << "index " << i;
    }
}

TEST_P(ParallelFor, LowestFailingIndexIsRethrownAndEveryLowerIndexRuns) {
    // Repeated because which worker fails first varies from run to run.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::atomic<int>> visits(2000);
        try {
            parallel_for(visits.size(), [&](std::size_t i) {
                visits[i].fetch_add(1, std::memory_order_relaxed);
                if (i >= 300 && i % 100 == 0) throw std::runtime_error(std::to_string(i));
            });
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "300");
        }
        for (std::size_t i = 0; i <= 300; ++i) ASSERT_EQ(visits[i].load(), 1) << "index " << i;
    }
}

TEST_P(ParallelFor, CancelCheckIsPolledOnTheCallingThreadOnly) {
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> polled_elsewhere{false};
    std::atomic<int> polls{0};
    bool stop = true;
    const CancelCheck check = [&] {
        polled_elsewhere = polled_elsewhere || std::this_thread::get_id() != caller;
        ++polls;
        return stop;
    };
    // Each body outlasts the poll interval, so the caller polls on its next index.
    std::vector<std::atomic<int>> visits(4 * GetParam() + 4);
    const auto slow_body = [&](std::size_t i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        visits[i].fetch_add(1, std::memory_order_relaxed);
    };
    EXPECT_THROW(parallel_for(visits.size(), slow_body, check), SearchCancelled);
    for (auto& v : visits) v = 0;
    polls = 0, stop = false;
    parallel_for(visits.size(), slow_body, check);
    // A lone worker is the caller and certainly reaches a poll.
    if (GetParam() == 1) {
        EXPECT_GT(polls.load(), 0);
    }
    for (std::size_t i = 0; i < visits.size(); ++i) EXPECT_EQ(visits[i].load(), 1) << "index " << i;
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
    EXPECT_THROW_MSG(parallel_for(2000, fail_off_the_calling_thread), std::runtime_error, "worker 1");
}

TEST_P(ParallelFor, CallsFromSeveralThreadsAtOnceKeepTheirOwnOutputAndFailure) {
    // Each caller gets a team of its own; one caller's failure stays its own.
    constexpr std::size_t kCallers = 4;
    constexpr std::size_t kCount = 5000;
    constexpr std::size_t kFailingCaller = 2;
    std::vector<std::vector<std::size_t>> outputs(kCallers, std::vector<std::size_t>(kCount));
    std::vector<std::optional<std::string>> failures(kCallers);
    std::vector<std::thread> callers;
    for (std::size_t c = 0; c < kCallers; ++c)
        callers.emplace_back([&, c] {
            try {
                parallel_for(kCount, [&](std::size_t i) {
                    if (c == kFailingCaller && i == 1234) throw std::runtime_error("caller " + std::to_string(c));
                    outputs[c][i] = i * (c + 1);
                });
            } catch (const std::runtime_error& error) {
                failures[c] = error.what();
            }
        });
    for (std::thread& caller : callers) caller.join();
    for (std::size_t c = 0; c < kCallers; ++c) {
        SCOPED_TRACE(c);
        if (c == kFailingCaller) {
            EXPECT_EQ(failures[c], "caller 2");
            continue;
        }
        EXPECT_FALSE(failures[c].has_value());
        for (std::size_t i = 0; i < kCount; ++i) ASSERT_EQ(outputs[c][i], i * (c + 1)) << "index " << i;
    }
}

INSTANTIATE_THREAD_COUNTS(ParallelFor);

TEST(WorkerCount, UnusableSettingsFallBackAndAbsurdOnesAreCapped) {
    const char* outer = std::getenv("KIV_SR_NUM_THREADS");
    const std::optional<std::string> previous = outer ? std::optional<std::string>(outer) : std::nullopt;
    unsetenv("KIV_SR_NUM_THREADS");
    const std::size_t processors = worker_count();
    struct Row {
        const char* setting;
        std::size_t expected;
    };
    const Row rows[] = {
        {"3", 3},          {"0", processors},      {"-3", processors},  {"abc", processors},
        {"2x", processors}, {"", processors},      {"1024", 1024},      {"100000", 1024},
        {"99999999999999999999999", 1024},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.setting);
        setenv("KIV_SR_NUM_THREADS", row.setting, 1);
        EXPECT_EQ(worker_count(), row.expected);
    }
    if (previous)
        setenv("KIV_SR_NUM_THREADS", previous->c_str(), 1);
    else
        unsetenv("KIV_SR_NUM_THREADS");
}

}  // namespace
}  // namespace kiv
