#include "bindings/tools/term_table_functions.hpp"

#include <string>
#include <vector>

#include "bindings/shared/convert.hpp"
#include "bindings/shared/guarded.hpp"
#include "bindings/shared/method_cast.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"
#include "bindings/shared/result_state.hpp"
#include "bindings/tools/formula_inputs.hpp"
#include "bindings/tools/operator_set_argument.hpp"
#include "bindings/tools/released_lock.hpp"
#include "engine/formula_table.hpp"

namespace kiv::python {
namespace {

// One variable leaf per column of `rows`; more columns than a formula can
// name raise ValueError.
std::vector<Expression> column_leaves(const Matrix& rows) {
    const std::size_t columns = rows.empty() ? 0 : rows.front().size();
    if (columns > kMaxVariables) {
        const std::string message = "rows have " + std::to_string(columns) + " columns; at most " +
                                    std::to_string(kMaxVariables) + " input variables are supported";
        raise(PyExc_ValueError, message.c_str());
    }
    std::vector<Expression> leaves;
    for (std::size_t column = 0; column < columns; ++column)
        leaves.push_back(variable_leaf(static_cast<std::uint8_t>(column)));
    return leaves;
}

// The state tokens of every formula of the table, shortest first.
PyRef formula_list(const FormulaTable& table) {
    PyRef list = require(PyRef::steal(PyList_New(0)));
    for (std::size_t size = 1; size <= table.max_size(); ++size)
        for (std::size_t i = 0; i < table.count(size); ++i) {
            const PyRef tokens = tokens_state(table.expression(size, i), table.registry());
            require(PyList_Append(list.get(), tokens.get()) == 0);
        }
    return list;
}

// The values of every formula, in the order of formula_list, as a (formulas, rows) array.
PyRef value_array(const FormulaTable& table) {
    std::vector<Complex> values;
    std::size_t formulas = 0;
    for (std::size_t size = 1; size <= table.max_size(); ++size) {
        const std::span<const Complex> sized = table.values(size);
        values.insert(values.end(), sized.begin(), sized.end());
        formulas += table.count(size);
    }
    const PyRef flat = complex_array(values);
    return require(PyRef::steal(PyObject_CallMethod(flat.get(), "reshape", "nn", static_cast<Py_ssize_t>(formulas),
                                                    static_cast<Py_ssize_t>(table.rows()))));
}

PyObject* term_table(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* keywords[] = {"rows", "max_size", "operators", nullptr};
        PyObject *rows = nullptr, *max_size = nullptr, *names = nullptr;
        require(PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O:term_table", const_cast<char**>(keywords), &rows,
                                            &max_size, &names));
        const Matrix data = data_rows(rows);
        const std::size_t sizes = max_size_of(max_size);
        const OperatorSet operators = operator_set_of(names);
        const std::vector<Expression> leaves = column_leaves(data);
        const FormulaTable table =
            unlocked([&] { return FormulaTable(leaves, sizes, data, builtin_registry(), operators); });
        const PyRef formulas = formula_list(table);
        const PyRef values = value_array(table);
        return require(PyRef::steal(PyTuple_Pack(2, formulas.get(), values.get()))).release();
    });
}

PyMethodDef functions[] = {
    {"term_table", as_method(term_table), METH_VARARGS | METH_KEYWORDS,
     "term_table(rows, max_size, operators=None)\n--\n\n"
     "Every formula of 1 to max_size tokens over the columns of the rows of a 2-D array, one per function, "
     "deduplicated as the search deduplicates its candidates and built with the named operators (None: every "
     "one): (a list of the formulas' state tokens, shortest first; a complex128 array of their values, one row "
     "per formula and one column per data row, NaN+NaN*j where absent)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_term_table_functions(PyObject* module) { require(PyModule_AddFunctions(module, functions) == 0); }

}  // namespace kiv::python
