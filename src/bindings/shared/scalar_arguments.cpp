#include "bindings/shared/scalar_arguments.hpp"

#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"

namespace kiv::python {
namespace {

// The text of the pending exception, which is cleared.
PyRef take_error_text() {
#if PY_VERSION_HEX >= 0x030C0000
    const PyRef exception = PyRef::steal(PyErr_GetRaisedException());
    return PyRef::steal(PyObject_Str(exception.get()));
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    const PyRef owned_type = PyRef::steal(type);
    const PyRef owned_value = PyRef::steal(value);
    const PyRef owned_traceback = PyRef::steal(traceback);
    return PyRef::steal(PyObject_Str(value));
#endif
}

// Rewrites a pending TypeError as "argument '<parameter>': <message>"; other
// errors stay as they are. Always throws.
[[noreturn]] void fail_naming(const char* parameter) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        const PyRef text = require(take_error_text());
        PyErr_Format(PyExc_TypeError, "argument '%s': %U", parameter, text.get());
    }
    throw PyErrAlreadySet{};
}

}  // namespace

std::uint64_t to_count(PyObject* object, const char* parameter) {
    const PyRef index = PyRef::steal(PyNumber_Index(object));
    if (!index) fail_naming(parameter);
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) fail_naming(parameter);
    return value;
}

double to_real(PyObject* object, const char* parameter) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) fail_naming(parameter);
    return value;
}

std::optional<double> to_optional_real(PyObject* object, const char* parameter) {
    if (!object || object == Py_None) return std::nullopt;
    return to_real(object, parameter);
}

}  // namespace kiv::python
