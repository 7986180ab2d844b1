#include "bindings/tools/operator_set_argument.hpp"

#include <string>
#include <variant>
#include <vector>

#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"
#include "bindings/tools/formula_inputs.hpp"

namespace kiv::python {
namespace {

constexpr const char* kNotNames = "operators must be a sequence of operator names or None";

std::vector<std::string> names_of(PyObject* names) {
    // A string is a sequence of one-letter strings, never the names meant.
    if (PyUnicode_Check(names)) raise(PyExc_TypeError, kNotNames);
    const PyRef items = require(PyRef::steal(PySequence_Fast(names, kNotNames)));
    std::vector<std::string> texts;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (!PyUnicode_Check(item)) raise(PyExc_TypeError, kNotNames);
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(item, &size);
        require(text != nullptr);
        texts.emplace_back(text, static_cast<std::size_t>(size));
    }
    return texts;
}

}  // namespace

OperatorSet operator_set_of(PyObject* names) {
    if (!names || names == Py_None) return OperatorSet();
    // The set holds ids of the builtin registry, which every search's own registry numbers alike.
    auto chosen = OperatorSet::named(*builtin_registry(), names_of(names));
    if (const auto* refusal = std::get_if<OperatorRefusal>(&chosen)) raise(PyExc_ValueError, refusal->message.c_str());
    return std::get<OperatorSet>(std::move(chosen));
}

}  // namespace kiv::python
