#include "engine/progress.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace kiv {
namespace {

constexpr std::size_t kBarWidth = 10;
constexpr const char* kBarFull = "█";
constexpr const char* kBarEmpty = "░";

struct DurationUnit {
    std::int64_t nanoseconds;
    int fraction_digits;
    const char* suffix;
};

// Largest first; nanoseconds is the fallback and has no fraction.
constexpr DurationUnit kUnits[] = {
    {1'000'000'000, 9, "s"},
    {1'000'000, 6, "ms"},
    {1'000, 3, "µs"},
    {1, 0, "ns"},
};

const DurationUnit& unit_for(std::int64_t nanoseconds) {
    for (const DurationUnit& unit : kUnits)
        if (nanoseconds >= unit.nanoseconds) return unit;
    return kUnits[std::size(kUnits) - 1];
}

// Seconds since `start` as whole seconds plus nanoseconds / 1e9; 0 if the
// clock reads earlier than `start`.
double seconds_since(std::chrono::steady_clock::time_point start) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() < 0) return 0.0;
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(elapsed);
    const auto rest = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed - whole);
    return static_cast<double>(whole.count()) + static_cast<double>(rest.count()) / 1e9;
}

// Appends `count` copies of `piece` at `out`; returns the new end.
char* append_copies(char* out, const char* piece, std::size_t count) {
    const std::size_t length = std::strlen(piece);
    for (std::size_t i = 0; i < count; ++i, out += length) std::memcpy(out, piece, length);
    return out;
}

}  // namespace

std::string duration_text(std::chrono::nanoseconds duration) {
    const std::int64_t total = duration.count() < 0 ? 0 : static_cast<std::int64_t>(duration.count());
    const DurationUnit& unit = unit_for(total);
    std::string text = std::to_string(total / unit.nanoseconds);
    std::int64_t fraction = total % unit.nanoseconds;
    if (fraction != 0) {
        int digits = unit.fraction_digits;
        while (fraction % 10 == 0) {
            fraction /= 10;
            --digits;
        }
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, ".%0*" PRId64, digits, fraction);
        text += buffer;
    }
    return text + unit.suffix;
}

void Progress::banner(std::size_t primary_nodes) {
    output_.write("[KIV-SR] Started search space exploration. Level 1 seeded with " + std::to_string(primary_nodes) +
                  " primary nodes.\n");
}

void Progress::start_level(std::size_t level, std::size_t total) {
    level_ = level;
    total_ = total;
    processed_.store(0, std::memory_order_relaxed);
    last_percentage_.store(0, std::memory_order_relaxed);
    printed_percentage_ = 0;
    evaluation_start_ = std::chrono::steady_clock::now();
}

void Progress::candidates_done(std::size_t count) {
    if (total_ == 0) return;
    const std::size_t processed = processed_.fetch_add(count, std::memory_order_relaxed) + count;
    if (processed > total_) return;  // a surplus call reports nothing rather than over 100 %
    const std::size_t percentage = processed * 100 / total_;
    std::size_t last = last_percentage_.load(std::memory_order_relaxed);
    // Only the thread that raises the percentage prints it, so each value
    // appears at most once and values only grow.
    while (last < 100 && percentage > last) {
        if (last_percentage_.compare_exchange_weak(last, percentage, std::memory_order_relaxed)) {
            print_if_newest(percentage, processed);
            return;
        }
    }
}

void Progress::level_evaluated() {
    if (total_ != 0) output_.write("\n");
}

void Progress::level_summary(std::size_t level, std::chrono::nanoseconds elapsed, std::size_t retained) {
    output_.write("[KIV-SR]   -> Level " + std::to_string(level) + " processed in " + duration_text(elapsed) +
                  ". Retaining top " + std::to_string(retained) + " candidates.\n");
}

// Two workers that raised the percentage one after the other can get here in
// the opposite order; the older value is then dropped, so that the line left
// on the screen is never behind.
void Progress::print_if_newest(std::size_t percentage, std::size_t processed) {
    const std::lock_guard lock(print_mutex_);
    if (percentage <= printed_percentage_) return;
    printed_percentage_ = percentage;
    print_progress_line(percentage, processed);
}

// Formats into a stack buffer: this runs on worker threads mid-evaluation.
void Progress::print_progress_line(std::size_t percentage, std::size_t processed) {
    const double elapsed = seconds_since(evaluation_start_);
    // Mathematically never negative; rounding at 100 % can leave a tiny
    // negative value that would print as "-0.0".
    const double estimate = std::max(0.0, elapsed * 100.0 / static_cast<double>(percentage) - elapsed);
    const std::size_t full = percentage / 10;
    char bar[kBarWidth * 4 + 1];
    char* end = append_copies(bar, kBarFull, full);
    end = append_copies(end, kBarEmpty, kBarWidth - full);
    *end = '\0';
    char line[256];
    const int length =
        std::snprintf(line, sizeof line, "\r  [KIV] L%zu Progress: [%s] %zu%% (%zu/%zu) | %.1fs (Est: %.1fs)   ",
                      level_, bar, percentage, processed, total_, elapsed, estimate);
    if (length > 0) output_.write(std::string_view(line, std::min(static_cast<std::size_t>(length), sizeof line - 1)));
}

}  // namespace kiv
