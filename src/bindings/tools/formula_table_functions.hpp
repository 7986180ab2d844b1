// formula_table_functions: the private module's entries over a FormulaTable,
// every formula of a few tokens over given leaves with its values on given
// rows, held by an opaque capsule (kiv_sr_tools._native.FormulaTable) that
// the package only passes back. A table is immutable once built, and is
// built without the interpreter lock.
//
// Call with the interpreter lock held.
#pragma once

#include <Python.h>

namespace kiv::python {

// Adds the entries to `module`; a failure throws PyErrAlreadySet.
void add_formula_table_functions(PyObject* module);

}  // namespace kiv::python
