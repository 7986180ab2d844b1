// map_error: a SearchError as the Python exception the calling method raises.
// NoFormulaFound becomes KivComplexityError, InvalidInput KivDimensionError;
// the message is the exception's single argument.
// Call with the interpreter lock held.
#pragma once

#include "bindings/shared/py_ref.hpp"
#include "search_error.hpp"

namespace kiv::python {

// A new, not yet raised exception object; null with a Python error set if it
// could not be created.
PyRef map_error(SearchError error);

}  // namespace kiv::python
