#include "bindings/tools/formula_table_functions.hpp"

#include <memory>
#include <vector>

#include "bindings/shared/convert.hpp"
#include "bindings/shared/guarded.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"
#include "bindings/shared/result_state.hpp"
#include "bindings/shared/scalar_arguments.hpp"
#include "bindings/tools/formula_inputs.hpp"
#include "bindings/tools/released_lock.hpp"
#include "engine/formula_table.hpp"

namespace kiv::python {
namespace {

constexpr const char* kFormulaTable = "kiv_sr_tools._native.FormulaTable";

void free_table(PyObject* capsule) { delete static_cast<FormulaTable*>(PyCapsule_GetPointer(capsule, kFormulaTable)); }

const FormulaTable& table_of(PyObject* capsule) {
    if (!PyCapsule_IsValid(capsule, kFormulaTable))
        raise(PyExc_TypeError, "table must be a FormulaTable made by enumerate_formulas");
    return *static_cast<const FormulaTable*>(PyCapsule_GetPointer(capsule, kFormulaTable));
}

// Each item of the sequence `leaves` read as one state token.
std::vector<Expression> leaf_expressions(PyObject* leaves) {
    const PyRef items = require(PyRef::steal(PySequence_Fast(leaves, "leaves must be a sequence of state tokens")));
    std::vector<Expression> expressions;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        const PyRef one = require(PyRef::steal(PyTuple_Pack(1, PySequence_Fast_GET_ITEM(items.get(), i))));
        expressions.push_back(expression_from_tokens(one.get(), *builtin_registry()));
    }
    return expressions;
}

PyRef new_table(PyObject* leaves, PyObject* max_size, PyObject* rows) {
    const std::vector<Expression> expressions = leaf_expressions(leaves);
    const std::uint64_t sizes = to_count(max_size, "max_size");
    if (sizes == 0) raise(PyExc_ValueError, "max_size must be at least 1");
    const Matrix data = data_rows(rows);
    auto table = unlocked([&] { return std::make_unique<FormulaTable>(expressions, sizes, data, builtin_registry()); });
    PyRef capsule = require(PyRef::steal(PyCapsule_New(table.get(), kFormulaTable, free_table)));
    table.release();
    return capsule;
}

// The size argument, a formula length the table holds.
std::size_t size_of(const FormulaTable& table, PyObject* size) {
    const std::uint64_t tokens = to_count(size, "size");
    if (tokens == 0 || tokens > table.max_size()) {
        PyErr_Format(PyExc_ValueError, "size must be from 1 to %zu; got %llu", table.max_size(),
                     static_cast<unsigned long long>(tokens));
        throw PyErrAlreadySet{};
    }
    return tokens;
}

PyObject* enumerate_formulas(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject *leaves = nullptr, *max_size = nullptr, *rows = nullptr;
        require(PyArg_ParseTuple(args, "OOO:enumerate_formulas", &leaves, &max_size, &rows));
        return new_table(leaves, max_size, rows).release();
    });
}

PyObject* table_count(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject *capsule = nullptr, *size = nullptr;
        require(PyArg_ParseTuple(args, "OO:table_count", &capsule, &size));
        const FormulaTable& table = table_of(capsule);
        return PyLong_FromSize_t(table.count(size_of(table, size)));
    });
}

PyObject* table_values(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject *capsule = nullptr, *size = nullptr;
        require(PyArg_ParseTuple(args, "OO:table_values", &capsule, &size));
        const FormulaTable& table = table_of(capsule);
        const std::size_t tokens = size_of(table, size);
        return complex_array(table.values(tokens), table.count(tokens), table.rows()).release();
    });
}

PyObject* table_tokens(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject *capsule = nullptr, *size = nullptr, *index = nullptr;
        require(PyArg_ParseTuple(args, "OOO:table_tokens", &capsule, &size, &index));
        const FormulaTable& table = table_of(capsule);
        const std::size_t tokens = size_of(table, size);
        const std::uint64_t formula = to_count(index, "index");
        if (formula >= table.count(tokens)) {
            PyErr_Format(PyExc_IndexError, "index %llu beyond the %zu formulas of size %zu",
                         static_cast<unsigned long long>(formula), table.count(tokens), tokens);
            throw PyErrAlreadySet{};
        }
        return tokens_state(table.expression(tokens, formula), table.registry()).release();
    });
}

PyMethodDef functions[] = {
    {"enumerate_formulas", enumerate_formulas, METH_VARARGS,
     "enumerate_formulas(leaves, max_size, rows)\n--\n\n"
     "A FormulaTable: every formula of 1 to max_size tokens over the leaves (a sequence of state tokens), "
     "deduplicated as the search deduplicates its candidates with no beam cut, shortest and first generated "
     "first, with its values on the rows of a 2-D array."},
    {"table_count", table_count, METH_VARARGS,
     "table_count(table, size)\n--\n\nThe number of formulas of `size` tokens in the table."},
    {"table_values", table_values, METH_VARARGS,
     "table_values(table, size)\n--\n\n"
     "The complex values of the formulas of `size` tokens, one row per formula and one column per data row; "
     "NaN+NaN*j where absent."},
    {"table_tokens", table_tokens, METH_VARARGS,
     "table_tokens(table, size, index)\n--\n\nThe state tokens of formula `index` of `size` tokens."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_formula_table_functions(PyObject* module) { require(PyModule_AddFunctions(module, functions) == 0); }

}  // namespace kiv::python
