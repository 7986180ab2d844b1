#include "bindings/tools/search_request.hpp"

#include <string>

#include "bindings/shared/kiv_objects.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/scalar_arguments.hpp"

namespace kiv::python {

Searcher request_searcher(PyObject* searcher, PyObject* alpha, PyObject* l1_ratio) {
    const Searcher& facade = facade_of(searcher, "searcher");
    return facade.with_overrides(to_optional_real(alpha, "alpha"), to_optional_real(l1_ratio, "l1_ratio"));
}

WarningSink locked_warnings(ReleasedLock& released) {
    return [&released](const std::string& text) {
        released.with_lock([&] { require(PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 2) == 0); });
    };
}

}  // namespace kiv::python
