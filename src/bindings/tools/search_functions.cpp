#include "bindings/tools/search_functions.hpp"

#include <optional>
#include <string>
#include <variant>

#include "bindings/shared/convert.hpp"
#include "bindings/shared/guarded.hpp"
#include "bindings/shared/kiv_objects.hpp"
#include "bindings/shared/method_cast.hpp"
#include "bindings/shared/progress_relay.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/result_state.hpp"
#include "bindings/shared/scalar_arguments.hpp"
#include "bindings/tools/budget_stop.hpp"
#include "bindings/tools/operator_set_argument.hpp"
#include "bindings/tools/released_lock.hpp"
#include "bindings/tools/search_request.hpp"

namespace kiv::python {
namespace {

// The search without the interpreter lock; its hooks take the lock back to
// forward the report, check the budget and Ctrl-C, and send the warnings.
Outcome<PartialFront> run_unlocked(const Searcher& facade, const Matrix& rows, const Vector& targets,
                                   const OperatorSet& operators, BudgetStop& stop, ProgressRelay& relay) {
    ReleasedLock released;
    const CancelCheck poll = [&] {
        return released.with_lock([&] { return relay.forward() ? stop() : stop.after_exception(); });
    };
    return facade.find_candidates_until(
        rows, targets,
        SearchHooks{
            .cancel = poll, .warn = locked_warnings(released), .progress = &relay.output(), .operators = operators});
}

const char* end_name(SearchEnd end, const BudgetStop& stop) {
    switch (end) {
        case SearchEnd::ExactFit:
            return "exact_fit";
        case SearchEnd::AllLevels:
            return "all_levels";
        case SearchEnd::Stopped:
            break;
    }
    return stop.reason() ? stop.reason() : "interrupt";
}

PyObject* search(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* keywords[] = {"searcher",    "inputs",  "ys",        "alpha", "l1_ratio",
                                         "max_seconds", "verbose", "operators", nullptr};
        PyObject *searcher = nullptr, *inputs = nullptr, *ys = nullptr, *alpha = nullptr, *l1_ratio = nullptr,
                 *max_seconds = nullptr, *names = nullptr;
        int verbose = 1;
        require(PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|OOOpO:search", const_cast<char**>(keywords), &searcher,
                                            &inputs, &ys, &alpha, &l1_ratio, &max_seconds, &verbose, &names));
        const Searcher facade = request_searcher(searcher, alpha, l1_ratio);
        BudgetStop stop(to_optional_real(max_seconds, "max_seconds"));
        const OperatorSet operators = operator_set_of(names);
        const Matrix rows = convert_to_matrix(inputs);
        const Vector targets = convert_to_vec(ys);
        ProgressRelay relay(verbose != 0);
        auto outcome = run_unlocked(facade, rows, targets, operators, stop, relay);
        // An exception raised by sys.stdout or by a signal handler other than
        // Ctrl-C stopped the search; it is the caller's answer.
        if (PyErr_Occurred()) throw PyErrAlreadySet{};
        relay.finish();
        if (auto* error = std::get_if<SearchError>(&outcome)) throw std::move(*error);
        PartialFront& partial = std::get<PartialFront>(outcome);
        const PyRef front = result_list(std::move(partial.front));
        return require(
                   PyRef::steal(Py_BuildValue("(Ons)", front.get(), static_cast<Py_ssize_t>(partial.levels_completed),
                                              end_name(partial.end, stop))))
            .release();
    });
}

PyObject* refit(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* keywords[] = {"searcher", "formula", "inputs", "ys", "alpha", "l1_ratio", nullptr};
        PyObject *searcher = nullptr, *formula = nullptr, *inputs = nullptr, *ys = nullptr, *alpha = nullptr,
                 *l1_ratio = nullptr;
        require(PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO|OO:refit", const_cast<char**>(keywords), &searcher,
                                            &formula, &inputs, &ys, &alpha, &l1_ratio));
        const Searcher facade = request_searcher(searcher, alpha, l1_ratio);
        const SearchResult record = formula_of(formula);
        const Matrix rows = convert_to_matrix(inputs);
        const Vector targets = convert_to_vec(ys);
        auto outcome = unlocked([&] { return facade.refit(record, rows, targets); });
        if (auto* error = std::get_if<SearchError>(&outcome)) throw std::move(*error);
        return wrap_result(std::move(std::get<SearchResult>(outcome))).release();
    });
}

PyObject* tokens(PyObject*, PyObject* result) {
    return guarded([&] {
        const SearchResult& record = record_of(result, "result");
        return tokens_state(record.expression, *record.registry).release();
    });
}

PyObject* result(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* keywords[] = {"tokens", "error", nullptr};
        PyObject* tokens = nullptr;
        double error = 0.0;
        require(PyArg_ParseTupleAndKeywords(args, kwargs, "O|d:result", const_cast<char**>(keywords), &tokens, &error));
        SearchResult record = formula_of(tokens);
        record.error = error;
        return wrap_result(std::move(record)).release();
    });
}

PyMethodDef functions[] = {
    {"search", as_method(search), METH_VARARGS | METH_KEYWORDS,
     "search(searcher, inputs, ys, alpha=None, l1_ratio=None, max_seconds=None, verbose=True, operators=None)\n--\n\n"
     "searcher.find_candidates(inputs, ys, alpha, l1_ratio) without the interpreter lock, stopped after "
     "max_seconds or by Ctrl-C: (the front, lowest error first; the levels completed; how it ended: "
     "'exact_fit', 'all_levels', 'time' or 'interrupt'). verbose=False prints nothing. operators: the names of "
     "the operators candidates are built with (None: every one)."},
    {"refit", as_method(refit), METH_VARARGS | METH_KEYWORDS,
     "refit(searcher, formula, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "The formula (a SearchResult or its tokens) refitted on the data as the searcher's search refits its "
     "answers: its constants refined once more, its error computed as the search computes it."},
    {"tokens", tokens, METH_O,
     "tokens(result)\n--\n\nThe postfix tokens of a SearchResult's formula, each constant at full precision."},
    {"result", as_method(result), METH_VARARGS | METH_KEYWORDS,
     "result(tokens, error=0.0)\n--\n\nThe SearchResult of a formula given by its postfix tokens."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_search_functions(PyObject* module) { require(PyModule_AddFunctions(module, functions) == 0); }

}  // namespace kiv::python
