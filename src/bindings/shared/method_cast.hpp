// as_method: a keyword-taking C function as the PyCFunction that a
// PyMethodDef stores; the interpreter calls it with its real signature,
// chosen by the METH_VARARGS | METH_KEYWORDS flag.
#pragma once

#include <Python.h>

namespace kiv::python {

using KeywordFunction = PyObject* (*)(PyObject*, PyObject*, PyObject*);

inline PyCFunction as_method(KeywordFunction function) {
    // Through a generic function pointer, which converts without a warning.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace kiv::python
