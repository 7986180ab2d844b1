// PyRef: an owned reference to a Python object, released on destruction.
//
// Rules for the binding code:
//   - PyRef::steal(p) takes over a new reference (the result of a call that
//     returns one); PyRef::borrow(p) adds a reference to a borrowed pointer.
//   - A function returning a new reference returns a PyRef; a borrowed
//     argument is a plain PyObject*.
//   - release() hands the reference back (to return it to the interpreter);
//     moving from a PyRef leaves it null. Nothing calls Py_DECREF by hand.
// A PyRef must be destroyed with the interpreter lock held, like any
// reference count change.
#pragma once

#include <Python.h>

#include <utility>

namespace kiv::python {

class PyRef {
public:
    PyRef() = default;
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    // A held reference is never replaced, only released or destroyed.
    PyRef& operator=(PyRef&&) = delete;
    ~PyRef() { Py_XDECREF(object_); }

    // Owns `object`, a new reference or null.
    static PyRef steal(PyObject* object) { return PyRef(object); }
    // Owns a new reference to `object`, a borrowed pointer or null.
    static PyRef borrow(PyObject* object) {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyObject* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

    // Gives up ownership: the caller now owns the reference.
    PyObject* release() { return std::exchange(object_, nullptr); }

private:
    explicit PyRef(PyObject* object) : object_(object) {}

    PyObject* object_ = nullptr;
};

}  // namespace kiv::python
