#include "bindings/tools/formula_functions.hpp"

#include <vector>

#include "bindings/shared/convert.hpp"
#include "bindings/shared/guarded.hpp"
#include "bindings/shared/kiv_objects.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"
#include "bindings/tools/closed_form_functions.hpp"
#include "bindings/tools/formula_inputs.hpp"
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

PyMethodDef functions[] = {
    {"operators", operators, METH_NOARGS,
     "operators()\n--\n\n"
     "The engine's operators in registry order, each (name, arity, commutative); arity 0 is a named constant."},
    {"evaluate", evaluate, METH_VARARGS,
     "evaluate(formula, rows)\n--\n\n"
     "A formula's complex values on the rows of a 2-D array, by the engine's block evaluation: NaN+NaN*j where "
     "absent (a column beyond the rows' included). formula: a kiv_sr.SearchResult or a tuple of state tokens."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_formula_functions(PyObject* module) {
    require(PyModule_AddFunctions(module, functions) == 0);
    add_closed_form_functions(module);
}

}  // namespace kiv::python
