#include "bindings/tools/formula_inputs.hpp"

#include <memory>

#include "bindings/shared/py_error.hpp"

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

}  // namespace kiv::python
