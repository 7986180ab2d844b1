// guarded: the one boundary where C++ exceptions become Python errors. Every
// method, getter and the module initialisation run their body inside it.
//
//   PyErrAlreadySet       -> the Python error already set passes through
//   SearchError           -> map_error's exception (KivComplexityError, ...)
//   SearchCancelled       -> the pending signal exception (KeyboardInterrupt),
//                            set by the signal check that stopped the search
//   std::bad_alloc        -> MemoryError
//   InvariantViolation and anything else
//                         -> KivInternalError, naming what went wrong
//
// Call with the interpreter lock held.
#pragma once

#include <Python.h>

#include <type_traits>

#include "bindings/shared/py_ref.hpp"

namespace kiv::python {

// Sets the Python error for the exception being handled. Call only inside a
// catch block.
void set_error_from_current_exception() noexcept;

// body() (a PyRef body's released pointer) or, if it throws, the C API
// failure value (null pointer or -1) with the Python error set.
template <class Body>
auto guarded(Body&& body) noexcept {
    if constexpr (std::is_same_v<decltype(body()), PyRef>) {
        return guarded([&] { return body().release(); });
    } else {
        using Result = decltype(body());
        static_assert(std::is_pointer_v<Result> || std::is_same_v<Result, int>);
        try {
            return body();
        } catch (...) {
            set_error_from_current_exception();
        }
        if constexpr (std::is_pointer_v<Result>)
            return Result{nullptr};
        else
            return -1;
    }
}

}  // namespace kiv::python
