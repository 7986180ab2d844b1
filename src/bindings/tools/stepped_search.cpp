#include "bindings/tools/stepped_search.hpp"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "bindings/shared/convert.hpp"
#include "bindings/shared/guarded.hpp"
#include "bindings/shared/kiv_objects.hpp"
#include "bindings/shared/method_cast.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/tools/operator_set_argument.hpp"
#include "bindings/tools/released_lock.hpp"
#include "bindings/tools/search_request.hpp"
#include "engine/evaluated_batch.hpp"
#include "engine/level_search.hpp"

namespace kiv::python {
namespace {

struct SteppedSearch {
    ProgressOutput output{ProgressOutput::Destination::Buffer};
    std::unique_ptr<LevelSearch> search;
};

constexpr const char* kSteppedSearch = "kiv_sr_tools._native.SteppedSearch";

void free_stepped_search(PyObject* capsule) {
    delete static_cast<SteppedSearch*>(PyCapsule_GetPointer(capsule, kSteppedSearch));
}

LevelSearch& search_of(PyObject* capsule) {
    auto* stepped = static_cast<SteppedSearch*>(PyCapsule_GetPointer(capsule, kSteppedSearch));
    require(stepped != nullptr);
    return *stepped->search;
}

PyRef bytes_of(const EvaluatedBatch& batch) {
    const std::string bytes = batch.to_bytes();
    return require(PyRef::steal(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()))));
}

EvaluatedBatch batch_of(PyObject* bytes) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    require(PyBytes_AsStringAndSize(bytes, &data, &size) == 0);
    return EvaluatedBatch::from_bytes(std::string_view(data, static_cast<std::size_t>(size)));
}

// Seeding level 1 runs without the interpreter lock; the data warnings take it back.
PyRef start_stepped_search(const Searcher& facade, const OperatorSet& operators, PyObject* inputs, PyObject* ys,
                           bool warns) {
    const Matrix rows = convert_to_matrix(inputs);
    const Vector targets = convert_to_vec(ys);
    auto stepped = std::make_unique<SteppedSearch>();
    auto outcome = [&] {
        ReleasedLock released;
        return facade.start_levels(rows, targets,
                                   {.warn = warns ? locked_warnings(released) : WarningSink(),
                                    .progress = &stepped->output,
                                    .operators = operators});
    }();
    if (auto* error = std::get_if<SearchError>(&outcome)) throw std::move(*error);
    stepped->search = std::move(std::get<std::unique_ptr<LevelSearch>>(outcome));
    PyRef capsule = require(PyRef::steal(PyCapsule_New(stepped.get(), kSteppedSearch, free_stepped_search)));
    stepped.release();
    return capsule;
}

// (levels retained, finished).
PyRef stepped_status(PyObject* capsule) {
    const LevelSearch& search = search_of(capsule);
    return require(PyRef::steal(Py_BuildValue("(nO)", static_cast<Py_ssize_t>(search.levels_retained()),
                                              search.finished() ? Py_True : Py_False)));
}

PyRef front_results(PyObject* capsule) {
    auto outcome = search_of(capsule).result();
    if (auto* error = std::get_if<SearchError>(&outcome)) throw std::move(*error);
    return result_list(std::move(std::get<std::vector<SearchResult>>(outcome)));
}

PyObject* search_start(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* keywords[] = {"searcher", "inputs", "ys", "warns", "operators", nullptr};
        PyObject *searcher = nullptr, *inputs = nullptr, *ys = nullptr, *names = nullptr;
        int warns = 0;
        require(PyArg_ParseTupleAndKeywords(args, kwargs, "OOOp|O:search_start", const_cast<char**>(keywords),
                                            &searcher, &inputs, &ys, &warns, &names));
        const Searcher& facade = facade_of(searcher, "searcher");
        return start_stepped_search(facade, operator_set_of(names), inputs, ys, warns != 0).release();
    });
}

PyObject* search_status(PyObject*, PyObject* capsule) {
    return guarded([&] { return stepped_status(capsule); });
}

PyObject* search_expand(PyObject*, PyObject* capsule) {
    return guarded([&] {
        LevelSearch& search = search_of(capsule);
        const std::size_t count = unlocked([&] { return search.expand(); });
        return require(PyRef::steal(PyLong_FromSize_t(count)));
    });
}

