// The operators= argument of the companion's searches: None for every
// operator, or a sequence of operator names that the engine's OperatorSet
// checks against the builtin registry, the one _native.operators() lists.
//
// Call with the interpreter lock held; failures throw PyErrAlreadySet.
#pragma once

#include <Python.h>

#include "engine/operator_set.hpp"

namespace kiv::python {

// Every operator when `names` was omitted (null) or is None. A string or a
// non-sequence raises TypeError, as does a name that is no string; the
// engine's refusal of the names raises ValueError with its message.
OperatorSet operator_set_of(PyObject* names);

}  // namespace kiv::python
