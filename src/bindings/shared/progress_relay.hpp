// ProgressRelay: sends the report of one search where print() would send it.
//
// When sys.stdout is the process's standard output (a terminal or a pipe),
// the search writes straight to it through C stdio, line by line; the text
// Python buffered before is flushed first, and C stdio after the search, so
// that the user's own output before and after stays in order. Otherwise (a
// notebook kernel, contextlib.redirect_stdout, a StringIO) the search's
// text is buffered and the calling thread forwards it to sys.stdout's
// write() whenever it polls for signals and once at the end; when
// sys.stdout is None, or the caller asks for a quiet search, the search
// drops its text itself. Worker threads never touch Python.
//
// One relay per search, used on its calling thread with the interpreter
// lock held.
#pragma once

#include <Python.h>

#include "bindings/shared/py_ref.hpp"
#include "engine/progress_output.hpp"

namespace kiv::python {

class ProgressRelay {
public:
    // Reads sys.stdout and flushes it; a failed flush throws PyErrAlreadySet.
    // A relay that is not `verbose` leaves sys.stdout alone.
    explicit ProgressRelay(bool verbose = true);

    // The destination to hand to the search.
    ProgressOutput& output() { return output_; }

    // Forwards the text buffered so far. False when sys.stdout's write or
    // flush raised; the exception is then pending, as after a signal handler
    // raised, and the search must stop.
    bool forward();

    // After the search: forwards the rest and flushes C stdio. A failed
    // forward throws PyErrAlreadySet.
    void finish();

private:
    PyRef stdout_;  // sys.stdout, or null when it is None
    ProgressOutput output_;
};

}  // namespace kiv::python
