#include "engine/progress_output.hpp"

#include <cstdio>
#include <utility>

namespace kiv {

// One fwrite per text keeps the lines of concurrent workers whole. Output is
// a courtesy: a closed or full stream must not fail the search, so write and
// flush failures are ignored.
void ProgressOutput::write(std::string_view text) {
    if (destination_ == Destination::Discard) return;
    if (destination_ == Destination::StandardOutput) {
        [[maybe_unused]] const std::size_t written = std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return;
    }
    const std::lock_guard lock(buffer_mutex_);
    buffer_.append(text);
}

std::string ProgressOutput::take() {
    const std::lock_guard lock(buffer_mutex_);
    return std::exchange(buffer_, {});
}

ProgressOutput& standard_output() {
    static ProgressOutput instance(ProgressOutput::Destination::StandardOutput);
    return instance;
}

}  // namespace kiv
