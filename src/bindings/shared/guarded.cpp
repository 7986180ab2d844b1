#include "bindings/shared/guarded.hpp"

#include <exception>
#include <new>

#include "bindings/shared/exception_classes.hpp"
#include "bindings/shared/map_error.hpp"
#include "bindings/shared/py_error.hpp"
#include "engine/cancel.hpp"
#include "search_error.hpp"

namespace kiv::python {
namespace {

// Raises KivInternalError; formats with the C API so that reporting an
// internal error allocates no C++ memory.
void raise_internal_error(const char* what) noexcept {
    PyErr_Clear();
    PyObject* cls = kiv_internal_error();
    if (!cls) return;  // its creation failed and set that error instead
    PyErr_Format(cls, "An internal error occurred in kiv_sr: %s", what);
}

// For markers that promise a pending Python error: breaking that promise is
// itself an internal error rather than a silent NULL return.
void expect_pending_error(const char* what) noexcept {
    if (!PyErr_Occurred()) raise_internal_error(what);
}

void raise_search_error(const SearchError& error) noexcept {
    try {
        const PyRef exception = map_error(error);
        if (exception) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())), exception.get());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
}

}  // namespace

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const PyErrAlreadySet&) {
        expect_pending_error("a failure was reported without a Python error");
    } catch (const SearchError& error) {
        raise_search_error(error);
    } catch (const SearchCancelled&) {
        expect_pending_error("the search was cancelled without a pending signal");
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {  // InvariantViolation and any other engine failure
        raise_internal_error(error.what());
    } catch (...) {
        raise_internal_error("an unknown C++ exception");
    }
}

}  // namespace kiv::python
