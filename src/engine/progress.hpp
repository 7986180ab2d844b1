// Progress: the search's report, written to a ProgressOutput (standard
// output unless the caller chose otherwise). A banner when the exploration
// starts, a live progress line rewritten in place while a level's candidates
// are evaluated, and one summary line per level.
//
// candidate_started() is called from worker threads: it counts with relaxed
// atomics and takes a lock only to print a risen percentage, each at most
// once per level and never after a higher one. Everything else is called
// from the search's calling thread while no worker prints.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/progress_output.hpp"

namespace kiv {

// "2.0417s", "481.302ms", "93µs", "750ns": the largest unit that is at least
// one, with every significant fractional digit down to the nanosecond.
std::string duration_text(std::chrono::nanoseconds duration);

class Progress {
public:
    explicit Progress(ProgressOutput& output) : output_(output) {}

    // Prints the line that opens the exploration, naming the level-1 size.
    void banner(std::size_t primary_nodes);
    // Resets the counters for a level with `total` candidates and starts its clock.
    void start_level(std::size_t level, std::size_t total);
    // Counts one candidate; prints the progress line when the percentage rises.
    void candidate_started() { candidates_done(1); }
    // Counts `count` candidates at once, as candidate_started does one.
    void candidates_done(std::size_t count);
    // Ends the level's progress line, if it could have one.
    void level_evaluated();
    // Prints the level's duration and how many candidates it keeps.
    void level_summary(std::size_t level, std::chrono::nanoseconds elapsed, std::size_t retained);

private:
    void print_if_newest(std::size_t percentage, std::size_t processed);
    void print_progress_line(std::size_t percentage, std::size_t processed);

    ProgressOutput& output_;
    std::size_t level_ = 0;
    std::size_t total_ = 0;
    std::atomic<std::size_t> processed_{0};
    std::atomic<std::size_t> last_percentage_{0};
    std::mutex print_mutex_;
    std::size_t printed_percentage_ = 0;  // guarded by print_mutex_
    std::chrono::steady_clock::time_point evaluation_start_{};
};

}  // namespace kiv
