// PySearchResult: the Python class kiv_sr.SearchResult, one found formula.
//
// Holds a SearchResult record by value (expression with fitted constants,
// shared registry handle, error); the registry lives as long as any result
// of its search. Immutable; Python code cannot construct one. All methods
// run on the calling thread with the interpreter lock held.
#pragma once

#include <Python.h>

#include "bindings/shared/py_ref.hpp"
#include "result.hpp"

namespace kiv::python {

extern PyTypeObject PySearchResultType;

}  // namespace kiv::python
