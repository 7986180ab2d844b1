// closed_form_functions: the private module's closed-form search, the
// engine's ClosedFormSearch over a table of every formula of a few tokens
// over constant leaves, held by an opaque capsule
// (kiv_sr_tools._native.ClosedFormSearch) that the package only passes back.
// A search is immutable once built; it is built and run without the
// interpreter lock, so threads may share one.
//
// Call with the interpreter lock held.
#pragma once

#include <Python.h>

namespace kiv::python {

// Adds the entries to `module`; a failure throws PyErrAlreadySet.
void add_closed_form_functions(PyObject* module);

}  // namespace kiv::python
