// The module kiv_sr_tools._native: engine entries that the companion package
// needs and the public module does not offer. Private: its only callers are
// the package's own Python functions, which give it a Searcher's settings
// and turn what it returns into kiv_sr records and exceptions.
//
// Results travel as the records' pickle states, so the package rebuilds real
// kiv_sr.SearchResult objects through the class's own loader.
#include <Python.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "engine/evaluated_batch.hpp"
#include "engine/level_search.hpp"
#include "facade/searcher.hpp"
#include "bindings/shared/convert.hpp"
#include "bindings/shared/progress_relay.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"
#include "bindings/shared/result_state.hpp"
#include "bindings/shared/scalar_arguments.hpp"

namespace kiv::python {
namespace {

// Raised with (kind, message) for a search the engine refused or that found
// nothing; the package re-raises it as the matching kiv_sr exception.
PyObject* search_failed = nullptr;

// The stop check of a budgeted search, polled on the calling thread: the
// deadline, then Ctrl-C. A KeyboardInterrupt is taken as a request to stop
// with the front found so far; any other exception from a signal handler
// stays pending and is raised once the search has ended.
class BudgetStop {
public:
    explicit BudgetStop(std::optional<double> seconds) {
        if (seconds)
            deadline_ =
                std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                       std::chrono::duration<double>(*seconds));
    }

    bool operator()() {
        if (deadline_ && std::chrono::steady_clock::now() >= *deadline_) return stop_because("time");
        return PyErr_CheckSignals() != 0 && after_exception();
    }

    // Stops for the pending exception, which Ctrl-C (raised by a signal
    // handler, or inside sys.stdout.write) resolves into the front so far.
    bool after_exception() {
        if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) PyErr_Clear();
        return stop_because("interrupt");
    }

    const char* reason() const { return reason_; }

private:
    bool stop_because(const char* why) {
        if (!reason_) reason_ = why;
        return true;
    }

    std::optional<std::chrono::steady_clock::time_point> deadline_;
    const char* reason_ = nullptr;
};

SearchConfig config_from(PyObject* settings) {
    PyObject *max_complexity = nullptr, *penalty = nullptr, *beam_width = nullptr, *alpha = nullptr,
             *l1_ratio = nullptr;
    require(PyArg_ParseTuple(settings, "OOOOO:settings", &max_complexity, &penalty, &beam_width, &alpha, &l1_ratio));
    return SearchConfig(to_count(max_complexity, "max_complexity"), to_real(penalty, "complexity_penalty"),
                        to_count(beam_width, "beam_width"), to_real(alpha, "alpha"), to_real(l1_ratio, "l1_ratio"));
}

void warn(const std::string& text) { require(PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 2) == 0); }

[[noreturn]] void raise_search_failed(const SearchError& error) {
    const char* kind = error.kind() == SearchError::Kind::NoFormulaFound ? "complexity" : "dimension";
    const PyRef args = require(PyRef::steal(Py_BuildValue("(ss)", kind, error.message().c_str())));
    PyErr_SetObject(search_failed, args.get());
    throw PyErrAlreadySet{};
}

// The records' pickle states, in order.
PyRef state_list(const std::vector<SearchResult>& results) {
    PyRef states = require(PyRef::steal(PyList_New(static_cast<Py_ssize_t>(results.size()))));
    for (std::size_t i = 0; i < results.size(); ++i)
        PyList_SET_ITEM(states.get(), static_cast<Py_ssize_t>(i), state_of(results[i]).release());
    return states;
}

