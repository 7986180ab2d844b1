#include "bindings/kiv_sr/py_searcher.hpp"

#include <cstdint>
#include <new>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "bindings/kiv_sr/py_search_result.hpp"
#include "bindings/shared/convert.hpp"
#include "bindings/shared/guarded.hpp"
#include "bindings/shared/kiv_objects.hpp"
#include "bindings/shared/method_cast.hpp"
#include "bindings/shared/progress_relay.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/scalar_arguments.hpp"
#include "facade/searcher.hpp"

namespace kiv::python {
namespace {

const Searcher& facade_of(PyObject* self) { return reinterpret_cast<PySearcher*>(self)->facade; }

// Polled by the search on this (the calling) thread: runs pending signal
// handlers. When one raised (KeyboardInterrupt for Ctrl-C) the search stops
// with SearchCancelled and the handler's exception stays pending for guarded.
bool signal_raised() { return PyErr_CheckSignals() != 0; }

// Issues a RuntimeWarning; where warnings are errors, that error is raised.
void warn(const std::string& text) { require(PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 1) == 0); }

// The facade copy one call runs on, with its alpha / l1_ratio overrides;
// converted before the data, so a bad override is reported first.
Searcher facade_with_overrides(PyObject* self, PyObject* alpha, PyObject* l1_ratio) {
    const std::optional<double> alpha_value = to_optional_real(alpha, "alpha");
    const std::optional<double> l1_ratio_value = to_optional_real(l1_ratio, "l1_ratio");
    return facade_of(self).with_overrides(alpha_value, l1_ratio_value);
}

// The outcome's value; a SearchError is thrown for guarded to map.
template <class T>
T value_or_throw(Outcome<T> outcome) {
    if (auto* error = std::get_if<SearchError>(&outcome)) throw std::move(*error);
    return std::get<T>(std::move(outcome));
}

// Runs facade.*request on `data` with its report relayed to sys.stdout; the
// poll forwards the text so far, then checks for signals. A SearchError is
// thrown for guarded to map.
template <class Request, class... Data>
auto search(const Searcher& facade, Request request, const Data&... data) {
    ProgressRelay relay;
    const CancelCheck poll = [&relay] { return !relay.forward() || signal_raised(); };
    auto outcome = (facade.*request)(data..., SearchHooks{.cancel = poll, .warn = warn, .progress = &relay.output()});
    relay.finish();
    return value_or_throw(std::move(outcome));
}

PyObject* create(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* keywords[] = {"max_complexity", "complexity_penalty", "beam_width",
                                         "alpha",          "l1_ratio",           nullptr};
        PyObject* max_complexity = nullptr;
        PyObject* complexity_penalty = nullptr;
        PyObject* beam_width = nullptr;
        PyObject* alpha = nullptr;
        PyObject* l1_ratio = nullptr;
        require(PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOOO:Searcher", const_cast<char**>(keywords),
                                            &max_complexity, &complexity_penalty, &beam_width, &alpha, &l1_ratio));
        // Converted one by one, in parameter order: the first failure is the one reported.
        const SearchConfig defaults;
        const std::uint64_t max_complexity_value =
            max_complexity ? to_count(max_complexity, "max_complexity") : defaults.max_complexity;
        const double complexity_penalty_value =
            complexity_penalty ? to_real(complexity_penalty, "complexity_penalty") : defaults.complexity_penalty;
        const std::uint64_t beam_width_value = beam_width ? to_count(beam_width, "beam_width") : defaults.beam_width;
        const double alpha_value = alpha ? to_real(alpha, "alpha") : defaults.alpha;
        const double l1_ratio_value = l1_ratio ? to_real(l1_ratio, "l1_ratio") : defaults.l1_ratio;
        const SearchConfig config(max_complexity_value, complexity_penalty_value, beam_width_value, alpha_value,
                                  l1_ratio_value);
        PyRef object = require(PyRef::steal(type->tp_alloc(type, 0)));
        new (&reinterpret_cast<PySearcher*>(object.get())->facade) Searcher(config);
        return object.release();
    });
}

void dealloc(PyObject* self) {
    reinterpret_cast<PySearcher*>(self)->facade.~Searcher();
    Py_TYPE(self)->tp_free(self);
}

PyObject* find_function(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* keywords[] = {"xs", "ys", "alpha", "l1_ratio", nullptr};
        PyObject *xs = nullptr, *ys = nullptr, *alpha = nullptr, *l1_ratio = nullptr;
        require(PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OO:find_function", const_cast<char**>(keywords), &xs, &ys,
                                            &alpha, &l1_ratio));
        const Searcher facade = facade_with_overrides(self, alpha, l1_ratio);
        const Vector x_values = convert_to_vec(xs);
        const Vector y_values = convert_to_vec(ys);
        return wrap_result(search(facade, &Searcher::find_function, x_values, y_values)).release();
    });
}

// The bound and converted arguments of a request over rows of inputs.
struct RowsRequest {
    Searcher facade;
    Matrix rows;
    Vector ys;
};

RowsRequest bind_rows_request(PyObject* self, PyObject* args, PyObject* kwargs, const char* format) {
    static const char* keywords[] = {"inputs", "ys", "alpha", "l1_ratio", nullptr};
    PyObject *inputs = nullptr, *ys = nullptr, *alpha = nullptr, *l1_ratio = nullptr;
    require(PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &inputs, &ys, &alpha,
                                        &l1_ratio));
    Searcher facade = facade_with_overrides(self, alpha, l1_ratio);
    Matrix rows = convert_to_matrix(inputs);
    Vector y_values = convert_to_vec(ys);
    return {facade, std::move(rows), std::move(y_values)};
}

