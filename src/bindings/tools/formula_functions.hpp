// formula_functions: the private module's entries that compute values with
// the engine's own rules, so that the companion package computes none
// itself: the operator table, a formula's values on data rows (a NumPy
// complex128 array, the engine's absent value as NaN+NaN*j) and the closed
// forms of a number (closed_form_functions.hpp).
//
// Call with the interpreter lock held.
#pragma once

#include <Python.h>

namespace kiv::python {

// Adds the entries to `module`; a failure throws PyErrAlreadySet.
void add_formula_functions(PyObject* module);

}  // namespace kiv::python
