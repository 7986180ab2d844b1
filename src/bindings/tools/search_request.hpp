// What the companion's searches share as they start: the searcher with the
// call's penalty overrides, and the data warnings of a search that runs
// without the interpreter lock.
//
// Call with the interpreter lock held; failures throw PyErrAlreadySet.
#pragma once

#include <Python.h>

#include "bindings/tools/released_lock.hpp"
#include "engine/data_warnings.hpp"
#include "facade/searcher.hpp"

namespace kiv::python {

// The facade of the kiv_sr.Searcher `searcher` with alpha and l1_ratio
// replaced where given (not null and not None).
Searcher request_searcher(PyObject* searcher, PyObject* alpha, PyObject* l1_ratio);

// Sends each warning as a RuntimeWarning to the caller's caller, taking the
// lock back from `released` to do so.
WarningSink locked_warnings(ReleasedLock& released);

}  // namespace kiv::python