PyObject* multivariate(PyObject* self, PyObject* args, PyObject* kwargs, const char* format) {
    return guarded([&] {
        const RowsRequest request = bind_rows_request(self, args, kwargs, format);
        return wrap_result(search(request.facade, &Searcher::find_multivariate, request.rows, request.ys)).release();
    });
}

PyObject* find_multivariate(PyObject* self, PyObject* args, PyObject* kwargs) {
    return multivariate(self, args, kwargs, "OO|OO:find_multivariate");
}

PyObject* fit(PyObject* self, PyObject* args, PyObject* kwargs) {
    return multivariate(self, args, kwargs, "OO|OO:fit");
}

PyObject* find_candidates(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        const RowsRequest request = bind_rows_request(self, args, kwargs, "OO|OO:find_candidates");
        return result_list(search(request.facade, &Searcher::find_candidates, request.rows, request.ys)).release();
    });
}

PyObject* recognize_constant(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* keywords[] = {"value", "alpha", "l1_ratio", nullptr};
        PyObject *value = nullptr, *alpha = nullptr, *l1_ratio = nullptr;
        require(PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:recognize_constant", const_cast<char**>(keywords),
                                            &value, &alpha, &l1_ratio));
        const double target = to_real(value, "value");
        const Searcher facade = facade_with_overrides(self, alpha, l1_ratio);
        return wrap_result(search(facade, &Searcher::recognize_constant, target)).release();
    });
}

PyObject* get_max_complexity(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(facade_of(self).config().max_complexity);
}
PyObject* get_beam_width(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(facade_of(self).config().beam_width);
}
PyObject* get_complexity_penalty(PyObject* self, void*) {
    return PyFloat_FromDouble(facade_of(self).config().complexity_penalty);
}
PyObject* get_alpha(PyObject* self, void*) { return PyFloat_FromDouble(facade_of(self).config().alpha); }
PyObject* get_l1_ratio(PyObject* self, void*) { return PyFloat_FromDouble(facade_of(self).config().l1_ratio); }

// The five properties in constructor order: the arguments that rebuild this searcher.
PyRef constructor_arguments(PyObject* self) {
    const PyRef max_complexity = require(PyRef::steal(get_max_complexity(self, nullptr)));
    const PyRef penalty = require(PyRef::steal(get_complexity_penalty(self, nullptr)));
    const PyRef beam_width = require(PyRef::steal(get_beam_width(self, nullptr)));
    const PyRef alpha = require(PyRef::steal(get_alpha(self, nullptr)));
    const PyRef l1_ratio = require(PyRef::steal(get_l1_ratio(self, nullptr)));
    return require(PyRef::steal(
        PyTuple_Pack(5, max_complexity.get(), penalty.get(), beam_width.get(), alpha.get(), l1_ratio.get())));
}

// "Searcher(max_complexity=10, complexity_penalty=0.1, ...)": the reprs of
// the constructor arguments.
PyObject* represent(PyObject* self) {
    return guarded([&] {
        const PyRef format = require(PyRef::steal(PyUnicode_FromString(
            "Searcher(max_complexity=%r, complexity_penalty=%r, beam_width=%r, alpha=%r, l1_ratio=%r)")));
        return require(PyRef::steal(PyUnicode_Format(format.get(), constructor_arguments(self).get()))).release();
    });
}

// (Searcher, constructor arguments): loading a pickle or a copy validates
// the configuration through the constructor again.
PyObject* reduce(PyObject* self, PyObject*) {
    return guarded([&] {
        return require(PyRef::steal(Py_BuildValue("(OO)", Py_TYPE(self), constructor_arguments(self).get()))).release();
    });
}

PyGetSetDef getters[] = {
    {"max_complexity", get_max_complexity, nullptr, nullptr, nullptr},
    {"beam_width", get_beam_width, nullptr, nullptr, nullptr},
    {"complexity_penalty", get_complexity_penalty, nullptr, nullptr, nullptr},
    {"alpha", get_alpha, nullptr, nullptr, nullptr},
    {"l1_ratio", get_l1_ratio, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"find_function", as_method(find_function), METH_VARARGS | METH_KEYWORDS,
     "find_function($self, xs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Finds a univariate function f(x) \u2248 y.\nSupports both Python lists and NumPy arrays."},
    {"find_multivariate", as_method(find_multivariate), METH_VARARGS | METH_KEYWORDS,
     "find_multivariate($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Finds a multivariate function f(x0, x1, ...) \u2248 y.\nInputs should be a 2D array-like structure."},
    {"fit", as_method(fit), METH_VARARGS | METH_KEYWORDS,
     "fit($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\nAlias for find_multivariate (Scikit-Learn style)."},
    {"find_candidates", as_method(find_candidates), METH_VARARGS | METH_KEYWORDS,
     "find_candidates($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Returns the Pareto-front of all candidate formulas found."},
    {"recognize_constant", as_method(recognize_constant), METH_VARARGS | METH_KEYWORDS,
     "recognize_constant($self, value, alpha=None, l1_ratio=None)\n--\n\n"
     "Identifies a closed-form expression for a scalar constant."},
    {"__reduce__", reduce, METH_NOARGS,
     "__reduce__($self)\n--\n\nThe class and constructor arguments that pickle and copy rebuild the searcher from."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject PySearcherType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0).tp_name = "kiv_sr.Searcher",
    .tp_basicsize = sizeof(PySearcher),
    .tp_itemsize = 0,
    .tp_dealloc = dealloc,
    .tp_repr = represent,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc =
        "Searcher(max_complexity=10, complexity_penalty=0.1, beam_width=1000, alpha=0.0, l1_ratio=0.5)\n--\n\n"
        "The core KIV-SR search engine exposed to Python.",
    .tp_methods = methods,
    .tp_getset = getters,
    .tp_new = create,
};

}  // namespace kiv::python
