// PyErrAlreadySet: the marker exception that carries a Python error through
// C++ frames. It is thrown only after the Python error indicator has been
// set; guarded() (guarded.hpp) turns it back into a NULL / -1 return.
//
// The require helpers turn the C API's failure returns into that throw.
// Everything here needs the interpreter lock.
#pragma once

#include <Python.h>

#include "bindings/shared/py_ref.hpp"

namespace kiv::python {

struct PyErrAlreadySet {};

// Passes when `ok`; otherwise the failed C API call has set the error: throws.
inline void require(bool ok) {
    if (!ok) throw PyErrAlreadySet{};
}

// Passes a new reference through; a null one means the call set an error: throws.
inline PyRef require(PyRef object) {
    if (!object) throw PyErrAlreadySet{};
    return object;
}

// Sets `type` with `message`, discarding any pending error, and throws.
[[noreturn]] inline void raise(PyObject* type, const char* message) {
    PyErr_Clear();
    PyErr_SetString(type, message);
    throw PyErrAlreadySet{};
}

}  // namespace kiv::python
