// Progress: the search's report on standard output. A banner when the
// exploration starts, a live progress line rewritten in place while a level's
// candidates are evaluated, and one summary line per level.
//
// candidate_started() is called from worker threads: lock-free, relaxed
// atomics, each percentage printed at most once per level. Everything else
// is called from the search's calling thread while no worker prints.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace kiv {

// "2.0417s", "481.302ms", "93µs", "750ns": the largest unit that is at least
// one, with every significant fractional digit down to the nanosecond.
std::string duration_text(std::chrono::nanoseconds duration);

class Progress {
public:
    explicit Progress(std::FILE* out = stdout) : out_(out) {}

    // Prints the line that opens the exploration, naming the level-1 size.
    void banner(std::size_t primary_nodes);
    // Resets the counters for a level with `total` candidates and starts its clock.
    void start_level(std::size_t level, std::size_t total);
    // Counts one candidate; prints the progress line when the percentage rises.
    void candidate_started();
    // Ends the level's progress line, if it could have one.
    void level_evaluated();
    // Prints the level's duration and how many candidates it keeps.
    void level_summary(std::size_t level, std::chrono::nanoseconds elapsed, std::size_t retained);

private:
    void print_progress_line(std::size_t percentage, std::size_t processed);
    void write(std::string_view text);

    std::FILE* out_;
    std::size_t level_ = 0;
    std::size_t total_ = 0;
    std::atomic<std::size_t> processed_{0};
    std::atomic<std::size_t> last_percentage_{0};
    std::chrono::steady_clock::time_point evaluation_start_{};
};

}  // namespace kiv
