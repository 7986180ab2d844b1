// term_table_functions: the private module's library of terms for a sparse
// linear fit, the engine's FormulaTable of every formula of a few tokens
// over the input columns, with the values of each on the data rows. The
// table is built without the interpreter lock.
//
// Call with the interpreter lock held.
#pragma once

#include <Python.h>

namespace kiv::python {

// Adds the entries to `module`; a failure throws PyErrAlreadySet.
void add_term_table_functions(PyObject* module);

}  // namespace kiv::python
