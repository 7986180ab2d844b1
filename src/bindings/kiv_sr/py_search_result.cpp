#include "bindings/kiv_sr/py_search_result.hpp"

#include <cstring>
#include <new>
#include <string>

#include "bindings/shared/convert.hpp"
#include "bindings/shared/guarded.hpp"
#include "bindings/shared/kiv_objects.hpp"
#include "bindings/shared/method_cast.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/result_state.hpp"
#include "core/number_text.hpp"
#include "core/render.hpp"
#include "facade/batch_eval.hpp"

namespace kiv::python {
namespace {

const SearchResult& record_of(PyObject* self) { return reinterpret_cast<PySearchResult*>(self)->record; }

PyObject* new_text(const std::string& text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* new_float_list(const std::vector<double>& values) {
    PyRef list = require(PyRef::steal(PyList_New(static_cast<Py_ssize_t>(values.size()))));
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyRef item = require(PyRef::steal(PyFloat_FromDouble(values[i])));
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());  // steals the item
    }
    return list.release();
}

// Results come only from searches; the message names the class, as the
// last component of its qualified name.
PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
    const char* dot = std::strrchr(type->tp_name, '.');
    PyErr_Format(PyExc_TypeError, "No constructor defined for %s", dot ? dot + 1 : type->tp_name);
    return nullptr;
}

void dealloc(PyObject* self) {
    reinterpret_cast<PySearchResult*>(self)->record.~SearchResult();
    Py_TYPE(self)->tp_free(self);
}

PyObject* repr(PyObject* self) {
    return guarded([&] {
        const SearchResult& record = record_of(self);
        return new_text("SearchResult(formula='" + record.formula() + "', error=" + exponent_text(record.error) +
                        ", complexity=" + std::to_string(record.complexity()) + ")");
    });
}

PyObject* get_formula(PyObject* self, void*) {
    return guarded([&] { return new_text(record_of(self).formula()); });
}

PyObject* get_error(PyObject* self, void*) { return PyFloat_FromDouble(record_of(self).error); }

PyObject* get_complexity(PyObject* self, void*) { return PyLong_FromSize_t(record_of(self).complexity()); }

PyObject* latex(PyObject* self, PyObject*) {
    return guarded([&] {
        const SearchResult& record = record_of(self);
        return new_text(to_latex(record.expression, *record.registry));
    });
}

PyObject* python_source(PyObject* self, PyObject*) {
    return guarded([&] {
        const SearchResult& record = record_of(self);
        return new_text(to_python(record.expression, *record.registry));
    });
}

// A number is a one-variable point; otherwise a 1-D sequence is one point
// whose element j is v_{j}.
Vector point_of(PyObject* x) {
    const double value = PyFloat_AsDouble(x);
    if (value != -1.0 || !PyErr_Occurred()) return {value};
    PyErr_Clear();
    try {
        return convert_to_vec(x);
    } catch (const PyErrAlreadySet&) {
        raise(PyExc_ValueError, "Input must be a float or a 1D list/array");
    }
}

PyObject* eval(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* keywords[] = {"x", nullptr};
        PyObject* x = nullptr;
        require(PyArg_ParseTupleAndKeywords(args, kwargs, "O:eval", const_cast<char**>(keywords), &x));
        return PyFloat_FromDouble(record_of(self).eval_multi(point_of(x)));
    });
}

PyObject* eval_batch_of(PyObject* self, PyObject* args, PyObject* kwargs, const char* format) {
    return guarded([&] {
        static const char* keywords[] = {"inputs", nullptr};
        PyObject* inputs = nullptr;
        require(PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &inputs));
        return new_float_list(kiv::eval_batch(record_of(self), convert_to_matrix(inputs)));
    });
}

PyObject* eval_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
    return eval_batch_of(self, args, kwargs, "O:eval_batch");
}

PyObject* predict(PyObject* self, PyObject* args, PyObject* kwargs) {
    return eval_batch_of(self, args, kwargs, "O:predict");
}

// (SearchResult._from_state, (state,)): pickle and copy rebuild the result
// from its state, which records the formula token by token.
PyObject* reduce(PyObject* self, PyObject*) {
    return guarded([&] {
        const PyRef loader = require(
            PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PySearchResultType), "_from_state")));
        const PyRef state = state_of(record_of(self));
        return require(PyRef::steal(Py_BuildValue("(O(O))", loader.get(), state.get()))).release();
    });
}

PyObject* from_state(PyObject*, PyObject* state) {
    return guarded([&] { return wrap_result(result_from_state(state)).release(); });
}

PyGetSetDef getters[] = {
    {"formula", get_formula, nullptr, "The discovered mathematical formula as a string.", nullptr},
    {"error", get_error, nullptr, "The residual error (Mean Squared Error) of the formula.", nullptr},
    {"complexity", get_complexity, nullptr, "The structural complexity of the formula.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"to_latex", latex, METH_NOARGS,
     "to_latex($self)\n--\n\nReturns the formula in LaTeX format for academic reporting."},
    {"to_python", python_source, METH_NOARGS,
     "to_python($self)\n--\n\nReturns the formula in Python/NumPy format for immediate use."},
    {"eval", as_method(eval), METH_VARARGS | METH_KEYWORDS,
     "eval($self, x)\n--\n\nEvaluates the discovered formula for a given input (float or list/array)."},
    {"eval_batch", as_method(eval_batch), METH_VARARGS | METH_KEYWORDS,
     "eval_batch($self, inputs)\n--\n\nEvaluates the formula for a batch of inputs (list of lists or 2D array)."},
    {"predict", as_method(predict), METH_VARARGS | METH_KEYWORDS,
     "predict($self, inputs)\n--\n\nAlias for eval_batch (Scikit-Learn style)."},
    {"__reduce__", reduce, METH_NOARGS,
     "__reduce__($self)\n--\n\nThe loader and its arguments that pickle and copy rebuild the result from."},
    {"_from_state", from_state, METH_O | METH_CLASS,
     "_from_state($cls, state, /)\n--\n\nThe result a state from __reduce__ describes."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject PySearchResultType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0).tp_name = "kiv_sr.SearchResult",
    .tp_basicsize = sizeof(PySearchResult),
    .tp_itemsize = 0,
    .tp_dealloc = dealloc,
    .tp_repr = repr,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "A high-performance symbolic regression result.",
    .tp_methods = methods,
    .tp_getset = getters,
    .tp_new = refuse_construction,
};

}  // namespace kiv::python
