#include "bindings/shared/convert.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <cmath>
#include <cstring>
#include <optional>

#include "bindings/shared/py_error.hpp"
#include "bindings/shared/py_ref.hpp"
#include "ops/operator.hpp"

namespace kiv::python {
namespace {

constexpr const char* kNotContiguous = "The given array is not contiguous";
constexpr const char* kNotVector = "Input must be a 1D list or NumPy array of floats";
constexpr const char* kNotMatrix = "Input must be a 2D list or 2D NumPy array of floats";

// A Complex is laid out as NumPy's complex128: real part, then imaginary part.
static_assert(sizeof(Complex) == 2 * sizeof(double) && alignof(Complex) == alignof(double));

bool numpy_api = false;

// Loads NumPy's C API, importing NumPy; false with the import's error set.
bool load_numpy_api() {
    if (!numpy_api) numpy_api = _import_array() >= 0;
    return numpy_api;
}

// True once NumPy's C API is loaded. An array can only exist after NumPy was
// imported, so while it is absent from sys.modules nothing is loaded and the
// caller takes the generic path; a NumPy that fails to load is treated the
// same way instead of failing the conversion.
bool numpy_loaded() {
    if (numpy_api) return true;
    PyObject* numpy = PyDict_GetItemString(PyImport_GetModuleDict(), "numpy");
    if (!numpy || numpy == Py_None) return false;
    if (!load_numpy_api()) PyErr_Clear();
    return numpy_api;
}

// `object` as a NumPy float64 array of `ndim` dimensions, or null.
PyArrayObject* float64_array(PyObject* object, int ndim) {
    if (!numpy_loaded() || !PyArray_Check(object)) return nullptr;
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(array) != ndim) return nullptr;
    PyArray_Descr* descr = PyArray_DESCR(array);
    PyArray_Descr* float64 = PyArray_DescrFromType(NPY_DOUBLE);
    const PyRef owned = PyRef::steal(reinterpret_cast<PyObject*>(float64));
    return descr == float64 || PyArray_EquivTypes(descr, float64) ? array : nullptr;
}

// Bit-for-bit copy of `count` doubles; the source may be unaligned. An
// empty array or vector may have a null data pointer, which memcpy must not
// be given even for zero bytes.
void copy_doubles(double* out, const char* source, std::size_t count) {
    if (count == 0) return;
    std::memcpy(out, source, count * sizeof(double));
}

Vector array_vector(PyArrayObject* array) {
    if (!PyArray_IS_C_CONTIGUOUS(array) && !PyArray_IS_F_CONTIGUOUS(array)) raise(PyExc_TypeError, kNotContiguous);
    Vector values(static_cast<std::size_t>(PyArray_DIM(array, 0)));
    copy_doubles(values.data(), PyArray_BYTES(array), values.size());
    return values;
}

// Rows in logical order whatever the strides (transposed, Fortran order,
// reversed); a row whose elements are adjacent is copied as one block.
Matrix array_matrix(PyArrayObject* array) {
    const auto rows = static_cast<std::size_t>(PyArray_DIM(array, 0));
    const auto cols = static_cast<std::size_t>(PyArray_DIM(array, 1));
    const npy_intp row_stride = PyArray_STRIDE(array, 0);
    const npy_intp col_stride = PyArray_STRIDE(array, 1);
    const bool adjacent = cols < 2 || col_stride == static_cast<npy_intp>(sizeof(double));
    Matrix matrix(rows, std::vector<double>(cols));
    for (std::size_t i = 0; i < rows; ++i) {
        const char* row = PyArray_BYTES(array) + static_cast<npy_intp>(i) * row_stride;
        if (adjacent) {
            copy_doubles(matrix[i].data(), row, cols);
            continue;
        }
        for (std::size_t j = 0; j < cols; ++j)
            copy_doubles(&matrix[i][j], row + static_cast<npy_intp>(j) * col_stride, 1);
    }
    return matrix;
}

// Iterates a non-str sequence, calling visit(item) for each item until it
// returns false. False when `object` is not such a sequence, iteration
// fails, or visit refused an item; a Python error may then be pending.
template <class Reserve, class Visit>
bool for_each_item(PyObject* object, Reserve&& reserve, Visit&& visit) {
    if (PyType_GetFlags(Py_TYPE(object)) & Py_TPFLAGS_UNICODE_SUBCLASS) return false;
    if (!PySequence_Check(object)) return false;
    Py_ssize_t size = PySequence_Size(object);
    if (size < 0) {
        PyErr_Clear();
        size = 0;
    }
    reserve(static_cast<std::size_t>(size));
    const PyRef iterator = PyRef::steal(PyObject_GetIter(object));
    if (!iterator) return false;
    while (const PyRef item = PyRef::steal(PyIter_Next(iterator.get())))
        if (!visit(item.get())) return false;
    return !PyErr_Occurred();
}

// The numbers of a non-str sequence, each read with PyFloat_AsDouble.
std::optional<Vector> number_sequence(PyObject* object) {
    Vector values;
    const bool ok = for_each_item(
        object, [&](std::size_t size) { values.reserve(size); },
        [&](PyObject* item) {
            const double value = PyFloat_AsDouble(item);
            if (value == -1.0 && PyErr_Occurred()) return false;
            values.push_back(value);
            return true;
        });
    if (!ok) return std::nullopt;
    return values;
}

// A new complex128 array of the given shape holding `values`, absent ones as NaN+NaN*j.
PyRef new_complex_array(std::span<const Complex> values, int ndim, npy_intp* dims) {
    require(load_numpy_api());
    PyRef array = require(PyRef::steal(PyArray_SimpleNew(ndim, dims, NPY_CDOUBLE)));
    auto* out = reinterpret_cast<Complex*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
    for (std::size_t i = 0; i < values.size(); ++i)
        out[i] = std::isnan(values[i].re) || std::isnan(values[i].im) ? kAbsent : values[i];
    return array;
}

std::optional<Matrix> row_sequence(PyObject* object) {
    Matrix rows;
    const bool ok = for_each_item(
        object, [&](std::size_t size) { rows.reserve(size); },
        [&](PyObject* item) {
            std::optional<Vector> row = number_sequence(item);
            if (!row) return false;
            rows.push_back(std::move(*row));
            return true;
        });
    if (!ok) return std::nullopt;
    return rows;
}

// An object that is neither an array nor a list or tuple but that NumPy
// converts (a pandas DataFrame or Series, anything with __array__ or an
// array interface), as the array NumPy makes of it; null for anything else.
// A failed conversion counts as not convertible.
PyRef as_array(PyObject* object) {
    if (PyList_Check(object) || PyTuple_Check(object) || !numpy_loaded() || PyArray_Check(object)) return {};
    if (!PyObject_HasAttrString(object, "__array__") && !PyObject_HasAttrString(object, "__array_interface__") &&
        !PyObject_HasAttrString(object, "__array_struct__"))
        return {};
    PyRef array = PyRef::steal(PyArray_FromAny(object, nullptr, 0, 0, 0, nullptr));
    if (!array) PyErr_Clear();
    return array;
}

}  // namespace

Vector convert_to_vec(PyObject* object) {
    if (const PyRef array = as_array(object)) return convert_to_vec(array.get());
    if (PyArrayObject* array = float64_array(object, 1)) return array_vector(array);
    std::optional<Vector> values = number_sequence(object);
    if (!values) raise(PyExc_ValueError, kNotVector);
    return std::move(*values);
}

Matrix convert_to_matrix(PyObject* object) {
    if (const PyRef array = as_array(object)) return convert_to_matrix(array.get());
    if (PyArrayObject* array = float64_array(object, 2)) return array_matrix(array);
    std::optional<Matrix> rows = row_sequence(object);
    if (!rows) raise(PyExc_ValueError, kNotMatrix);
    return std::move(*rows);
}

PyRef complex_array(std::span<const Complex> values) {
    npy_intp dims[1] = {static_cast<npy_intp>(values.size())};
    return new_complex_array(values, 1, dims);
}

}  // namespace kiv::python
