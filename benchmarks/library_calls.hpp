// LibraryCalls: counts the C library's transcendental calls that the engine
// makes and times each function alone, so that a benchmark can print how
// much of a search's time those calls take: the floor that exact results
// leave, since no call whose result is needed may be replaced by a cheaper
// formula.
//
// Only the benchmark links these wrappers (the linker's --wrap option turns
// the engine's calls of log, atan2, ... into calls of __wrap_log, ...), so
// the shipped library pays nothing for them. Each thread counts into its own
// slot, which is never freed, so counting costs no locking and no shared
// cache line; every 64th call's arguments are kept as samples to time the
// function on later. Reading the counts while workers run gives a figure
// that is at most a few calls stale, which is all per-level totals need.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <vector>

namespace library_calls {

enum Function : std::size_t { Log, Atan2, Hypot, Sincos, Exp, Sinh, Cosh, kFunctions };
inline constexpr const char* kNames[kFunctions] = {"log", "atan2", "hypot", "sincos", "exp", "sinh", "cosh"};

using Counts = std::array<std::uint64_t, kFunctions>;

constexpr std::size_t kSampleSlots = 512;
constexpr std::uint64_t kSampleEvery = 64;

struct ThreadTally {
    std::array<std::atomic<std::uint64_t>, kFunctions> calls{};
    std::array<std::array<std::array<double, 2>, kSampleSlots>, kFunctions> samples{};
};

struct Registry {
    std::mutex mutex;
    std::deque<ThreadTally> tallies;  // a deque never moves its elements
};

inline Registry& registry() {
    static Registry instance;
    return instance;
}

// The calling thread's slot; a plain pointer, so that the common path reads
// it without a guard or a call.
inline thread_local ThreadTally* thread_tally = nullptr;

[[gnu::noinline]] inline ThreadTally* register_thread() {
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    thread_tally = &all.tallies.emplace_back();
    return thread_tally;
}

inline void record(Function f, double a, double b = 0.0) {
    ThreadTally* tally = thread_tally;
    if (!tally) [[unlikely]]
        tally = register_thread();
    const std::uint64_t n = tally->calls[f].load(std::memory_order_relaxed);
    tally->calls[f].store(n + 1, std::memory_order_relaxed);
    if (n % kSampleEvery == 0) [[unlikely]]
        tally->samples[f][(n / kSampleEvery) % kSampleSlots] = {a, b};
}

// Calls made so far by all threads, per function.
inline Counts totals() {
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    Counts sum{};
    for (const ThreadTally& tally : all.tallies)
        for (std::size_t f = 0; f < kFunctions; ++f) sum[f] += tally.calls[f].load(std::memory_order_relaxed);
    return sum;
}

inline Counts difference(const Counts& later, const Counts& earlier) {
    Counts d{};
    for (std::size_t f = 0; f < kFunctions; ++f) d[f] = later[f] - earlier[f];
    return d;
}

}  // namespace library_calls

extern "C" {
double __real_log(double);
double __real_atan2(double, double);
double __real_hypot(double, double);
void __real_sincos(double, double*, double*);
double __real_exp(double);
double __real_sinh(double);
double __real_cosh(double);

double __wrap_log(double x) {
    library_calls::record(library_calls::Log, x);
    return __real_log(x);
}
double __wrap_atan2(double y, double x) {
    library_calls::record(library_calls::Atan2, y, x);
    return __real_atan2(y, x);
}
double __wrap_hypot(double x, double y) {
    library_calls::record(library_calls::Hypot, x, y);
    return __real_hypot(x, y);
}
void __wrap_sincos(double x, double* s, double* c) {
    library_calls::record(library_calls::Sincos, x);
    __real_sincos(x, s, c);
}
double __wrap_exp(double x) {
    library_calls::record(library_calls::Exp, x);
    return __real_exp(x);
}
double __wrap_sinh(double x) {
    library_calls::record(library_calls::Sinh, x);
    return __real_sinh(x);
}
double __wrap_cosh(double x) {
    library_calls::record(library_calls::Cosh, x);
    return __real_cosh(x);
}
}

namespace library_calls {

inline double call(Function f, const std::array<double, 2>& a) {
    switch (f) {
        case Log:
            return __real_log(a[0]);
        case Atan2:
            return __real_atan2(a[0], a[1]);
        case Hypot:
            return __real_hypot(a[0], a[1]);
        case Sincos: {
            double s = 0.0;
            double c = 0.0;
            __real_sincos(a[0], &s, &c);
            return s + c;
        }
        case Exp:
            return __real_exp(a[0]);
        case Sinh:
            return __real_sinh(a[0]);
        case Cosh:
            return __real_cosh(a[0]);
        case kFunctions:
            break;
    }
    return 0.0;
}

// Seconds per call of each function, timed alone on the arguments sampled
// from the search (0 for a function never called). Run it with the workers
// idle: it measures one core, as each worker's calls run on one.
inline std::array<double, kFunctions> seconds_per_call() {
    using clock = std::chrono::steady_clock;
    std::array<double, kFunctions> seconds{};
    for (std::size_t f = 0; f < kFunctions; ++f) {
        std::vector<std::array<double, 2>> arguments;
        {
            Registry& all = registry();
            std::lock_guard lock(all.mutex);
            for (const ThreadTally& tally : all.tallies) {
                const std::uint64_t kept = std::min<std::uint64_t>(
                    (tally.calls[f].load(std::memory_order_relaxed) + kSampleEvery - 1) / kSampleEvery, kSampleSlots);
                arguments.insert(arguments.end(), tally.samples[f].begin(), tally.samples[f].begin() + kept);
            }
        }
        if (arguments.empty()) continue;
        // The best of several rounds: other jobs on the cores only ever slow a round down.
        seconds[f] = std::numeric_limits<double>::infinity();
        for (int round = 0; round < 20; ++round) {
            volatile double sink = 0.0;
            std::uint64_t calls = 0;
            const auto start = clock::now();
            auto elapsed = clock::duration::zero();
            while (elapsed < std::chrono::milliseconds(5)) {
                double sum = 0.0;
                for (const auto& a : arguments) sum += call(static_cast<Function>(f), a);
                sink = sink + sum;
                calls += arguments.size();
                elapsed = clock::now() - start;
            }
            seconds[f] =
                std::min(seconds[f], std::chrono::duration<double>(elapsed).count() / static_cast<double>(calls));
        }
    }
    return seconds;
}

// CPU seconds that `counts` calls take at `per_call` seconds each.
inline double library_seconds(const Counts& counts, const std::array<double, kFunctions>& per_call) {
    double total = 0.0;
    for (std::size_t f = 0; f < kFunctions; ++f) total += static_cast<double>(counts[f]) * per_call[f];
    return total;
}

}  // namespace library_calls
