// ReleasedLock: the interpreter lock let go while the engine works, so that
// the process's other Python threads (a notebook's widgets, a server's other
// requests, a progress thread) run meanwhile. Code that must touch Python
// before the lock is back, such as a search's hooks on the calling thread,
// takes it for its own length with with_lock().
//
// Made and used on one thread, which holds the lock when it makes the object
// and holds it again once the object is gone.
#pragma once

#include <Python.h>

namespace kiv::python {

class ReleasedLock {
public:
    ReleasedLock() : state_(PyEval_SaveThread()) {}
    ~ReleasedLock() { PyEval_RestoreThread(state_); }
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;

    // body() run with the lock held; the lock is let go again however it returns.
    template <class Body>
    auto with_lock(Body&& body) -> decltype(body()) {
        PyEval_RestoreThread(state_);
        const Resave resave{state_};
        return body();
    }

private:
    struct Resave {
        PyThreadState*& state;
        ~Resave() { state = PyEval_SaveThread(); }
    };

    PyThreadState* state_;
};

// step() run without the interpreter lock; it must not touch Python.
template <class Step>
auto unlocked(Step&& step) -> decltype(step()) {
    const ReleasedLock released;
    return step();
}

}  // namespace kiv::python
