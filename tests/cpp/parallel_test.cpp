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
