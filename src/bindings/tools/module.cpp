// The module kiv_sr_tools._native: the engine entries the companion package
// needs and the public module does not offer. Private: its only callers are
// the package's own Python functions.
//
// It takes and returns kiv_sr's own objects (Searcher, SearchResult) and
// raises kiv_sr's exception classes through the same error boundary, all
// borrowed from kiv_sr at initialisation (see kiv_objects.hpp).
#include <Python.h>

#include "bindings/shared/guarded.hpp"
#include "bindings/shared/kiv_objects.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"
#include "bindings/tools/formula_functions.hpp"
#include "bindings/tools/search_functions.hpp"
#include "bindings/tools/stepped_search.hpp"
#include "bindings/tools/term_table_functions.hpp"

namespace kiv::python {
namespace {

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "kiv_sr_tools._native",
    .m_doc = "Engine entries of the kiv_sr_tools package; private.",
    .m_size = -1,
};

PyRef create_module() {
    const auto* classes = static_cast<const KivClasses*>(PyCapsule_Import(kClassesCapsule, 0));
    require(classes != nullptr);
    use_kiv_classes(*classes);
    PyRef module = require(PyRef::steal(PyModule_Create(&module_def)));
    add_search_functions(module.get());
    add_stepped_search_functions(module.get());
    add_formula_functions(module.get());
    add_term_table_functions(module.get());
    return module;
}

}  // namespace
}  // namespace kiv::python

PyMODINIT_FUNC PyInit__native() {
    using namespace kiv::python;
    return guarded([] { return create_module().release(); });
}
