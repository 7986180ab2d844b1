// Test helpers that pin the worker count of parallel_for through
// KIV_SR_NUM_THREADS, which worker_count() re-reads on every call, and
// restore the previous setting afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace kiv {

// A test run once per worker count given by its parameter.
class ThreadCountTest : public testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override {
        if (const char* previous = std::getenv(kVariable)) previous_ = previous;
        setenv(kVariable, std::to_string(GetParam()).c_str(), 1);
    }
    void TearDown() override {
        if (previous_)
            setenv(kVariable, previous_->c_str(), 1);
        else
            unsetenv(kVariable);
    }

private:
    static constexpr const char* kVariable = "KIV_SR_NUM_THREADS";
    std::optional<std::string> previous_;
};

}  // namespace kiv

#define INSTANTIATE_THREAD_COUNTS(fixture)                                                      \
    INSTANTIATE_TEST_SUITE_P(Threads, fixture, testing::Values(std::size_t{1}, std::size_t{2}), \
                             [](const testing::TestParamInfo<std::size_t>& info) {              \
                                 return std::to_string(info.param) + "Workers";                 \
                             })
