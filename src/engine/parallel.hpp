// WorkerPool: the workers of one search (OpenMP threads, one per logical
// processor or KIV_SR_NUM_THREADS, at most 1024) and the one way the engine
// uses them: parallel_for. The count is fixed when the pool is made, so
// per-worker scratch sized by size() fits every loop of the search even if
// the environment changes meanwhile. A pool is a plain value; copies run the
// same number of workers, and several may run loops at once.
//
// Each index is handled by exactly one worker; bodies write only their own
// output slot, so results never depend on thread timing. Exceptions never
// leave a worker: the one of the lowest index is rethrown on the calling
// thread after all workers have stopped. The calling thread is worker 0 and
// polls the cancellation check between its iterations.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <exception>
#include <limits>
#include <mutex>

#include "engine/cancel.hpp"

namespace kiv {

// Number of workers the environment asks for, read on every call:
// KIV_SR_NUM_THREADS when it is a positive integer (capped at 1024),
// otherwise one per logical processor.
std::size_t worker_count();

// Index of the calling worker inside parallel_for, below the pool's size().
std::size_t current_worker();

namespace detail {

// Remembers the exception of the lowest failing index.
class FirstFailure {
public:
    void record(std::size_t index, std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        if (index < index_) {
            index_ = index;
            error_ = std::move(error);
        }
    }
    void rethrow_if_any() const {
        if (error_) std::rethrow_exception(error_);
    }

private:
    std::mutex mutex_;
    std::size_t index_ = std::numeric_limits<std::size_t>::max();
    std::exception_ptr error_;
};

bool is_calling_thread();

// Lowers `limit` to `bound` unless it is already lower.
inline void lower_limit(std::atomic<std::size_t>& limit, std::size_t bound) {
    std::size_t current = limit.load(std::memory_order_relaxed);
    while (bound < current && !limit.compare_exchange_weak(current, bound, std::memory_order_relaxed)) {
    }
}

}  // namespace detail

class WorkerPool {
public:
    // As many workers as worker_count() says now.
    WorkerPool() : size_(worker_count()) {}

    std::size_t size() const { return size_; }

    // Runs body(i) for every i in [0, count). Throws SearchCancelled when
    // `cancel` asked to stop, or the body's first exception.
    template <class Body>
    void parallel_for(std::size_t count, Body&& body, const CancelCheck& cancel = {}) const;

private:
    std::size_t size_;
};

template <class Body>
void WorkerPool::parallel_for(std::size_t count, Body&& body, const CancelCheck& cancel) const {
    using clock = std::chrono::steady_clock;
    constexpr auto poll_interval = std::chrono::milliseconds(20);
    // Indices at or beyond the limit are skipped. A failure at i lowers it to
    // i + 1 only, so every lower index still runs and the exception rethrown
    // is that of the lowest failing index, whatever the thread timing.
    std::atomic<std::size_t> limit{count};
    bool cancelled = false;
    detail::FirstFailure failure;
    auto next_poll = clock::now() + poll_interval;
    const int threads = static_cast<int>(size_);
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
    for (std::size_t i = 0; i < count; ++i) {
        if (i >= limit.load(std::memory_order_relaxed)) continue;
        try {
            if (cancel && detail::is_calling_thread() && clock::now() >= next_poll) {
                next_poll = clock::now() + poll_interval;
                if (cancel()) {
                    cancelled = true;
                    detail::lower_limit(limit, 0);
                    continue;
                }
            }
            body(i);
        } catch (...) {
            failure.record(i, std::current_exception());
            detail::lower_limit(limit, i + 1);
        }
    }
    failure.rethrow_if_any();
    if (cancelled) throw SearchCancelled();
}

}  // namespace kiv
