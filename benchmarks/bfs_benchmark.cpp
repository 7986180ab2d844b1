// Runs the search on a problem with no exact answer and prints, per level,
// the candidates generated, kept after deduplication, scored and retained,
// with seconds and the seconds of all levels so far (a search with a lower
// max_complexity runs exactly those levels, then its final refits); then the
// total time and candidate evaluations per second. Per level it also prints
// the C library calls (log, atan2, hypot, sincos, exp, sinh, cosh) the level
// made, the CPU seconds they take when timed alone on arguments sampled from
// the search, the process's CPU seconds in the level, and the calls' share
// of them: how close the level runs to the floor that exact results leave.
// CPU time, unlike wall-clock time, does not grow when other jobs share the
// cores. The last row adds the final refits.
//
// Problem: y = x^3 - 0.5x + 0.3 sin(3x) + N(0, 0.05^2), x uniform in [-3, 3],
// seeded, default configuration except max_complexity.
//
// Usage: bfs_benchmark [samples ...] [--levels LO HI]   (defaults: 100 1000, 6..10)
#include <sys/resource.h>
#include <sys/utsname.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/bfs.hpp"
#include "engine/parallel.hpp"
#include "library_calls.hpp"

namespace {

struct Problem {
    std::vector<std::vector<double>> rows;
    std::vector<double> targets;
};

Problem make_problem(std::size_t samples) {
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> uniform(-3.0, 3.0);
    std::normal_distribution<double> noise(0.0, 0.05);
    Problem problem;
    for (std::size_t i = 0; i < samples; ++i) {
        const double x = uniform(rng);
        problem.rows.push_back({x});
        problem.targets.push_back(x * x * x - 0.5 * x + 0.3 * std::sin(3.0 * x) + noise(rng));
    }
    return problem;
}

double peak_rss_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void print_header() {
    utsname machine{};
    uname(&machine);
    std::printf("# machine: %s %s, %zu worker threads\n", machine.sysname, machine.machine, kiv::worker_count());
    std::printf("# compiler: GCC %s, flags: %s\n", __VERSION__, KIV_BUILD_FLAGS);
    std::printf("# one run per row; per-level figures are candidates\n");
}

double process_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Library calls and CPU time where each level ends: the search polls its
// cancel hook on the calling thread as each level starts, after the previous
// one has recorded its stats, so a new stats entry marks where a level ended.
struct LevelEnds {
    const std::vector<kiv::LevelStats>& stats;
    std::vector<library_calls::Counts> counts;
    std::vector<double> cpu_seconds;

    void record() {
        counts.push_back(library_calls::totals());
        cpu_seconds.push_back(process_cpu_seconds());
    }
    bool operator()() {
        while (counts.size() <= stats.size()) record();
        return false;
    }
};

void run(std::size_t samples, std::uint64_t max_complexity) {
    const Problem problem = make_problem(samples);
    kiv::SearchConfig config;
    config.max_complexity = max_complexity;
    std::vector<kiv::LevelStats> stats;
    LevelEnds level_ends{stats, {}, {}};
    const library_calls::Counts before = library_calls::totals();
    const double cpu_before = process_cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    const auto outcome =
        kiv::run_bfs(problem.rows, problem.targets, config, {.cancel = std::ref(level_ends), .stats = &stats});
    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    level_ends.record();
    const auto per_call = library_calls::seconds_per_call();
    std::printf("\n## n = %zu, max_complexity = %llu\n", samples, static_cast<unsigned long long>(max_complexity));
    std::printf("%6s %12s %12s %12s %9s %10s %10s %12s %9s %9s %9s\n", "level", "generated", "kept", "scored",
                "retained", "seconds", "so far", "lib calls", "lib cpu s", "cpu s", "lib share");
    std::size_t evaluated = 0;
    double so_far = 0.0;
    for (std::size_t i = 0; i < stats.size(); ++i) {
        const auto& level = stats[i];
        so_far += level.seconds;
        // Level i's calls end where the next level starts; the last level's after the final refits.
        const std::size_t end = i + 1 == stats.size() ? level_ends.counts.size() - 1 : i + 1;
        const auto calls = library_calls::difference(level_ends.counts[end], level_ends.counts[i]);
        std::uint64_t call_count = 0;
        for (const std::uint64_t c : calls) call_count += c;
        const double lib = library_calls::library_seconds(calls, per_call);
        const double cpu = level_ends.cpu_seconds[end] - level_ends.cpu_seconds[i];
        std::printf("%6zu %12zu %12zu %12zu %9zu %10.3f %10.3f %12llu %9.3f %9.3f %8.1f%%\n", level.level,
                    level.generated, level.kept, level.scored, level.retained, level.seconds, so_far,
                    static_cast<unsigned long long>(call_count), lib, cpu, 100.0 * lib / cpu);
        evaluated += level.kept;
    }
    const auto calls = library_calls::difference(level_ends.counts.back(), before);
    const double lib = library_calls::library_seconds(calls, per_call);
    const double cpu = level_ends.cpu_seconds.back() - cpu_before;
    const double workers = static_cast<double>(kiv::worker_count());
    const auto* results = std::get_if<std::vector<kiv::SearchResult>>(&outcome);
    std::printf("total %.3f s, %zu candidate evaluations, %.0f evaluations/s, peak RSS %.0f MiB\n", total, evaluated,
                static_cast<double>(evaluated) / total, peak_rss_mib());
    std::printf("library calls: %.3f s of %.3f CPU seconds (%.1f %%); floor with %.0f workers %.3f s\n", lib, cpu,
                100.0 * lib / cpu, workers, lib / workers);
    for (std::size_t f = 0; f < library_calls::kFunctions; ++f)
        std::printf("  %-7s %13llu calls  %7.1f ns each\n", library_calls::kNames[f],
                    static_cast<unsigned long long>(calls[f]), per_call[f] * 1e9);
    if (results && !results->empty())
        std::printf("best: %s  error %.6g\n", results->front().formula().c_str(), results->front().error);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sample_sizes;
    std::uint64_t low = 6;
    std::uint64_t high = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--levels") == 0 && i + 2 < argc) {
            low = std::strtoull(argv[i + 1], nullptr, 10);
            high = std::strtoull(argv[i + 2], nullptr, 10);
            i += 2;
        } else {
            sample_sizes.push_back(std::strtoull(argv[i], nullptr, 10));
        }
    }
    if (sample_sizes.empty()) sample_sizes = {100, 1000};
    print_header();
    for (const std::size_t samples : sample_sizes)
        for (std::uint64_t max_complexity = low; max_complexity <= high; ++max_complexity) run(samples, max_complexity);
}
