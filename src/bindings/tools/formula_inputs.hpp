// formula_inputs: what the private module's formula entries read besides
// their own arguments: the one builtin registry their formulas are built on,
// and data rows as one table of equal rows.
//
// Call with the interpreter lock held.
#pragma once

#include <Python.h>

#include "bindings/shared/convert.hpp"
#include "ops/registry.hpp"

namespace kiv::python {

// The builtin operators, made once and shared by every formula the entries
// build; immutable, so it may be read without the interpreter lock.
const RegistryHandle& builtin_registry();

// The rows of a two-dimensional input (convert_to_matrix), all of one
// length; ragged rows throw PyErrAlreadySet with ValueError, since block
// evaluation would take a column missing from one row as missing from all.
Matrix data_rows(PyObject* rows);

}  // namespace kiv::python
