// ProgressOutput: where the search's progress text goes.
//
// StandardOutput writes each text to the process's standard output through C
// stdio and flushes it, so that a terminal or a pipe sees every line as it is
// made. Buffer keeps the texts, in order, until the search's calling thread
// takes them to forward (to a notebook, say); nothing reaches standard output.
// Discard drops every text: a quiet search.
//
// write() may be called from any thread and keeps each text whole; take()
// from any thread too. Only the buffer is locked: the texts of one level's
// progress are few (at most one per percentage).
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace kiv {

class ProgressOutput {
public:
    enum class Destination { StandardOutput, Buffer, Discard };

    explicit ProgressOutput(Destination destination) : destination_(destination) {}

    // Sends `text` to the destination.
    void write(std::string_view text);
    // The texts buffered since the last take, in order; empty unless Buffer.
    std::string take();

private:
    const Destination destination_;
    std::mutex buffer_mutex_;
    std::string buffer_;  // guarded by buffer_mutex_
};

// The process-wide StandardOutput destination, for callers that choose none.
ProgressOutput& standard_output();

}  // namespace kiv
