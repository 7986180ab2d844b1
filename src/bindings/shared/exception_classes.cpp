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

}  // namespace

PyObject* kiv_runtime_error() {
    static PyObject* cls = nullptr;
    return created_once(cls, "kiv_sr.KivRuntimeError", nullptr, nullptr);
}

PyObject* kiv_dimension_error() {
    static PyObject* cls = nullptr;
    return created_once(cls, "kiv_sr.KivDimensionError", nullptr, nullptr);
}

PyObject* kiv_complexity_error() {
    static PyObject* cls = nullptr;
    return created_once(cls, "kiv_sr.KivComplexityError", nullptr, nullptr);
}

PyObject* kiv_internal_error() {
    static PyObject* cls = nullptr;
    return created_once(cls, "kiv_sr.KivInternalError", PyExc_BaseException,
                        "A broken internal invariant of kiv_sr: a bug, not a problem with the input.");
}

}  // namespace kiv::python
