#include "bindings/shared/progress_relay.hpp"

#include <cstdio>
#include <string>

#include "bindings/shared/py_error.hpp"

namespace kiv::python {
namespace {

// sys.stdout, or null when it is None or missing.
PyObject* python_stdout() {
    PyObject* out = PySys_GetObject("stdout");
    return out == Py_None ? nullptr : out;
}

// True when `out` is the stream Python opened on file descriptor 1. Any
// failure to tell (a replaced stream whose fileno() raises) means it is not.
bool is_process_stdout(PyObject* out) {
    if (out != PySys_GetObject("__stdout__")) return false;
    const PyRef descriptor = PyRef::steal(PyObject_CallMethod(out, "fileno", nullptr));
    const long value = descriptor ? PyLong_AsLong(descriptor.get()) : -1;
    PyErr_Clear();
    return value == 1;
}

bool call_flush(PyObject* out) { return static_cast<bool>(PyRef::steal(PyObject_CallMethod(out, "flush", nullptr))); }

}  // namespace

ProgressRelay::ProgressRelay(bool verbose)
    : stdout_(PyRef::borrow(verbose ? python_stdout() : nullptr)),
      output_(!stdout_                           ? ProgressOutput::Destination::Discard
              : is_process_stdout(stdout_.get()) ? ProgressOutput::Destination::StandardOutput
                                                 : ProgressOutput::Destination::Buffer) {
    if (stdout_) require(call_flush(stdout_.get()));
}

bool ProgressRelay::forward() {
    const std::string text = output_.take();
    if (text.empty() || !stdout_) return true;
    const PyRef line = PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!line) return false;
    // Flushed as standard output is: a notebook shows each line as it comes.
    return PyRef::steal(PyObject_CallMethod(stdout_.get(), "write", "O", line.get())) && call_flush(stdout_.get());
}

void ProgressRelay::finish() {
    require(forward());
    std::fflush(stdout);
}

}  // namespace kiv::python
