#include "bindings/shared/map_error.hpp"

#include "bindings/shared/exception_classes.hpp"

namespace kiv::python {
namespace {

PyObject* class_of(SearchError::Kind kind) {
    switch (kind) {
        case SearchError::Kind::NoFormulaFound:
            return kiv_complexity_error();
        case SearchError::Kind::InvalidInput:
            return kiv_dimension_error();
    }
    return kiv_runtime_error();
}

}  // namespace

PyRef map_error(SearchError error) {
    PyObject* cls = class_of(error.kind());
    if (!cls) return {};
    const std::string text = error.message();
    const PyRef message = PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!message) return {};
    return PyRef::steal(PyObject_CallOneArg(cls, message.get()));
}

}  // namespace kiv::python
