#include "bindings/tools/closed_form_functions.hpp"

#include <memory>
#include <vector>

#include "bindings/shared/guarded.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"
#include "bindings/shared/result_state.hpp"
#include "bindings/shared/scalar_arguments.hpp"
#include "bindings/tools/formula_inputs.hpp"
#include "bindings/tools/released_lock.hpp"
#include "engine/closed_form_search.hpp"

namespace kiv::python {
namespace {

constexpr const char* kClosedFormSearch = "kiv_sr_tools._native.ClosedFormSearch";

// The table, of constant formulas on one row without columns, and the search that reads it.
struct TableSearch {
    TableSearch(const std::vector<Expression>& leaves, std::size_t max_size)
        : table(leaves, max_size, std::vector<std::vector<double>>(1), builtin_registry()), search(table) {}
    const FormulaTable table;
    const ClosedFormSearch search;
};

void free_search(PyObject* capsule) {
    delete static_cast<TableSearch*>(PyCapsule_GetPointer(capsule, kClosedFormSearch));
}

const TableSearch& search_of(PyObject* capsule) {
    if (!PyCapsule_IsValid(capsule, kClosedFormSearch))
        raise(PyExc_TypeError, "search must be a ClosedFormSearch made by closed_form_search");
    return *static_cast<const TableSearch*>(PyCapsule_GetPointer(capsule, kClosedFormSearch));
}

PyRef new_search(PyObject* leaves, PyObject* max_size) {
    const std::vector<Expression> expressions = leaf_expressions(leaves);
    const std::size_t sizes = max_size_of(max_size);
    auto held = unlocked([&] { return std::make_unique<TableSearch>(expressions, sizes); });
    PyRef capsule = require(PyRef::steal(PyCapsule_New(held.get(), kClosedFormSearch, free_search)));
    held.release();
    return capsule;
}

// [(tokens, value)] for the closed forms found.
PyRef found_list(const std::vector<ClosedForm>& found, const OperatorRegistry& registry) {
    PyRef list = require(PyRef::steal(PyList_New(static_cast<Py_ssize_t>(found.size()))));
    for (std::size_t i = 0; i < found.size(); ++i) {
        const PyRef tokens = tokens_state(found[i].expression, registry);
        Py_complex value{found[i].value.re, found[i].value.im};
        PyObject* entry = Py_BuildValue("(OD)", tokens.get(), &value);
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), require(PyRef::steal(entry)).release());
    }
    return list;
}

PyObject* closed_form_search(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject *leaves = nullptr, *max_size = nullptr;
        require(PyArg_ParseTuple(args, "OO:closed_form_search", &leaves, &max_size));
        return new_search(leaves, max_size).release();
    });
}

PyObject* closed_forms(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject *capsule = nullptr, *value = nullptr, *size = nullptr, *slack = nullptr;
        require(PyArg_ParseTuple(args, "OOOO:closed_forms", &capsule, &value, &size, &slack));
        const TableSearch& held = search_of(capsule);
        const double target = to_real(value, "value");
        const std::uint64_t tokens = to_count(size, "size");
        const double tolerance = to_real(slack, "slack");
        const std::vector<ClosedForm> found = unlocked([&] { return held.search.find(target, tokens, tolerance); });
        return found_list(found, held.table.registry()).release();
    });
}

PyMethodDef functions[] = {
    {"closed_form_search", closed_form_search, METH_VARARGS,
     "closed_form_search(leaves, max_size)\n--\n\n"
     "A ClosedFormSearch over every formula of 1 to max_size tokens over the leaves (a sequence of state tokens of "
     "constants), enumerated as enumerate_formulas enumerates them on one row without columns."},
    {"closed_forms", closed_forms, METH_VARARGS,
     "closed_forms(search, value, size, slack)\n--\n\n"
     "The formulas of exactly `size` tokens whose value's real part is within slack * |value| of value, each "
     "(state tokens, complex value), in a fixed order and possibly repeated: those of at most max_size tokens "
     "looked up, longer ones met in the middle from the operator at their root, every one checked by the "
     "engine's own operator rules."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_closed_form_functions(PyObject* module) { require(PyModule_AddFunctions(module, functions) == 0); }

}  // namespace kiv::python
