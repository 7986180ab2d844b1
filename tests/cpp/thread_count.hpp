// Test helpers that pin the worker count of parallel_for through
// KIV_SR_NUM_THREADS, which worker_count() re-reads on every call, and
// restore the previous setting afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace kiv {

// Sets KIV_SR_NUM_THREADS for its lifetime.
class ScopedThreadCount {
public:
    explicit ScopedThreadCount(std::size_t threads) {
        if (const char* previous = std::getenv(kVariable)) previous_ = previous;
        setenv(kVariable, std::to_string(threads).c_str(), 1);
    }
    ~ScopedThreadCount() {
        if (previous_)
            setenv(kVariable, previous_->c_str(), 1);
        else
            unsetenv(kVariable);
    }
    ScopedThreadCount(const ScopedThreadCount&) = delete;
    ScopedThreadCount& operator=(const ScopedThreadCount&) = delete;

private:
    static constexpr const char* kVariable = "KIV_SR_NUM_THREADS";
    std::optional<std::string> previous_;
};

// A test run once per worker count given by its parameter.
class ThreadCountTest : public testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override { threads_.emplace(GetParam()); }
    void TearDown() override { threads_.reset(); }

private:
    std::optional<ScopedThreadCount> threads_;
};

}  // namespace kiv

#define INSTANTIATE_THREAD_COUNTS(fixture)                                      \
    INSTANTIATE_TEST_SUITE_P(Threads, fixture, testing::Values(std::size_t{1}, std::size_t{2}), \
                             [](const testing::TestParamInfo<std::size_t>& info) {   \
                                 return std::to_string(info.param) + "Workers";       \
                             })
