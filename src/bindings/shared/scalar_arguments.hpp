// Scalar arguments of the Searcher constructor and methods: unsigned integers
// and floats, converted with the interpreter's own protocols (__index__,
// __float__). A TypeError is re-raised naming the parameter; any other
// conversion error (OverflowError for a negative count) passes unchanged.
// Call with the interpreter lock held; failures throw PyErrAlreadySet.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>

namespace kiv::python {

// A Python int or __index__ object that fits 64 unsigned bits.
std::uint64_t to_count(PyObject* object, const char* parameter);

// A float, int, bool or __float__ / __index__ object.
double to_real(PyObject* object, const char* parameter);

// to_real, or nothing when the argument was omitted (null) or is None.
std::optional<double> to_optional_real(PyObject* object, const char* parameter);

}  // namespace kiv::python