// (states of the front, levels completed, None / "time" / "interrupt").
PyRef front_until_stopped(PyObject* settings, PyObject* inputs, PyObject* ys, PyObject* max_seconds) {
    const Searcher facade(config_from(settings));
    const Matrix rows = convert_to_matrix(inputs);
    const Vector targets = convert_to_vec(ys);
    BudgetStop stop(to_optional_real(max_seconds, "max_time"));
    ProgressRelay relay;
    const CancelCheck poll = [&] { return relay.forward() ? stop() : stop.after_exception(); };
    auto outcome = facade.find_candidates_until(rows, targets, SearchHooks{poll, warn, &relay.output(), nullptr});
    // An exception raised by sys.stdout or by a signal handler other than
    // Ctrl-C stopped the search; it is the caller's answer.
    if (PyErr_Occurred()) throw PyErrAlreadySet{};
    relay.finish();
    if (const auto* error = std::get_if<SearchError>(&outcome)) raise_search_failed(*error);
    const PartialFront& partial = std::get<PartialFront>(outcome);
    const PyRef states = state_list(partial.front);
    const PyRef reason = partial.stopped && stop.reason() ? require(PyRef::steal(PyUnicode_FromString(stop.reason())))
                                                          : PyRef::borrow(Py_None);
    return require(PyRef::steal(
        Py_BuildValue("(OnO)", states.get(), static_cast<Py_ssize_t>(partial.levels_completed), reason.get())));
}

// The state of the record `state` describes, refitted on the data as a
// search with these settings refits its answers.
PyRef refit_state(PyObject* settings, PyObject* state, PyObject* inputs, PyObject* ys) {
    const Searcher facade(config_from(settings));
    const SearchResult record = result_from_state(state);
    const Matrix rows = convert_to_matrix(inputs);
    const Vector targets = convert_to_vec(ys);
    auto outcome = facade.refit(record, rows, targets);
    if (const auto* error = std::get_if<SearchError>(&outcome)) raise_search_failed(*error);
    return state_of(std::get<SearchResult>(outcome));
}

// A search run one level at a time, for the package's cluster search: the
// driver and every worker each hold one. Its report is buffered until the
// driver takes it. The package calls one handle from one thread at a time;
// the steps that evaluate on data run without the interpreter lock.
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

