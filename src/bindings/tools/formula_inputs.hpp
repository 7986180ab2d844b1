// formula_inputs: what the private module's formula entries read besides
// their own arguments: the one builtin registry their formulas are built on,
// data rows as one table of equal rows, and the leaves and the largest size
// of a table of formulas.
//
// Call with the interpreter lock held.
#pragma once

#include <Python.h>

#include <cstddef>
#include <vector>

#include "bindings/shared/convert.hpp"
#include "core/expression.hpp"
#include "ops/registry.hpp"

namespace kiv::python {

// The builtin operators, made once and shared by every formula the entries
// build; immutable, so it may be read without the interpreter lock.
const RegistryHandle& builtin_registry();

// The rows of a two-dimensional input (convert_to_matrix), all of one
// length; ragged rows throw PyErrAlreadySet with ValueError, since block
// evaluation would take a column missing from one row as missing from all.
Matrix data_rows(PyObject* rows);

// Each item of the sequence `leaves` read as one state token, a formula on
// the builtin registry; malformed tokens raise as result_from_state does.
std::vector<Expression> leaf_expressions(PyObject* leaves);

// The max_size argument, a positive count; 0 raises ValueError.
std::size_t max_size_of(PyObject* max_size);

}  // namespace kiv::python
