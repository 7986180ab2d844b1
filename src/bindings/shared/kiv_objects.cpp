#include "bindings/shared/kiv_objects.hpp"

#include <memory>
#include <new>
#include <utility>

#include "bindings/shared/exception_classes.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/result_state.hpp"
#include "invariant.hpp"

namespace kiv::python {
namespace {

KivClasses recorded{};

// Refuses anything but an instance of `type` with TypeError naming the parameter.
void expect_instance(PyObject* object, PyTypeObject* type, const char* parameter) {
    if (!PyObject_TypeCheck(object, type)) {
        PyErr_Format(PyExc_TypeError, "%s must be a %s, not %s", parameter, type->tp_name, Py_TYPE(object)->tp_name);
        throw PyErrAlreadySet{};
    }
}

}  // namespace

void use_kiv_classes(const KivClasses& classes) {
    recorded = classes;
    adopt_exception_classes(classes.runtime_error, classes.dimension_error, classes.complexity_error,
                            classes.internal_error);
}

const KivClasses& kiv_classes() {
    if (!recorded.searcher) throw InvariantViolation("kiv_sr's classes used before they were recorded");
    return recorded;
}

const Searcher& facade_of(PyObject* searcher, const char* parameter) {
    expect_instance(searcher, kiv_classes().searcher, parameter);
    return reinterpret_cast<PySearcher*>(searcher)->facade;
}

const SearchResult& record_of(PyObject* result, const char* parameter) {
    expect_instance(result, kiv_classes().result, parameter);
    return reinterpret_cast<PySearchResult*>(result)->record;
}

SearchResult formula_of(PyObject* formula) {
    if (PyObject_TypeCheck(formula, kiv_classes().result)) return reinterpret_cast<PySearchResult*>(formula)->record;
    RegistryHandle registry = std::make_shared<const OperatorRegistry>(with_builtins());
    Expression expression = expression_from_tokens(formula, *registry);
    return {std::move(expression), std::move(registry), 0.0};
}

PyRef wrap_result(SearchResult record) {
    PyTypeObject* type = kiv_classes().result;
    PyRef object = require(PyRef::steal(type->tp_alloc(type, 0)));
    new (&reinterpret_cast<PySearchResult*>(object.get())->record) SearchResult(std::move(record));
    return object;
}

PyRef result_list(std::vector<SearchResult> records) {
    PyRef list = require(PyRef::steal(PyList_New(static_cast<Py_ssize_t>(records.size()))));
    for (std::size_t i = 0; i < records.size(); ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), wrap_result(std::move(records[i])).release());
    return list;
}

}  // namespace kiv::python
