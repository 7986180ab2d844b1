#include "bindings/shared/exception_classes.hpp"

namespace kiv::python {
namespace {

// The class is an immortal process-wide object: its reference is never
// released, because it must outlive every module object and every raised
// instance, and the interpreter tears classes down itself at exit.
PyObject* created_once(PyObject*& slot, const char* name, PyObject* base, const char* doc) {
    if (!slot) slot = PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
    return slot;
}

// One slot per class, filled on first use or by adoption.
PyObject* runtime_class = nullptr;
PyObject* dimension_class = nullptr;
PyObject* complexity_class = nullptr;
PyObject* internal_class = nullptr;

}  // namespace

PyObject* kiv_runtime_error() { return created_once(runtime_class, "kiv_sr.KivRuntimeError", nullptr, nullptr); }

PyObject* kiv_dimension_error() { return created_once(dimension_class, "kiv_sr.KivDimensionError", nullptr, nullptr); }

PyObject* kiv_complexity_error() {
    return created_once(complexity_class, "kiv_sr.KivComplexityError", nullptr, nullptr);
}

PyObject* kiv_internal_error() {
    return created_once(internal_class, "kiv_sr.KivInternalError", PyExc_BaseException,
                        "A broken internal invariant of kiv_sr: a bug, not a problem with the input.");
}

void adopt_exception_classes(PyObject* runtime, PyObject* dimension, PyObject* complexity, PyObject* internal) {
    runtime_class = runtime;
    dimension_class = dimension;
    complexity_class = complexity;
    internal_class = internal;
}

}  // namespace kiv::python
