// A search run one level at a time, for the package's cluster search: the
// driver and every worker each hold one, an opaque capsule. Its report is
// buffered until the driver takes it. The package calls one handle from one
// thread at a time; the steps that work on data run without the interpreter
// lock.
#pragma once

#include <Python.h>

namespace kiv::python {

// Adds search_start, search_status, search_expand, search_evaluate,
// search_absorb, search_finish_level, search_adopt_level, search_front and
// search_output to `module`; throws PyErrAlreadySet.
void add_stepped_search_functions(PyObject* module);

}  // namespace kiv::python
