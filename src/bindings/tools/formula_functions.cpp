#include "bindings/tools/formula_functions.hpp"

#include <optional>
#include <vector>

#include "bindings/shared/convert.hpp"
#include "bindings/shared/guarded.hpp"
#include "bindings/shared/kiv_objects.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"
#include "bindings/tools/formula_inputs.hpp"
#include "bindings/tools/formula_table_functions.hpp"
#include "bindings/tools/released_lock.hpp"
#include "core/block_evaluator.hpp"
#include "core/prepared_expression.hpp"

namespace kiv::python {
namespace {

// [(name, arity, commutative)] in registry order.
PyRef operator_list() {
    const OperatorRegistry& registry = *builtin_registry();
    PyRef list = require(PyRef::steal(PyList_New(static_cast<Py_ssize_t>(registry.size()))));
    for (std::size_t id = 0; id < registry.size(); ++id) {
        const OperatorMeta& meta = registry.meta(id);
        PyObject* entry = Py_BuildValue("(siO)", meta.name.c_str(), static_cast<int>(meta.arity),
                                        meta.commutative ? Py_True : Py_False);
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(id), require(PyRef::steal(entry)).release());
    }
    return list;
}

// The formula's values on each row, by block evaluation.
PyRef formula_values(PyObject* formula, PyObject* rows) {
    const SearchResult record = formula_of(formula);
    const Dataset data = Dataset::from_rows(data_rows(rows));
    ComplexVector values(data.rows);
    unlocked([&] {
        BlockEvaluator().evaluate(PreparedExpression(record.expression.tokens, data, *record.registry), {}, values);
    });
    return complex_array(values);
}

// The registry id of the operator `name` (a str) of one or more operands.
std::size_t operator_id(PyObject* name) {
    if (!PyUnicode_Check(name)) raise(PyExc_TypeError, "the operator name must be a str");
    const char* text = PyUnicode_AsUTF8(name);
    require(text != nullptr);
    const std::optional<std::size_t> id = builtin_registry()->find(text);
    if (!id || builtin_registry()->meta(*id).arity == 0) {
        PyErr_Format(PyExc_ValueError, "unknown operator '%s'", text);
        throw PyErrAlreadySet{};
    }
    return *id;
}

// args = (name, *operands): the operator applied row by row by its own block rule.
PyRef applied(PyObject* args) {
    if (PyTuple_GET_SIZE(args) == 0) raise(PyExc_TypeError, "apply() needs an operator name");
    const std::size_t id = operator_id(PyTuple_GET_ITEM(args, 0));
    const OperatorMeta& meta = builtin_registry()->meta(id);
    const auto given = static_cast<std::size_t>(PyTuple_GET_SIZE(args) - 1);
    if (given != meta.arity) {
        PyErr_Format(PyExc_ValueError, "%s takes %d operand%s, not %zu", meta.name.c_str(),
                     static_cast<int>(meta.arity), meta.arity == 1 ? "" : "s", given);
        throw PyErrAlreadySet{};
    }
    std::vector<ComplexVector> operands;
    for (std::size_t i = 0; i < given; ++i)
        operands.push_back(convert_to_complex_vec(PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(i + 1))));
    if (given == 2 && operands[0].size() != operands[1].size()) {
        PyErr_Format(PyExc_ValueError, "the operands of %s differ in length: %zu and %zu", meta.name.c_str(),
                     operands[0].size(), operands[1].size());
        throw PyErrAlreadySet{};
    }
    const Complex* inputs[2] = {operands[0].data(), given == 2 ? operands[1].data() : nullptr};
    ComplexVector values(operands[0].size());
    const Operator& op = builtin_registry()->op(id);
    unlocked([&] { op.eval_block(inputs, values.data(), values.size()); });
    return complex_array(values);
}

PyObject* operators(PyObject*, PyObject*) {
    return guarded([] { return operator_list().release(); });
}

PyObject* evaluate(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject *formula = nullptr, *rows = nullptr;
        require(PyArg_ParseTuple(args, "OO:evaluate", &formula, &rows));
        return formula_values(formula, rows).release();
    });
}

PyObject* apply(PyObject*, PyObject* args) {
    return guarded([&] { return applied(args).release(); });
}

PyMethodDef functions[] = {
    {"operators", operators, METH_NOARGS,
     "operators()\n--\n\n"
     "The engine's operators in registry order, each (name, arity, commutative); arity 0 is a named constant."},
    {"evaluate", evaluate, METH_VARARGS,
     "evaluate(formula, rows)\n--\n\n"
     "A formula's complex values on the rows of a 2-D array, by the engine's block evaluation: NaN+NaN*j where "
     "absent (a column beyond the rows' included). formula: a kiv_sr.SearchResult or a tuple of state tokens."},
    {"apply", apply, METH_VARARGS,
     "apply(name, *operands)\n--\n\n"
     "The engine's operator `name` applied elementwise to complex arrays of one length, as a complex array: "
     "NaN+NaN*j where the engine finds no value or one it does not accept (non-finite, magnitude >= 1e15)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_formula_functions(PyObject* module) {
    require(PyModule_AddFunctions(module, functions) == 0);
    add_formula_table_functions(module);
}

}  // namespace kiv::python