PyObject* search_evaluate(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject* capsule = nullptr;
        Py_ssize_t begin = 0, end = 0;
        require(PyArg_ParseTuple(args, "Onn:search_evaluate", &capsule, &begin, &end));
        if (begin < 0 || end < begin) {
            PyErr_SetString(PyExc_ValueError, "candidate range must satisfy 0 <= begin <= end");
            throw PyErrAlreadySet{};
        }
        LevelSearch& search = search_of(capsule);
        const auto first = static_cast<std::size_t>(begin), last = static_cast<std::size_t>(end);
        return bytes_of(unlocked([&] {
            search.evaluate(first, last);
            return search.evaluations(first, last);
        }));
    });
}

PyObject* search_absorb(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject *capsule = nullptr, *bytes = nullptr;
        Py_ssize_t count = 0;
        require(PyArg_ParseTuple(args, "OSn:search_absorb", &capsule, &bytes, &count));
        LevelSearch& search = search_of(capsule);
        search.absorb(batch_of(bytes));
        search.count_evaluated(static_cast<std::size_t>(std::max<Py_ssize_t>(count, 0)));
        return PyRef::borrow(Py_None);
    });
}

PyObject* search_finish_level(PyObject*, PyObject* capsule) {
    return guarded([&] {
        LevelSearch& search = search_of(capsule);
        return bytes_of(unlocked([&] { return search.finish_level(); }));
    });
}

PyObject* search_adopt_level(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject *capsule = nullptr, *bytes = nullptr;
        require(PyArg_ParseTuple(args, "OS:search_adopt_level", &capsule, &bytes));
        LevelSearch& search = search_of(capsule);
        const EvaluatedBatch retained = batch_of(bytes);
        unlocked([&] { search.adopt_level(retained); });
        return PyRef::borrow(Py_None);
    });
}

PyObject* search_front(PyObject*, PyObject* capsule) {
    return guarded([&] { return front_results(capsule).release(); });
}

PyObject* search_output(PyObject*, PyObject* capsule) {
    return guarded([&] {
        auto* stepped = static_cast<SteppedSearch*>(PyCapsule_GetPointer(capsule, kSteppedSearch));
        require(stepped != nullptr);
        const std::string text = stepped->output.take();
        return require(
            PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace")));
    });
}

PyMethodDef functions[] = {
    {"search_start", as_method(search_start), METH_VARARGS | METH_KEYWORDS,
     "search_start(searcher, inputs, ys, warns, operators=None)\n--\n\n"
     "The searcher's search, level 1 seeded, to run one level at a time; "
     "warns: send the data warnings; operators: as for search."},
    {"search_status", search_status, METH_O,
     "search_status(search)\n--\n\n(levels retained, whether no further level runs)."},
    {"search_expand", search_expand, METH_O,
     "search_expand(search)\n--\n\nBuilds the candidates of the next level; returns how many."},
    {"search_evaluate", search_evaluate, METH_VARARGS,
     "search_evaluate(search, begin, end)\n--\n\n"
     "Evaluates candidates [begin, end) of the expanded level; returns the scored ones as bytes."},
    {"search_absorb", search_absorb, METH_VARARGS,
     "search_absorb(search, evaluated, count)\n--\n\n"
     "Takes over evaluations made by another copy of the search, counting `count` candidates as done."},
    {"search_finish_level", search_finish_level, METH_O,
     "search_finish_level(search)\n--\n\n"
     "Offers the evaluated level to the front and cuts it to the beam; returns the retained candidates as bytes."},
    {"search_adopt_level", search_adopt_level, METH_VARARGS,
     "search_adopt_level(search, retained)\n--\n\n"
     "Retains the candidates another copy's search_finish_level returned for the expanded level."},
    {"search_front", search_front, METH_O, "search_front(search)\n--\n\nThe refitted front, lowest error first."},
    {"search_output", search_output, METH_O,
     "search_output(search)\n--\n\nThe progress text reported since the last call."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_stepped_search_functions(PyObject* module) { require(PyModule_AddFunctions(module, functions) == 0); }

}  // namespace kiv::python
