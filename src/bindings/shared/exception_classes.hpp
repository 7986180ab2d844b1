// The exception classes of kiv_sr, each created once per process on first
// use (or adopted from kiv_sr, in the companion's module) and never destroyed, so that the module attribute and the
// class that map_error raises are the same object.
//
// KivRuntimeError, KivDimensionError and KivComplexityError derive from
// Exception and are module attributes. KivInternalError, raised for a broken
// internal invariant, derives from BaseException so that `except Exception`
// does not swallow a bug; it is deliberately not a module attribute.
// Call with the interpreter lock held.
#pragma once

#include <Python.h>

namespace kiv::python {

// Each returns the class (a borrowed reference), or null with a Python error set.
PyObject* kiv_runtime_error();
PyObject* kiv_dimension_error();
PyObject* kiv_complexity_error();
PyObject* kiv_internal_error();

// Makes the four classes the ones given (borrowed, immortal), for a module
// that raises another module's classes; call before any of the above.
void adopt_exception_classes(PyObject* runtime, PyObject* dimension, PyObject* complexity, PyObject* internal);

}  // namespace kiv::python