// Runs `step` without the interpreter lock; it must not touch Python.
template <class Step>
auto unlocked(Step&& step) {
    class Released {
    public:
        Released() : state_(PyEval_SaveThread()) {}
        ~Released() { PyEval_RestoreThread(state_); }
        Released(const Released&) = delete;
        Released& operator=(const Released&) = delete;

    private:
        PyThreadState* state_;
    } released;
    return step();
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

PyRef start_stepped_search(PyObject* settings, PyObject* inputs, PyObject* ys, bool warns) {
    const Searcher facade(config_from(settings));
    const Matrix rows = convert_to_matrix(inputs);
    const Vector targets = convert_to_vec(ys);
    auto stepped = std::make_unique<SteppedSearch>();
    const SearchHooks hooks{{}, warns ? WarningSink(warn) : WarningSink(), &stepped->output, nullptr};
    auto outcome = unlocked([&] { return facade.start_levels(rows, targets, hooks); });
    if (const auto* error = std::get_if<SearchError>(&outcome)) raise_search_failed(*error);
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

PyRef front_states(PyObject* capsule) {
    auto outcome = search_of(capsule).result();
    if (const auto* error = std::get_if<SearchError>(&outcome)) raise_search_failed(*error);
    return state_list(std::get<std::vector<SearchResult>>(outcome));
}

// The C++ exceptions of a call as Python errors. Refusals and empty results
// arrive as SearchFailed; a broken invariant is a bug of ours, reported as such.
template <class Body>
PyObject* boundary(Body&& body) noexcept {
    try {
        return body().release();
    } catch (const PyErrAlreadySet&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_Format(PyExc_SystemError, "kiv_sr_tools internal error: %s", error.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "kiv_sr_tools internal error");
    }
    return nullptr;
}

PyObject* find_candidates_until(PyObject*, PyObject* args) {
    return boundary([&] {
        PyObject *settings = nullptr, *inputs = nullptr, *ys = nullptr, *max_seconds = nullptr;
        require(PyArg_ParseTuple(args, "OOOO:find_candidates_until", &settings, &inputs, &ys, &max_seconds));
        return front_until_stopped(settings, inputs, ys, max_seconds);
    });
}

PyObject* refit(PyObject*, PyObject* args) {
    return boundary([&] {
        PyObject *settings = nullptr, *state = nullptr, *inputs = nullptr, *ys = nullptr;
        require(PyArg_ParseTuple(args, "OOOO:refit", &settings, &state, &inputs, &ys));
        return refit_state(settings, state, inputs, ys);
    });
}

PyObject* search_start(PyObject*, PyObject* args) {
    return boundary([&] {
        PyObject *settings = nullptr, *inputs = nullptr, *ys = nullptr;
        int warns = 0;
        require(PyArg_ParseTuple(args, "OOOp:search_start", &settings, &inputs, &ys, &warns));
        return start_stepped_search(settings, inputs, ys, warns != 0);
    });
}

PyObject* search_status(PyObject*, PyObject* capsule) {
    return boundary([&] { return stepped_status(capsule); });
}

PyObject* search_expand(PyObject*, PyObject* capsule) {
    return boundary([&] {
        LevelSearch& search = search_of(capsule);
        const std::size_t count = unlocked([&] { return search.expand(); });
        return require(PyRef::steal(PyLong_FromSize_t(count)));
    });
}

PyObject* search_evaluate(PyObject*, PyObject* args) {
    return boundary([&] {
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
    return boundary([&] {
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
    return boundary([&] {
        LevelSearch& search = search_of(capsule);
        return bytes_of(unlocked([&] { return search.finish_level(); }));
    });
}

PyObject* search_adopt_level(PyObject*, PyObject* args) {
    return boundary([&] {
        PyObject *capsule = nullptr, *bytes = nullptr;
        require(PyArg_ParseTuple(args, "OS:search_adopt_level", &capsule, &bytes));
        LevelSearch& search = search_of(capsule);
        const EvaluatedBatch retained = batch_of(bytes);
        unlocked([&] { search.adopt_level(retained); });
        return PyRef::borrow(Py_None);
    });
}

PyObject* search_front(PyObject*, PyObject* capsule) {
    return boundary([&] { return front_states(capsule); });
}

PyObject* search_output(PyObject*, PyObject* capsule) {
    return boundary([&] {
        auto* stepped = static_cast<SteppedSearch*>(PyCapsule_GetPointer(capsule, kSteppedSearch));
        require(stepped != nullptr);
        const std::string text = stepped->output.take();
        return require(
            PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace")));
    });
}

PyMethodDef functions[] = {
    {"find_candidates_until", find_candidates_until, METH_VARARGS,
     "find_candidates_until(settings, inputs, ys, max_seconds)\n--\n\n"
     "The front of a search with the five Searcher settings, stopped at the time budget or by Ctrl-C: "
     "(states, levels completed, None or the reason it stopped)."},
    {"refit", refit, METH_VARARGS,
     "refit(settings, state, inputs, ys)\n--\n\n"
     "The state of a result refitted on the data as a search with the five Searcher settings refits its answers: "
     "its error computed as the search computes it, its constants refined once more."},
    {"search_start", search_start, METH_VARARGS,
     "search_start(settings, inputs, ys, warns)\n--\n\n"
     "A search with the five Searcher settings, level 1 seeded, to run one level at a time; "
     "warns: send the data warnings."},
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
    {"search_front", search_front, METH_O,
     "search_front(search)\n--\n\nThe states of the refitted front, lowest error first."},
    {"search_output", search_output, METH_O,
     "search_output(search)\n--\n\nThe progress text reported since the last call."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "kiv_sr_tools._native",
    .m_doc = "Engine entries of the kiv_sr_tools package; private.",
    .m_size = -1,
    .m_methods = functions,
};

}  // namespace
}  // namespace kiv::python

PyMODINIT_FUNC PyInit__native() {
    using namespace kiv::python;
    return boundary([] {
        PyRef module = require(PyRef::steal(PyModule_Create(&module_def)));
        if (!search_failed)
            search_failed =
                require(PyRef::steal(PyErr_NewException("kiv_sr_tools._native.SearchFailed", nullptr, nullptr)))
                    .release();
        require(PyModule_AddObjectRef(module.get(), "SearchFailed", search_failed) == 0);
        return module;
    });
}
