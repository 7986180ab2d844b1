// Conversion between Python and engine values: Python lists, sequences and
// NumPy arrays into owned vectors and matrices of 64-bit floats or of
// complex numbers, and engine values out as NumPy complex arrays. The only
// users of the NumPy C API.
//
// Fast paths copy float64 arrays straight from their buffers; every other
// input is read as a (non-str) sequence of numbers. Results are owned
// copies: nothing keeps a reference to the Python object after the call.
// Reading an input never imports NumPy: its C API is loaded the first time
// an array could exist (NumPy already imported), and without it every input
// takes the generic path. Making an output array imports NumPy.
// Call with the interpreter lock held.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>
#include <vector>

#include "bindings/shared/py_ref.hpp"
#include "ops/complex.hpp"

namespace kiv::python {

using Vector = std::vector<double>;
using Matrix = std::vector<std::vector<double>>;
using ComplexVector = std::vector<Complex>;

// The values of a one-dimensional input. Throws PyErrAlreadySet with
// TypeError "The given array is not contiguous" for a strided float64 vector,
// or ValueError "Input must be a 1D list or NumPy array of floats".
Vector convert_to_vec(PyObject* object);

// The rows of a two-dimensional input (rows may differ in length). Throws
// PyErrAlreadySet with ValueError "Input must be a 2D list or 2D NumPy array of floats".
Matrix convert_to_matrix(PyObject* object);

// A new one-dimensional NumPy complex128 array of `values`. The engine's
// absent value, any value with a NaN part, is written as NaN+NaN*j; every
// other value keeps its bits.
PyRef complex_array(std::span<const Complex> values);

}  // namespace kiv::python
