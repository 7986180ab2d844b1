// The companion's searches and the formulas they hand around: a budgeted
// search that releases the interpreter lock while it runs, a refit of a
// formula on other data, and a formula's tokens and back.
#pragma once

#include <Python.h>

namespace kiv::python {

// Adds search, refit, tokens and result to `module`; throws PyErrAlreadySet.
void add_search_functions(PyObject* module);

}  // namespace kiv::python
