#pragma once

#include <Python.h>

namespace vesk::python {

// Lets other threads run Python while this one works on plain C++ data: the
// interpreter lock is released on construction and taken back on
// destruction, also when an exception leaves the scope, so that whatever
// handles it holds the lock again. Nothing inside may touch a Python object.
class ReleasedGil {
public:
    ReleasedGil() noexcept : state_(PyEval_SaveThread()) {}
    ReleasedGil(const ReleasedGil&) = delete;
    ReleasedGil& operator=(const ReleasedGil&) = delete;
    ~ReleasedGil() { PyEval_RestoreThread(state_); }

private:
    PyThreadState* state_;
};

}  // namespace vesk::python
