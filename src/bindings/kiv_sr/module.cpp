// The module kiv_sr: its entry point PyInit_kiv_sr.
//
// Single-phase initialisation, once per process: the first import creates
// the module with its two classes and three exception classes; any later
// initialisation in the same interpreter (an import after the module was
// removed from sys.modules) returns that same module object. The module
// keeps process-wide state (the exception classes, the NumPy C API), so an
// import from a second interpreter is refused with ImportError.
#include <Python.h>

#include <cstdint>

#include "bindings/kiv_sr/py_search_result.hpp"
#include "bindings/kiv_sr/py_searcher.hpp"
#include "bindings/shared/exception_classes.hpp"
#include "bindings/shared/guarded.hpp"
#include "bindings/shared/kiv_objects.hpp"
#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"

namespace kiv::python {
namespace {

// m_size 0 (not -1) makes the interpreter call PyInit_kiv_sr again on a
// re-import, instead of copying the module dict into a new module object.
PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "kiv_sr",
    .m_doc = "The main Python module entry point.",
    .m_size = 0,
};

// Owned for the life of the process, like the classes it exposes.
PyObject* the_module = nullptr;
std::int64_t owner_interpreter = -1;

void refuse_other_interpreters() {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    require(current >= 0);
    if (owner_interpreter < 0) owner_interpreter = current;
    if (current != owner_interpreter)
        raise(PyExc_ImportError, "kiv_sr can be used by one interpreter per process only");
}

// Adds `value` as attribute `name` and appends the name to `all`.
void export_name(PyObject* module, PyObject* all, const char* name, PyObject* value) {
    require(value != nullptr);
    require(PyObject_SetAttrString(module, name, value) == 0);
    const PyRef text = require(PyRef::steal(PyUnicode_FromString(name)));
    require(PyList_Append(all, text.get()) == 0);
}

// The classes, recorded for the bindings and lent to the companion's
// module through the capsule kiv_sr._C_API; process-wide, like them.
const KivClasses* lent_classes() {
    static const KivClasses classes{&PySearcherType,       &PySearchResultType,    kiv_runtime_error(),
                                    kiv_dimension_error(), kiv_complexity_error(), kiv_internal_error()};
    require(classes.runtime_error && classes.dimension_error && classes.complexity_error && classes.internal_error);
    return &classes;
}

PyRef create_module() {
    require(PyType_Ready(&PySearcherType) == 0);
    require(PyType_Ready(&PySearchResultType) == 0);
    const KivClasses* classes = lent_classes();
    use_kiv_classes(*classes);
    PyRef module = require(PyRef::steal(PyModule_Create(&module_def)));
    const PyRef all = require(PyRef::steal(PyList_New(0)));
    export_name(module.get(), all.get(), "Searcher", reinterpret_cast<PyObject*>(&PySearcherType));
    export_name(module.get(), all.get(), "SearchResult", reinterpret_cast<PyObject*>(&PySearchResultType));
    export_name(module.get(), all.get(), "KivDimensionError", kiv_dimension_error());
    export_name(module.get(), all.get(), "KivComplexityError", kiv_complexity_error());
    export_name(module.get(), all.get(), "KivRuntimeError", kiv_runtime_error());
    require(PyObject_SetAttrString(module.get(), "__all__", all.get()) == 0);
    const PyRef capsule =
        require(PyRef::steal(PyCapsule_New(const_cast<KivClasses*>(classes), kClassesCapsule, nullptr)));
    require(PyObject_SetAttrString(module.get(), "_C_API", capsule.get()) == 0);
    const PyRef version = require(PyRef::steal(PyUnicode_FromString(KIV_SR_VERSION)));
    require(PyObject_SetAttrString(module.get(), "__version__", version.get()) == 0);
    return module;
}

}  // namespace
}  // namespace kiv::python

PyMODINIT_FUNC PyInit_kiv_sr() {
    using namespace kiv::python;
    return guarded([]() -> PyObject* {
        refuse_other_interpreters();
        if (!the_module) the_module = create_module().release();
        return PyRef::borrow(the_module).release();
    });
}
