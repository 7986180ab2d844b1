#include "engine/parallel.hpp"

#include <omp.h>

#include <algorithm>
#include <cstdlib>

namespace kiv {
namespace {

// Workers beyond the cores only wait for them; an absurd setting (a typo,
// 10^6) would otherwise exhaust the process's thread limit and crash it.
constexpr long kMaxWorkers = 1024;

std::size_t configured_workers() {
    if (const char* text = std::getenv("KIV_SR_NUM_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);  // LONG_MAX when out of range
        if (end != text && *end == '\0' && value > 0) return static_cast<std::size_t>(std::min(value, kMaxWorkers));
    }
    return static_cast<std::size_t>(omp_get_num_procs());
}

}  // namespace

// Read on every call, so a process (or a test) can change it between searches.
std::size_t worker_count() { return configured_workers(); }

std::size_t current_worker() { return static_cast<std::size_t>(omp_get_thread_num()); }

namespace detail {

bool is_calling_thread() { return omp_get_thread_num() == 0; }

}  // namespace detail
}  // namespace kiv
