#include "bindings/tools/budget_stop.hpp"

namespace kiv::python {

BudgetStop::BudgetStop(std::optional<double> seconds) {
    if (seconds)
        deadline_ = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                           std::chrono::duration<double>(*seconds));
}

bool BudgetStop::operator()() {
    if (deadline_ && std::chrono::steady_clock::now() >= *deadline_) return stop_because("time");
    return PyErr_CheckSignals() != 0 && after_exception();
}

bool BudgetStop::after_exception() {
    if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) PyErr_Clear();
    return stop_because("interrupt");
}

bool BudgetStop::stop_because(const char* why) {
    if (!reason_) reason_ = why;
    return true;
}

}  // namespace kiv::python
