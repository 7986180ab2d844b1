#include "bindings/tools/formula_inputs.hpp"

#include <memory>

#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"
#include "bindings/shared/result_state.hpp"
#include "bindings/shared/scalar_arguments.hpp"

namespace kiv::python {

const RegistryHandle& builtin_registry() {
    static const RegistryHandle registry = std::make_shared<const OperatorRegistry>(with_builtins());
    return registry;
}

Matrix data_rows(PyObject* rows) {
    Matrix matrix = convert_to_matrix(rows);
    for (const Vector& row : matrix)
        if (row.size() != matrix.front().size()) raise(PyExc_ValueError, "rows must all be of the same length");
    return matrix;
}

std::vector<Expression> leaf_expressions(PyObject* leaves) {
    const PyRef items = require(PyRef::steal(PySequence_Fast(leaves, "leaves must be a sequence of state tokens")));
    std::vector<Expression> expressions;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        const PyRef one = require(PyRef::steal(PyTuple_Pack(1, PySequence_Fast_GET_ITEM(items.get(), i))));
        expressions.push_back(expression_from_tokens(one.get(), *builtin_registry()));
    }
    return expressions;
}

std::size_t max_size_of(PyObject* max_size) {
    const std::uint64_t sizes = to_count(max_size, "max_size");
    if (sizes == 0) raise(PyExc_ValueError, "max_size must be at least 1");
    return sizes;
}

}  // namespace kiv::python
