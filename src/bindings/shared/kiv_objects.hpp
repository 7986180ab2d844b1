// kiv_objects: the classes of kiv_sr as both extension modules see them.
//
// kiv_sr defines Searcher and SearchResult and the exception classes; the
// companion package's private module takes and returns the same objects,
// so it reads and makes their instances through the layouts below and
// raises kiv_sr's own exception classes. kiv_sr lends its classes through
// the capsule kiv_sr._C_API (a KivClasses); each module records them once,
// at initialisation, with use_kiv_classes.
//
// Call with the interpreter lock held.
#pragma once

#include <Python.h>

#include <vector>

#include "bindings/shared/py_ref.hpp"
#include "facade/searcher.hpp"
#include "result.hpp"

namespace kiv::python {

struct PySearcher {
    PyObject_HEAD Searcher facade;  // constructed by the class's tp_new, destroyed by its dealloc
};

struct PySearchResult {
    PyObject_HEAD SearchResult record;  // constructed by wrap_result, destroyed by the class's dealloc
};

struct KivClasses {
    PyTypeObject* searcher;
    PyTypeObject* result;
    PyObject* runtime_error;
    PyObject* dimension_error;
    PyObject* complexity_error;
    PyObject* internal_error;  // derives from BaseException; not a module attribute
};

inline constexpr const char* kClassesCapsule = "kiv_sr._C_API";

// Records the classes this module works with; the exception classes become
// the ones map_error and guarded raise.
void use_kiv_classes(const KivClasses& classes);

// The recorded classes.
const KivClasses& kiv_classes();

// The facade of a kiv_sr.Searcher, or TypeError naming `parameter`.
const Searcher& facade_of(PyObject* searcher, const char* parameter);

// The record of a kiv_sr.SearchResult, or TypeError naming `parameter`.
const SearchResult& record_of(PyObject* result, const char* parameter);

// A formula given as a kiv_sr.SearchResult (a copy of its record) or as a
// tuple of state tokens (see result_state.hpp; error 0 on a new registry).
SearchResult formula_of(PyObject* formula);

// A new kiv_sr.SearchResult that takes over `record`.
PyRef wrap_result(SearchResult record);

// A new list of kiv_sr.SearchResult objects that take over `records`, in order.
PyRef result_list(std::vector<SearchResult> records);

}  // namespace kiv::python
