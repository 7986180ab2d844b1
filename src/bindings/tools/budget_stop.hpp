// BudgetStop: the stop check of a companion search, polled on its calling
// thread with the interpreter lock held: the deadline, then Ctrl-C. A
// KeyboardInterrupt is taken as a request to stop with the front found so
// far; any other exception from a signal handler stays pending and is raised
// once the search has ended.
#pragma once

#include <Python.h>

#include <chrono>
#include <optional>

namespace kiv::python {

class BudgetStop {
public:
    explicit BudgetStop(std::optional<double> seconds);

    // True when the search must stop.
    bool operator()();

    // Stops for the pending exception, which Ctrl-C (raised by a signal
    // handler, or inside sys.stdout.write) resolves into the front so far.
    bool after_exception();

    // "time" or "interrupt" once the check has stopped the search, else null.
    const char* reason() const { return reason_; }

private:
    bool stop_because(const char* why);

    std::optional<std::chrono::steady_clock::time_point> deadline_;
    const char* reason_ = nullptr;
};

}  // namespace kiv::python
