// result_state: a SearchResult record as a plain Python value and back; the
// form in which pickle and copy carry results across processes and versions.
//
// Version 1 of the state is the tuple (1, error, tokens): `error` the
// record's error as a float; `tokens` the formula's postfix tokens in order,
// each a tuple
//     ("var", column)    input column, an int from 0 to kMaxVariables - 1
//     ("param", re, im)  a fitted constant, two floats; params are numbered
//                        by order of appearance
//     ("real", value)    a fixed real number, a float
//     ("const", name)    a registry constant ("Pi", "E", "I", "0", "1")
//     ("op", name)       a registry operator ("Plus", "KIV", "Sin", ...)
// Floats keep every bit. Operators and constants travel by registry name,
// never by id, so a state does not depend on how a registry numbers them.
//
// The unit depends on the engine's records and the reference and error
// helpers only, so that any extension holding such records can compile it
// in. Call with the interpreter lock held.
#pragma once

#include <Python.h>

#include "bindings/shared/py_ref.hpp"
#include "result.hpp"

namespace kiv::python {

// The postfix tokens of `expression`, a tuple of token tuples as above.
PyRef tokens_state(const Expression& expression, const OperatorRegistry& registry);

// The expression that a tuple of token tuples describes, built by the
// engine's own composition on `registry`, params set to the tokens' values.
// Malformed tokens raise as result_from_state does.
Expression expression_from_tokens(PyObject* tokens, const OperatorRegistry& registry);

// The version-1 state of `record`.
PyRef state_of(const SearchResult& record);

// The record `state` describes, rebuilt by the engine's own composition on a
// new builtin registry, with the param values and the error of the state.
// A state that is anything else raises TypeError (an item of the wrong type)
// or ValueError (a wrong value or shape) and throws PyErrAlreadySet.
SearchResult result_from_state(PyObject* state);

}  // namespace kiv::python
